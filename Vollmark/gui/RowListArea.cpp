#include "gui/RowListArea.h"

#include "gui/DrawTools.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace {

// Room for the scroll bar's edge at the right of each row.
constexpr int kRowRightMargin = 5;

}  // namespace

CRowListArea::CRowListArea(int rowHeight, QWidget* parent) : QAbstractScrollArea(parent), rowHeight_(rowHeight)
{
    setFrameShape(QFrame::NoFrame);
    SetWhiteBackground(*viewport());
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
}

int CRowListArea::GetScrollPosition() const { return verticalScrollBar()->value(); }

int CRowListArea::PageRows() const { return std::max(1, viewport()->height() / rowHeight_); }

int CRowListArea::HitTest(int y) const
{
    if (y < 0)
        return -1;
    const int row = y / rowHeight_;
    return GetScrollPosition() + row < RowCount() ? row : -1;
}

QRect CRowListArea::RowRect(int row) const
{
    const int clientWidth = viewport()->width();
    const int width = clientWidth >= kMinRowWidth ? clientWidth - kRowRightMargin : kMinRowWidth;
    return QRect(0, row * rowHeight_, width, rowHeight_);
}

void CRowListArea::UpdateScrollBar()
{
    const int rows = RowCount();
    const int page = PageRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(page);
    bar->setRange(0, std::max(0, rows - page));
    setVerticalScrollBarPolicy(page < rows ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void CRowListArea::Refresh()
{
    UpdateScrollBar();
    viewport()->update();
}

void CRowListArea::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBar();
}

void CRowListArea::scrollContentsBy(int, int) { viewport()->update(); }

void CRowListArea::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int rows = RowCount();
    const int visible = viewport()->height() / rowHeight_ + 1;
    for (int row = 0; row < visible && GetScrollPosition() + row < rows; ++row)
        DrawRow(painter, row, GetScrollPosition() + row);
}

void CRowListArea::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    // One row per turn of the wheel, and only when the rows do not all fit.
    if (PageRows() < RowCount() && delta != 0)
        verticalScrollBar()->setValue(GetScrollPosition() + (delta < 0 ? 1 : -1));
    event->accept();
}

void CRowListArea::keyPressEvent(QKeyEvent* event)
{
    // The keys move the list as its scroll bar would.
    const std::pair<int, QAbstractSlider::SliderAction> keys[] = {
        {Qt::Key_Up, QAbstractSlider::SliderSingleStepSub},  {Qt::Key_Down, QAbstractSlider::SliderSingleStepAdd},
        {Qt::Key_PageUp, QAbstractSlider::SliderPageStepSub}, {Qt::Key_PageDown, QAbstractSlider::SliderPageStepAdd},
        {Qt::Key_Home, QAbstractSlider::SliderToMinimum},     {Qt::Key_End, QAbstractSlider::SliderToMaximum},
    };
    for (const auto& [key, action] : keys) {
        if (event->key() == key) {
            verticalScrollBar()->triggerAction(action);
            event->accept();
            return;
        }
    }
    QAbstractScrollArea::keyPressEvent(event);
}
