#pragma once
// Working a modal window from a test: the window runs its own event loop inside exec(), so
// the test's actions are queued before the call that opens it and run once it is up. The
// window is closed afterwards whatever the actions did, so a failed check never leaves the
// test waiting. Header-only: only the GUI test program includes it.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

// How often and how long to look for the window: three seconds in all, far more than
// exec() needs to show one.
constexpr int kModalLookMs = 10;
constexpr int kModalLooks = 300;

// Runs `act` on the next modal window of type Window once it is up, then rejects it if it is
// still open.
template <class Window = QDialog>
void WhenModalOpens(std::function<void(Window&)> act, int looksLeft = kModalLooks)
{
    QTimer::singleShot(kModalLookMs, [act, looksLeft] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (!window) {
            if (looksLeft > 0)
                WhenModalOpens<Window>(act, looksLeft - 1);
            else
                ADD_FAILURE() << "no modal window opened";
            return;
        }
        act(*window);
        if (window->isVisible())
            window->reject();
    });
}
