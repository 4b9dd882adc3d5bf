// The main window with the real server behind it: menus, accelerators, toolbar and bars,
// the tray icon and its menu, placement in the profile, the close question, and the content
// frame's sections, header, restart notice and copy command.

#include "app/MainFrame.h"

#include "app/ControllerApp.h"
#include "app/HeadderView.h"
#include "app/SecndFrame.h"
#include "app/TabBar.h"
#include "controls/TabButton.h"
#include "core/Profile.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "views/MainViewBase.h"
#include "ModalDriver.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "FreePort.h"
#include "TextCodec.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolBar>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Several ticks of the window's 500 ms poll.
constexpr int kPollLimitMs = 5000;

std::string Text(const QString& text) { return FromQString(text); }

class MainFrameTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_.InitInstance());
        frame_ = app_.GetMainWnd();
        ASSERT_NE(frame_, nullptr);
    }
    void TearDown() override { app_.ExitInstance(); }

    QAction* Action(int id) const { return frame_->GetAction(id); }
    CSecndFrame* Content() const { return frame_->GetContentFrame(); }
    // Paints everything once, so views have asked the server, then updates the commands.
    void Settle()
    {
        frame_->grab();
        frame_->GetRouter().UpdateActions();
    }
    void ClickSection(int index)
    {
        QTest::mouseClick(Content()->GetTabBar()->GetButton(index), Qt::LeftButton);
        QApplication::processEvents();  // the section changes once the click has ended
    }
    int ProfileInt(const char* entry, int fallback = -99) const
    {
        return CProfile().GetProfileInt(CMainFrame::kPlacementSection, entry, fallback);
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
    CMainFrame* frame_ = nullptr;
};

TEST_F(MainFrameTest, MenusHoldTheirCommandsAndCommandsWithoutAHandlerAreDisabled)
{
    std::vector<std::string> titles;
    for (QAction* menu : frame_->menuBar()->actions())
        titles.push_back(Text(menu->text()));
    EXPECT_EQ(titles, (std::vector<std::string>{"ファイル(&F)", "編集(&E)", "表示(&V)", "ヘルプ(&H)"}));
    Settle();
    const struct {
        int id;
        const char* text;
        bool enabled;
    } commands[] = {
        {32768, "サーバ再起動\tCtrl+R", true},
        {57665, "アプリケーションの終了(&X)", true},
        {57643, "元に戻す\tCtrl+Z(&U)", false},
        {57635, "切り取り\tCtrl+X(&T)", false},
        {57634, "コピー\tCtrl+C(&C)", false},
        {57637, "貼り付け\tCtrl+V(&P)", false},
        {32769, "表示情報のコピー\tCtrl+I", true},  // the information view has a running server
        {59392, "ツール バー(&T)", true},
        {59393, "ステータス バー(&S)", true},
        {57664, "バージョン情報 Vollmark(&A)...", true},
        {57680, "", false},
        {57681, "", false},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(Action(c.id), nullptr);
        EXPECT_EQ(Text(Action(c.id)->text()), c.text);
        EXPECT_EQ(Action(c.id)->isEnabled(), c.enabled);
    }
    EXPECT_EQ(Action(57634)->shortcuts(), (QList<QKeySequence>{Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}));
    EXPECT_EQ(Action(57680)->shortcut(), QKeySequence(Qt::Key_F6));
    EXPECT_EQ(Text(frame_->windowTitle()), "Tarnwick - Vollmark");
    EXPECT_FALSE(frame_->windowIcon().isNull());
}

