#include "controls/ClickedStatic.h"

#include <QMouseEvent>

CClickedStatic::CClickedStatic(QWidget* parent) : QLabel(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void CClickedStatic::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
