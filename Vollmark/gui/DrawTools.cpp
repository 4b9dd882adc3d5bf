#include "gui/DrawTools.h"

#include "gui/QtText.h"
#include "gui/UiFont.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace {

constexpr int kTextPx = 12;
constexpr int kLargeTextPx = 24;

QPen ThinPen(QRgb rgb)
{
    // Width 0 draws one device pixel wide whatever the painter's transform, as lines
    // laid out in pixels expect.
    QPen pen{QColor(rgb)};
    pen.setWidth(0);
    return pen;
}

}  // namespace

CDrawTools::CDrawTools()
    : white(Qt::white),
      bluePen(ThinPen(kBlue)),
      grayPen(ThinPen(kGray)),
      darkPen(ThinPen(kDark)),
      lightPen(ThinPen(kLight)),
      redPen(ThinPen(kRed)),
      boldFont(UiFont(kTextPx, true)),
      normalFont(UiFont(kTextPx)),
      largeFont(UiFont(kLargeTextPx))
{
}

void SetWhiteBackground(QWidget& widget)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void DrawTextAt(QPainter& painter, QPoint at, int right, const std::string& text)
{
    const QRect line(at, QPoint(right, at.y() + painter.fontMetrics().height()));
    painter.drawText(line, Qt::AlignLeft | Qt::AlignTop, ToQString(text));
}