TEST_F(MainFrameTest, ToolbarHasThreeLabelledButtonsAndTheBarsToggle)
{
    auto* toolBar = frame_->findChild<QToolBar*>();
    ASSERT_NE(toolBar, nullptr);
    std::vector<std::string> labels;
    for (QAction* action : toolBar->actions()) {
        if (!action->isSeparator())
            labels.push_back(Text(action->iconText()));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"サーバ再起動", "情報のコピー", "バージョン情報"}));
    EXPECT_EQ(Text(Action(32768)->statusTip()), "サーバを再起動します");

    Action(CMainFrame::kIdViewToolbar)->trigger();
    Action(CMainFrame::kIdViewStatusBar)->trigger();
    EXPECT_FALSE(toolBar->isVisible());
    EXPECT_FALSE(frame_->statusBar()->isVisible());
    Action(CMainFrame::kIdViewToolbar)->trigger();
    EXPECT_TRUE(toolBar->isVisible());
    EXPECT_TRUE(Action(CMainFrame::kIdViewToolbar)->isChecked());
}

TEST_F(MainFrameTest, RestartNoticeAppearsAfterASaveAndGoesWithCtrlR)
{
    const auto noticeShown = [this] {
        const QImage strip = Content()->GetTabBar()->grab().toImage();
        for (int y = strip.height() - 100; y < strip.height() - 60; ++y) {
            for (int x = 0; x < strip.width(); ++x) {
                if (strip.pixelColor(x, y) == QColor(CDrawTools::kRed))
                    return true;
            }
        }
        return false;
    };
    EXPECT_FALSE(noticeShown());
    ASSERT_TRUE(app_.SaveSettings());
    EXPECT_TRUE(noticeShown());
    SaveScreenshot(*frame_, "main-frame-restart-notice");

    frame_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame_));
    Settle();
    QTest::keyClick(frame_, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(app_.IsSettingsChanged(), 0);
    EXPECT_FALSE(noticeShown());
    EXPECT_EQ(app_.GetClient().IsRunning(), 1);
}

