// The icon button of the views: a click is a press and a release over it, and a press that
// wanders off first is no click.

#include "controls/TabButton.h"

#include "app/ControllerApp.h"
#include "gui/Resources.h"
#include "Screenshot.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(TabButtonTest, IconButtonClicksOnlyWhenReleasedOverIt)
{
    CControllerApp app;
    QWidget parent;
    parent.resize(CIconButton::kWidth * 2, CIconButton::kHeight);
    CIconButton button(app, &parent, "新規", kIconNew, 0, 0, 256, true);
    SaveScreenshot(parent, "icon-button");
    QSignalSpy clicks(&button, &CIconButton::clicked);

    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.takeFirst().at(0).toInt(), 256);

    QTest::mousePress(&button, Qt::LeftButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QTest::mouseRelease(&button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(button.IsHovered());
}

}  // namespace
