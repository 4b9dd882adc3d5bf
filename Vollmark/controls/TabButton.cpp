#include "controls/TabButton.h"

#include "gui/DrawTools.h"
#include "gui/QtText.h"
#include "gui/Resources.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

// Where the parts of a section button go, in its own pixels.
constexpr QPoint kTabArrowAt{172, 18};
constexpr int kArrowPx = 16;
constexpr QPoint kTabIconAt{10, 9};
constexpr QPoint kIconButtonIconAt{10, 8};
constexpr QPoint kTextAt{50, 19};
constexpr int kIconPx = 32;

}  // namespace

CHoverButton::CHoverButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId,
                           QRect geometry, int commandId)
    : QWidget(parent), tools_(tools), text_(text), iconId_(iconId), commandId_(commandId)
{
    setGeometry(geometry);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(ToQString(text));
}

void CHoverButton::SetHover(bool hover)
{
    hover_ = hover;
    update();
}

void CHoverButton::enterEvent(QEnterEvent*) { SetHover(true); }

void CHoverButton::leaveEvent(QEvent*) { SetHover(false); }

void CHoverButton::DrawFace(QPainter& painter, QPoint iconAt)
{
    painter.setFont(tools_.boldFont);
    painter.setPen(QColor(hover_ ? CDrawTools::kBlue : CDrawTools::kGray));
    DrawTextAt(painter, kTextAt, width() - 1, text_);
    LoadIconResource(iconId_).paint(&painter, QRect(iconAt, QSize(kIconPx, kIconPx)));
}

CTabButton::CTabButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId, int x, int y,
                       int commandId)
    : CHoverButton(tools, parent, text, iconId, QRect(x, y, kWidth, kHeight), commandId)
{
}

void CTabButton::SetSelected(bool marker)
{
    selected_ = marker;
    SetHover(marker);
}

void CTabButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect arrow(kTabArrowAt, QSize(kArrowPx, kArrowPx));
    if (selected_)
        LoadIconResource(kIconSectionArrow).paint(&painter, arrow);
    else
        painter.fillRect(arrow, tools_.white);
    DrawFace(painter, kTabIconAt);
    painter.setPen(tools_.grayPen);
    painter.drawLine(5, height() - 1, width() - 7, height() - 1);
}

void CTabButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    emit clickSound();
    setFocus();
    emit clicked(GetCommandId());
}

CIconButton::CIconButton(const CDrawTools& tools, QWidget* parent, const std::string& text, int iconId, int x, int y,
                         int commandId, bool leftBorder)
    : CHoverButton(tools, parent, text, iconId, QRect(x, y, kWidth, kHeight), commandId), leftBorder_(leftBorder)
{
}

void CIconButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawFace(painter, kIconButtonIconAt);
    painter.setPen(tools_.grayPen);
    painter.drawLine(width() - 1, 5, width() - 1, height() - 6);
    if (leftBorder_)
        painter.drawLine(0, 5, 0, height() - 6);
}

void CIconButton::leaveEvent(QEvent* event)
{
    // A press that leaves the button before its release does nothing.
    pressed_ = false;
    CHoverButton::leaveEvent(event);
}

void CIconButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setFocus();
    pressed_ = true;
}

void CIconButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool click = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        emit clickSound();
        update();
        emit clicked(GetCommandId());
    }
}