TEST_F(MainFrameTest, FailedRestartFromMenuToolbarOrTraySaysWhy)
{
    // SSL on with a key file that is not there: every restart fails.
    app_.GetSetting().SetInt("Basic::EnableSSL", 1);
    app_.GetSetting().SetInt("SSL::Port", sandbox_.SecurePort());
    app_.GetSetting().SetString("SSL::PrivateKey", "%ServerRoot%SSLKey/missing.pem");
    ASSERT_TRUE(app_.SaveSettings());
    const std::string reason = "SSL初期化に失敗しました、暗号化キー、パスワード、証明書のいずれかが異常です";
    auto* toolBar = frame_->findChild<QToolBar*>();
    ASSERT_NE(toolBar, nullptr);
    const struct {
        const char* from;
        std::function<void()> restart;
    } cases[] = {
        {"menu", [&] { Action(CMainFrame::kIdRestartServer)->trigger(); }},
        {"toolbar",
         [&] { QTest::mouseClick(toolBar->widgetForAction(Action(CMainFrame::kIdRestartServer)), Qt::LeftButton); }},
        {"tray", [&] { frame_->GetTrayMenu()->actions().at(2)->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        Settle();
        c.restart();
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
        EXPECT_EQ(prompts.MessageBoxes()[0].text, reason);
        EXPECT_EQ(prompts.MessageBoxes()[0].type, unsigned(gui::kMbOk | gui::kMbIconStop));
        EXPECT_EQ(app_.GetClient().IsRunning(), 0);
        EXPECT_EQ(app_.IsSettingsChanged(), 1);
    }

    // The box a person sees.
    gui::PromptResponder* scripted = gui::SetPromptResponder(nullptr);
    bool shown = false;
    WhenModalOpens<QMessageBox>([&](QMessageBox& box) {
        shown = Text(box.text()) == reason;
        SaveScreenshot(box, "failed-restart-message");
        box.accept();
    });
    Action(CMainFrame::kIdRestartServer)->trigger();
    gui::SetPromptResponder(scripted);
    EXPECT_TRUE(shown);
}

TEST_F(MainFrameTest, SectionsReplaceTheViewAndTheHeader)
{
    CHeadderView* header = Content()->GetHeader();
    EXPECT_EQ(header->GetTitle(), "サーバ情報");
    EXPECT_EQ(header->GetDescription(), CSecndFrame::kFirstDescription);
    EXPECT_TRUE(Content()->GetTabBar()->GetButton(0)->IsSelected());
    SaveScreenshot(*frame_, "main-frame-section-128");

    const char* names[] = {"", "main-frame-section-129", "main-frame-section-130", "main-frame-section-131"};
    for (int index : {1, 2, 3}) {
        ClickSection(index);
        const CSection& section = Sections()[static_cast<size_t>(index)];
        EXPECT_EQ(header->GetTitle(), section.title);
        EXPECT_EQ(header->GetDescription(), section.description);
        for (int other = 0; other < 4; ++other)
            EXPECT_EQ(Content()->GetTabBar()->GetButton(other)->IsSelected(), other == index);
        if (index != 3) {
            // Sections without anything to copy keep the copy command off.
            Settle();
            EXPECT_FALSE(Action(CSecndFrame::kIdCopyViewText)->isEnabled());
        }
        SaveScreenshot(*frame_, names[index]);
    }

    // The shown section chosen again starts a fresh view; the short description now.
    ClickSection(0);
    const CMainViewBase* first = Content()->GetView();
    ClickSection(0);
    EXPECT_NE(Content()->GetView(), first);
    EXPECT_EQ(header->GetDescription(), Sections()[0].description);
}

TEST_F(MainFrameTest, SectionButtonTurnsBlueUnderTheMouseAndKeepsItsArrow)
{
    CTabButton* button = Content()->GetTabBar()->GetButton(1);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(button, &enter);
    EXPECT_TRUE(button->IsHovered());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->IsHovered());

    CTabButton* selected = Content()->GetTabBar()->GetButton(0);
    EXPECT_TRUE(selected->IsHovered());  // a freshly selected button starts blue
    QApplication::sendEvent(selected, &leave);
    EXPECT_FALSE(selected->IsHovered());
    EXPECT_TRUE(selected->IsSelected());
}

TEST_F(MainFrameTest, CopyPutsTheViewsReportOnTheClipboard)
{
    Settle();
    ASSERT_TRUE(Action(CSecndFrame::kIdCopyViewText)->isEnabled());
    QGuiApplication::clipboard()->clear();
    Action(CSecndFrame::kIdCopyViewText)->trigger();
    const std::string copied = Text(QGuiApplication::clipboard()->text());
    // Lines end as this platform ends them.
    EXPECT_EQ(copied.rfind("■サーバ動作状況\n　サーバは正常に作動中です。\n\n", 0), 0u) << platform::Cp932ToUtf8(copied);
    EXPECT_EQ(copied.find('\r'), std::string::npos);
}

TEST_F(MainFrameTest, ToolbarOffersNoContextMenuOfItsOwn)
{
    // The menu a right click on the toolbar or the menu bar opens: none, so no second
    // switch of the toolbar gets out of step with 表示 → ツール バー.
    std::unique_ptr<QMenu> popup(frame_->createPopupMenu());
    EXPECT_EQ(popup, nullptr) << (popup && !popup->actions().isEmpty() ? Text(popup->actions().front()->text()) : "");
}

TEST_F(MainFrameTest, WindowIsNeverSoSmallThatTheNoticeCoversTheSectionButtons)
{
    ASSERT_TRUE(app_.SaveSettings());
    frame_->resize(100, 100);
    QApplication::processEvents();
    CTabBar* tabBar = Content()->GetTabBar();
    const QImage strip = tabBar->grab().toImage();
    SaveScreenshot(*frame_, "main-frame-smallest");
    const int buttonsFoot = tabBar->GetButton(3)->geometry().bottom();
    int red = 0;
    for (int y = 0; y <= buttonsFoot && y < strip.height(); ++y) {
        for (int x = 0; x < strip.width(); ++x)
            red += strip.pixelColor(x, y) == QColor(CDrawTools::kRed) ? 1 : 0;
    }
    EXPECT_EQ(red, 0);
    // The picture at the foot starts below the buttons as well.
    EXPECT_GT(strip.height() - 80, buttonsFoot);
}

TEST_F(MainFrameTest, TrayShowsConnectionsInProgress)
{
    EXPECT_EQ(frame_->GetTrayIconId(), kIconTrayIdle);
    EXPECT_EQ(frame_->GetTrayTip(), "Tarnwick - 0 接続");
    // A client kept alive after its answer: its connection holds a worker.
    const int fd = testsupport::ConnectLoopback(sandbox_.Port());
    ASSERT_GE(fd, 0);
    const char request[] = "GET / HTTP/1.1\r\nHost: tray\r\nConnection: keep-alive\r\n\r\n";
    ASSERT_GT(::send(fd, request, sizeof request - 1, MSG_NOSIGNAL), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->GetTrayIconId() == kIconTrayActive; }, kPollLimitMs));
    EXPECT_EQ(frame_->GetTrayTip(), "Tarnwick - 1 接続");
    ::close(fd);
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame_->GetTrayIconId() == kIconTrayIdle; }, kPollLimitMs));
    EXPECT_EQ(frame_->GetTrayTip(), "Tarnwick - 0 接続");
}

