#pragma once
// The pens, fonts and colours that every custom-drawn window of the controller shares, so
// the windows look alike. Made once by the application.

#include <QColor>
#include <QFont>
#include <QPen>

#include <string>

class QPainter;
class QWidget;

struct CDrawTools {
    CDrawTools();

    // Labels, titles and hovered items.
    static constexpr QRgb kBlue = 0x0066AA;
    // Values and descriptions.
    static constexpr QRgb kDark = 0x003366;
    // Inactive items.
    static constexpr QRgb kGray = 0x808080;
    // Etched lines' light half.
    static constexpr QRgb kLight = 0xD4D0C8;
    // Errors and the restart notice.
    static constexpr QRgb kRed = 0xFF0000;

    QColor white;
    QPen bluePen;
    QPen grayPen;
    QPen darkPen;
    QPen lightPen;
    QPen redPen;
    QFont boldFont;    // 12 px, bold
    QFont normalFont;  // 12 px
    QFont largeFont;   // 24 px
};

// Gives a custom-drawn window the white background the drawings are laid out on.
void SetWhiteBackground(QWidget& widget);

// Draws CP932 `text` with its top-left corner at `at`, in the painter's font and pen, clipped
// at x `right`: where a window places a text by the corner of its first line.
void DrawTextAt(QPainter& painter, QPoint at, int right, const std::string& text);
