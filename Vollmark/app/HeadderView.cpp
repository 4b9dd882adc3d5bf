#include "app/HeadderView.h"

#include "app/ControllerApp.h"

#include <QPainter>

namespace {

constexpr QPoint kTitleAt{2, 8};
constexpr QPoint kDescriptionAt{2, 40};

}  // namespace

CHeadderView::CHeadderView(CControllerApp& app, QWidget* parent) : QWidget(parent), app_(app)
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
    const CDrawTools& tools = app_.GetDrawTools();
    const auto draw = [&](QPoint at, const QFont& font, QRgb colour, const std::string& text) {
        painter.setFont(font);
        painter.setPen(QColor(colour));
        DrawTextAt(painter, at, width() - 1, text);
    };
    draw(kTitleAt, tools.largeFont, CDrawTools::kBlue, title_);
    draw(kDescriptionAt, tools.normalFont, CDrawTools::kDark, description_);
    // An etched line along the foot.
    const int right = width();
    const int bottom = height();
    painter.setPen(tools.grayPen);
    painter.drawLine(0, bottom - 6, right - 5, bottom - 6);
    painter.setPen(tools.lightPen);
    painter.drawLine(0, bottom - 5, right - 5, bottom - 5);
}
