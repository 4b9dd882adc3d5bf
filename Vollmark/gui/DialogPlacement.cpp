#include "gui/DialogPlacement.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>

namespace gui {

namespace {

// The larger of each side.
QMargins Widest(const QMargins& a, const QMargins& b)
{
    return QMargins(std::max(a.left(), b.left()), std::max(a.top(), b.top()), std::max(a.right(), b.right()),
                    std::max(a.bottom(), b.bottom()));
}

// The frame `window` will get: its own once known, else the widest of the windows already
// shown, which the same window manager framed.
QMargins ExpectedFrame(const QWindow& window)
{
    QMargins frame = window.frameMargins();
    for (const QWindow* shown : QGuiApplication::topLevelWindows()) {
        if (shown != &window && shown->isVisible())
            frame = Widest(frame, shown->frameMargins());
    }
    return frame;
}

}  // namespace

QRect FitIntoArea(const QRect& client, const QMargins& frame, const QRect& area, const QSize& minimum)
{
    // What the client may take of the area once its frame is around it.
    const QRect room = area.marginsRemoved(frame);
    const QSize size = client.size().boundedTo(room.size()).expandedTo(minimum);
    // The far edges first, so that a window too big for the room keeps its top-left inside.
    const int x = std::max(room.left(), std::min(client.left(), room.left() + room.width() - size.width()));
    const int y = std::max(room.top(), std::min(client.top(), room.top() + room.height() - size.height()));
    return QRect(QPoint(x, y), size);
}

bool FitIntoScreen(QWidget& widget, const QMargins& frame, const QScreen& screen)
{
    const QRect fitted = FitIntoArea(widget.geometry(), frame, screen.availableGeometry(),
                                     widget.minimumSize().expandedTo(widget.minimumSizeHint()));
    if (fitted == widget.geometry())
        return false;
    widget.setGeometry(fitted);
    return true;
}

CDialogPlacement::CDialogPlacement() { qApp->installEventFilter(this); }

CDialogPlacement::~CDialogPlacement() { qApp->removeEventFilter(this); }

bool CDialogPlacement::eventFilter(QObject* watched, QEvent* event)
{
    // The window's own show comes after the dialog's (where Qt places it) and before the
    // window is mapped, so the fitted place is where it first appears.
    if (event->type() != QEvent::Show || event->spontaneous())
        return false;
    auto* window = qobject_cast<QWindow*>(watched);
    if (!window || window->parent() || !window->screen())
        return false;
    auto* dialog = qobject_cast<QDialog*>(QWidget::find(window->winId()));
    if (!dialog)
        return false;
    FitIntoScreen(*dialog, ExpectedFrame(*window), *window->screen());
    return false;
}

}  // namespace gui
