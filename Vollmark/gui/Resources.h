#pragma once
// The controller's pictures, embedded as SVG with the Qt resource system. Windows name a
// picture by number, so the numbers below are the only way in; the toolbar pictures have no
// number and are asked for by name.

#include <QIcon>
#include <QPixmap>
#include <QSize>

#include <vector>

// Bitmaps: pictures drawn at one fixed size rather than as icons.
constexpr int kBitmapSectionStrip = 130;   // foot of the left section strip, 150x80
constexpr int kBitmapAboutServer = 170;    // the about box's pictures, 96x64
constexpr int kBitmapAboutController = 171;

// Icons, drawn at 16 and 32 pixels.
constexpr int kIconProgram = 128;          // the window's and the about box's
constexpr int kIconSectionArrow = 131;     // marks the selected section button
constexpr int kIconCgi = 132;              // CGI and SSI settings, CGI interpreter rows
constexpr int kIconDirectory = 133;        // directory settings and directory rows
constexpr int kIconServerSettings = 134;
constexpr int kIconEdit = kIconServerSettings;
constexpr int kIconServerInfo = 137;
constexpr int kIconConnectionInfo = 139;
constexpr int kIconDelete = 140;
constexpr int kIconNew = 141;
constexpr int kIconUsers = 145;            // user settings
constexpr int kIconUser = 148;             // one row of a user list
constexpr int kIconBandwidth = 149;
constexpr int kIconHtmlPage = 150;         // display customisation, index and SSI file names
constexpr int kIconMimeTypes = 151;
constexpr int kIconFileIcons = 152;
constexpr int kIconRequestDone = 160;
constexpr int kIconRequestActive = 162;
constexpr int kIconTrayIdle = 163;         // also drawn at 22 pixels
constexpr int kIconTrayActive = 164;       // also drawn at 22 pixels
constexpr int kIconHostAccept = 175;
constexpr int kIconHostDeny = 200;

enum class ToolbarPicture { Restart, Copy, About };

// Every icon number above, in ascending order.
const std::vector<int>& IconResourceIds();
// Every bitmap number above, in ascending order.
const std::vector<int>& BitmapResourceIds();

// A null icon for a number that names no icon (bitmap numbers included).
QIcon LoadIconResource(int id);
// The bitmap rendered at exactly `size` (the picture's proportions are the caller's
// business); a null pixmap for a number that names no bitmap or an empty size.
QPixmap LoadBitmapResource(int id, QSize size);
QIcon LoadToolbarIcon(ToolbarPicture picture);