TEST_F(MainFrameTest, TrayMenuOffersRestoreFirstAndCancelDoesNothing)
{
    QMenu* menu = frame_->GetTrayMenu();
    std::vector<std::string> items;
    for (QAction* action : menu->actions())
        items.push_back(action->isSeparator() ? "-" : Text(action->text()));
    EXPECT_EQ(items, (std::vector<std::string>{"元のサイズに戻す", "-", "サーバ再起動", "終了", "-", "キャンセル"}));
    EXPECT_EQ(menu->defaultAction(), menu->actions().front());
    menu->popup(QPoint(0, 0));
    SaveScreenshot(*menu, "tray-menu");
    menu->actions().back()->trigger();
    menu->hide();
    EXPECT_TRUE(frame_->isVisible());
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
}

TEST_F(MainFrameTest, ExitFromTheTrayWaitsForAnOpenDialog)
{
    QDialog dialog(frame_);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
    frame_->GetTrayMenu()->actions().at(3)->trigger();  // 終了
    EXPECT_TRUE(prompts_.MessageBoxes().empty());
    EXPECT_TRUE(frame_->isVisible());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MainFrameTest, ClosingAsksFirstWhenTheServerIsNoService)
{
    prompts_.QueueMessageBoxAnswer(gui::kIdCancel);
    Action(CMainFrame::kIdAppExit)->trigger();
    ASSERT_EQ(prompts_.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts_.MessageBoxes()[0].text, CMainFrame::kCloseQuestion);
    EXPECT_EQ(prompts_.MessageBoxes()[0].caption, "サーバー停止");
    EXPECT_EQ(prompts_.MessageBoxes()[0].type, unsigned(gui::kMbOkCancel | gui::kMbIconQuestion));
    EXPECT_TRUE(frame_->isVisible());

    prompts_.QueueMessageBoxAnswer(gui::kIdOk);
    EXPECT_TRUE(frame_->close());
    EXPECT_FALSE(frame_->isVisible());
}

TEST_F(MainFrameTest, PlacementIsRememberedAndBroughtBackOnScreen)
{
    // The platform window manager may adjust a placement; compare what is kept.
    frame_->setGeometry(120, 90, 640, 480);
    frame_->SavePlacement();
    EXPECT_EQ(ProfileInt("Saved"), 1);
    EXPECT_EQ(ProfileInt("left"), 120);
    EXPECT_EQ(ProfileInt("bottom"), 570);

    CMainFrame again(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
    again.RestorePlacement();
    EXPECT_EQ(again.geometry(), QRect(120, 90, 640, 480));
    EXPECT_TRUE(again.isVisible());
}

// Closes the window as the user does, answering the close question.
void CloseAsked(CMainFrame& frame, ScriptedPrompts& prompts)
{
    prompts.QueueMessageBoxAnswer(gui::kIdOk);
    EXPECT_TRUE(frame.close());
}

// The profile has the window where it was moved to while it is still open: a controller
// that never gets to quit (killed, or its session ended) comes back there.
TEST_F(MainFrameTest, MovedWindowIsSavedWhereItWentAndComesBackThere)
{
    frame_->resize(640, 480);
    QApplication::processEvents();
    const QRect moved(150, 110, 640, 480);
    // As a window manager moves it: the platform window first, then the widget hears.
    frame_->windowHandle()->setPosition(moved.topLeft());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ProfileInt("left") == moved.left() && ProfileInt("top") == moved.top(); },
                                kPollLimitMs))
        << ProfileInt("left") << "," << ProfileInt("top");
    EXPECT_EQ(ProfileInt("right"), moved.right() + 1);
    EXPECT_EQ(ProfileInt("bottom"), moved.bottom() + 1);

    CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
    restarted.RestorePlacement();
    QApplication::processEvents();
    EXPECT_EQ(restarted.geometry(), moved);
}

