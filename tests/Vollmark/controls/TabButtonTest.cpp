// The icon button of the views: a click is a press and a release over it, and a press that
// wanders off first is no click.

#include "controls/TabButton.h"

#include "gui/DrawTools.h"
#include "gui/Resources.h"
#include "Screenshot.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(TabButtonTest, IconButtonClicksOnlyWhenReleasedOverIt)
{
    const CDrawTools tools;
    QWidget parent;
    parent.resize(CIconButton::kWidth * 2, CIconButton::kHeight);
    CIconButton button(tools, &parent, "新規", kIconNew, 0, 0, 256, true);
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

TEST(TabButtonTest, EveryClickAsksForTheClickSoundBeforeItsCommand)
{
    const CDrawTools tools;
    QWidget parent;
    parent.resize(CTabButton::kWidth, CTabButton::kHeight + CIconButton::kHeight);
    CTabButton tab(tools, &parent, "サーバ情報", kIconServerInfo, 0, 0, 128);
    CIconButton icon(tools, &parent, "新規", kIconNew, 0, CTabButton::kHeight, 256, true);
    const struct {
        const char* description;
        CHoverButton* button;
        bool wanderOff;  // the press leaves the button before its release
        bool sounds;
    } cases[] = {
        {"section button", &tab, false, true},
        {"icon button", &icon, false, true},
        {"icon button left before the release", &icon, true, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> heard;
        const auto sound = QObject::connect(c.button, &CHoverButton::clickSound, [&] { heard.push_back("sound"); });
        const auto command = QObject::connect(c.button, &CHoverButton::clicked, [&] { heard.push_back("command"); });
        QTest::mousePress(c.button, Qt::LeftButton);
        if (c.wanderOff) {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(c.button, &leave);
        }
        QTest::mouseRelease(c.button, Qt::LeftButton);
        QObject::disconnect(sound);
        QObject::disconnect(command);
        const std::vector<std::string> expected =
            c.sounds ? std::vector<std::string>{"sound", "command"} : std::vector<std::string>{};
        EXPECT_EQ(heard, expected) << c.description;
    }
}

}  // namespace
