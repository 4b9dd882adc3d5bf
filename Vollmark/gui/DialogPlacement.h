#pragma once
// Every dialog opens inside the available area of its screen. Qt centres a dialog over its
// parent and keeps it on the screen, but it knows a window manager's frame only once the
// manager has framed the window: a dialog nearly as tall as the screen opens with its title
// bar above the top edge, where it cannot be dragged. While installed, each dialog is
// fitted into the area just before it is mapped, with the frame the windows already shown
// have.

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace gui {

// The client rectangle of a window whose frame adds `frame` around it, moved (and made
// smaller, never below `minimum`) so that the framed window lies inside `area`. Where even
// `minimum` does not fit, the frame's top-left corner is kept inside, so the title bar can
// be reached. A window already inside stays as it is.
QRect FitIntoArea(const QRect& client, const QMargins& frame, const QRect& area, const QSize& minimum);

// Fits the top-level `widget`, framed by `frame`, into the available area of `screen`, no
// smaller than its minimum size and hint; true when it had to move or shrink.
bool FitIntoScreen(QWidget& widget, const QMargins& frame, const QScreen& screen);

// Fits the application's dialogs for as long as it lives; one is enough.
class CDialogPlacement : public QObject {
    Q_OBJECT
public:
    CDialogPlacement();
    ~CDialogPlacement() override;
    CDialogPlacement(const CDialogPlacement&) = delete;
    CDialogPlacement& operator=(const CDialogPlacement&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace gui