// A placement whose frame lies outside the screen's available area (the title bar above
// its top, as an earlier version saved it; a screen that has shrunk or gone) comes back
// with the frame and its title bar inside, the normal way and maximised alike.
TEST_F(MainFrameTest, RestoredWindowHasItsFrameAndTitleBarInsideTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GT(frame_->windowHandle()->frameMargins().top(), 0) << "the platform frames its windows";
    frame_->hide();  // the screen pictures show the restored window alone
    const struct {
        const char* name;
        QRect saved;
    } cases[] = {
        {"title-bar-above-the-top", QRect(0, 0, 640, 480)},
        {"below-the-bottom", QRect(area.left() + 40, area.bottom() - 100, 640, 480)},
        {"on-a-screen-that-is-gone", QRect(50000, 300, 640, 480)},
        {"taller-than-the-screen", QRect(10, 10, 500, area.height() + 200)},
    };
    for (const bool zoomed : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (zoomed ? ", maximised" : ""));
            const std::pair<const char*, int> values[] = {
                {"left", c.saved.left()},         {"top", c.saved.top()}, {"right", c.saved.right() + 1},
                {"bottom", c.saved.bottom() + 1}, {"Zoomed", zoomed ? 1 : 0}, {"Saved", 1},
            };
            for (const auto& [entry, value] : values)
                CProfile().WriteProfileInt(CMainFrame::kPlacementSection, entry, value);
            CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
            restarted.RestorePlacement();
            if (zoomed) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return restarted.isMaximized(); }, kPollLimitMs));
                QApplication::processEvents();
                restarted.showNormal();
            }
            QApplication::processEvents();
            const QRect frame = restarted.frameGeometry();
            EXPECT_TRUE(area.contains(frame)) << "frame " << frame.x() << "," << frame.y() << " " << frame.width()
                                              << "x" << frame.height();
            if (!zoomed)
                SaveScreenPicture(std::string("main-frame-placed-") + c.name);
            // What came back is what is kept.
            CloseAsked(restarted, prompts_);
            EXPECT_EQ(ProfileInt("left"), restarted.geometry().left());
            EXPECT_EQ(ProfileInt("top"), restarted.geometry().top());
            EXPECT_EQ(ProfileInt("bottom"), restarted.geometry().bottom() + 1);
        }
    }
}

TEST_F(MainFrameTest, ExitSavesTheStateTheWindowHasWhateverTheEventsSaid)
{
    // Left hidden in the tray at the last exit; this start shows it (offscreen has no
    // tray), and the user closes it as a shown window.
    frame_->SavePlacement();
    CProfile().WriteProfileInt(CMainFrame::kPlacementSection, "Iconic", 1);
    {
        CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
        restarted.RestorePlacement();
        ASSERT_TRUE(restarted.isVisible());
        CloseAsked(restarted, prompts_);
    }
    EXPECT_EQ(ProfileInt("Iconic"), 0);
    EXPECT_EQ(ProfileInt("Zoomed"), 0);

    // Closed while minimised: the next start begins in the tray again.
    {
        CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
        restarted.RestorePlacement();
        restarted.showMinimized();
        QApplication::processEvents();
        CloseAsked(restarted, prompts_);
    }
    EXPECT_EQ(ProfileInt("Iconic"), 1);
}

