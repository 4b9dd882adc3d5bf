#include "app/HeadderView.h"

#include "gui/DrawTools.h"

#include <QPainter>

namespace {

constexpr QPoint kTitleAt{2, 8};
constexpr QPoint kDescriptionAt{2, 40};

}  // namespace

CHeadderView::CHeadderView(const CDrawTools& tools, QWidget* parent) : QWidget(parent), tools_(tools)
{
    SetWhiteBackground(*this);
}

void CHeadderView::SetText(const std::string& title, const std::string& description)
{
    title_ = title;
    description_ = description;
    update();
}

void CHeadderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const auto draw = [&](QPoint at, const QFont& font, QRgb colour, const std::string& text) {
        painter.setFont(font);
        painter.setPen(QColor(colour));
        DrawTextAt(painter, at, width() - 1, text);
    };
    draw(kTitleAt, tools_.largeFont, CDrawTools::kBlue, title_);
    draw(kDescriptionAt, tools_.normalFont, CDrawTools::kDark, description_);
    // An etched line along the foot.
    const int right = width();
    const int bottom = height();
    painter.setPen(tools_.grayPen);
    painter.drawLine(0, bottom - 6, right - 5, bottom - 6);
    painter.setPen(tools_.lightPen);
    painter.drawLine(0, bottom - 5, right - 5, bottom - 5);
}