TEST_F(MainFrameTest, QuittingMaximisedKeepsTheNormalGeometryForTheNextStart)
{
    const QRect normal(120, 90, 640, 480);
    frame_->setGeometry(normal);
    QApplication::processEvents();
    // As a window manager maximises: the platform window first, then the widget hears.
    frame_->windowHandle()->setWindowStates(Qt::WindowMaximized);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame_->isMaximized(); }, kPollLimitMs));
    QApplication::processEvents();
    ASSERT_NE(frame_->geometry(), normal);
    CloseAsked(*frame_, prompts_);
    EXPECT_EQ(ProfileInt("Zoomed"), 1);
    EXPECT_EQ(ProfileInt("left"), 120);
    EXPECT_EQ(ProfileInt("bottom"), 570);

    CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
    restarted.RestorePlacement();
    QApplication::processEvents();
    EXPECT_TRUE(restarted.isMaximized());
    restarted.showNormal();
    QApplication::processEvents();
    EXPECT_EQ(restarted.geometry(), normal);
}

// What the window manager sees of a window: whether it was first shown maximised, and at
// which geometry. It keeps the size to restore to only from a window it saw normal.
class FirstShowWatch : public QObject {
public:
    explicit FirstShowWatch(QWidget& window) { window.installEventFilter(this); }
    bool seen = false;
    bool maximised = false;
    QRect geometry;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !seen) {
            auto* widget = static_cast<QWidget*>(watched);
            seen = true;
            maximised = widget->isMaximized();
            geometry = widget->geometry();
        }
        return false;
    }
};

TEST_F(MainFrameTest, MaximisedWindowIsFirstShownAtItsNormalGeometry)
{
    const QRect normal(120, 90, 640, 480);
    frame_->setGeometry(normal);
    QApplication::processEvents();
    frame_->SavePlacement();
    const auto maximised = [](CMainFrame& frame) {
        return QTest::qWaitFor([&] { return frame.isMaximized(); }, kPollLimitMs);
    };
    const struct {
        const char* what;
        std::function<void(CMainFrame&)> before;  // what happened before the window shows
        std::function<void(CMainFrame&)> show;
    } cases[] = {
        {"the next start", [](CMainFrame&) {}, [](CMainFrame& frame) { frame.RestorePlacement(); }},
        {"from the tray",
         [&](CMainFrame& frame) {
             frame.RestorePlacement();
             ASSERT_TRUE(maximised(frame));
             frame.hide();  // as minimising hides it
         },
         [](CMainFrame& frame) { frame.RestoreFromTray(); }},
    };
    for (const auto& c : cases) {
        // Quit maximised last time.
        CProfile().WriteProfileInt(CMainFrame::kPlacementSection, "Zoomed", 1);
        CMainFrame restarted(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
        c.before(restarted);
        FirstShowWatch watch(restarted);
        c.show(restarted);
        ASSERT_TRUE(maximised(restarted)) << c.what;
        EXPECT_TRUE(watch.seen) << c.what;
        EXPECT_FALSE(watch.maximised) << c.what;
        EXPECT_EQ(watch.geometry, normal) << c.what;
        // Restore gives the normal geometry back.
        restarted.showNormal();
        QApplication::processEvents();
        EXPECT_EQ(restarted.geometry(), normal) << c.what;
    }
}

TEST_F(MainFrameTest, WithoutATrayMinimisingNeverHidesTheWindow)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    frame_->showMinimized();
    QApplication::processEvents();
    EXPECT_EQ(ProfileInt("Iconic"), 1);
    EXPECT_TRUE(frame_->isVisible());

    // Left minimised: the next start shows it normally, since nothing could bring it back.
    CMainFrame again(app_.GetDrawTools(), app_.GetSettings(), app_.GetClient(), app_);
    again.RestorePlacement();
    EXPECT_TRUE(again.isVisible());
    frame_->showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(ProfileInt("Zoomed"), 1);
    EXPECT_EQ(ProfileInt("Iconic"), 0);
}

}  // namespace
