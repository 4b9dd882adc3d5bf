// The connection view: its rows and details from hand-made context trees, then against the
// real server with one download held in progress by a bandwidth limit and a few finished.

#include "views/ThreadView.h"

#include "app/ControllerApp.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "Screenshot.h"
#include "ScriptedPrompts.h"
#include "ServerSandbox.h"

#include "FreePort.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "TextCodec.h"

#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

bool HasBlock(const std::string& text, const std::string& label, const std::string& value)
{
    std::string block;
    AppendTextBlock(block, label, value);
    return text.find(block) != std::string::npos;
}

// Clicks the row the way a person does.
void ClickRow(CThreadView& view, int row)
{
    QTreeWidget& list = view.List();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.topLevelItem(row)).center());
}

std::string Cell(const CThreadView& view, int row, int column)
{
    return FromQString(view.List().topLevelItem(row)->text(column));
}

class ThreadViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        view_.resize(800, 500);
        view_.show();
    }

    // "Thread_000<n>" under `list`, with the leaves the list shows.
    CConfigAccessor Add(const char* list, int n)
    {
        const std::string name = "Thread_000" + std::to_string(n);
        const CConfigAccessor node = context_.GetAccessor(list).GetSubAccessor(name);
        node.SetString("ThreadName", name);
        node.SetString("Info", "info " + std::to_string(n));
        node.SetString("RequestInfo::Object", "/" + name);
        node.SetString("RequestInfo::Options::Host", "example.test");
        return node;
    }
    void Feed() { view_.RefreshFromText(context_.SerializeNode("")); }
    std::string Copied() { return view_.GetCopyText(); }

    CControllerApp app_;
    CThreadView view_{app_.GetDrawTools(), app_.GetClient()};
    CConfigClass context_;
};

TEST_F(ThreadViewTest, ListsRunningNewestFirstThenFinishedNewestFirst)
{
    for (int n : {3, 4})
        Add("Threads", n);
    for (int n : {0, 1, 2})
        Add("ThreadLogs", n).SetString("Host", "10.0.0.1");
    Feed();
    ASSERT_EQ(view_.List().topLevelItemCount(), 5);
    const QImage running = LoadIconResource(kIconRequestActive).pixmap(16).toImage();
    const QImage finished = LoadIconResource(kIconRequestDone).pixmap(16).toImage();
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(Cell(view_, row, 4), "info " + std::to_string(4 - row));
        EXPECT_EQ(view_.List().topLevelItem(row)->icon(0).pixmap(16).toImage(), row < 2 ? running : finished) << row;
    }
    EXPECT_EQ(Cell(view_, 2, 0), "10.0.0.1");
    EXPECT_EQ(Cell(view_, 2, 5), "http://example.test/Thread_0002");
}

TEST_F(ThreadViewTest, SurplusRowsDisappear)
{
    for (int n : {1, 2, 3})
        Add("ThreadLogs", n);
    Feed();
    context_.ClearNode("ThreadLogs");
    Add("ThreadLogs", 4);
    Feed();
    ASSERT_EQ(view_.List().topLevelItemCount(), 1);
    EXPECT_EQ(Cell(view_, 0, 4), "info 4");
}

TEST_F(ThreadViewTest, UrlColumnJoinsProtocolHostHeaderAndObject)
{
    const struct {
        const char* object;
        const char* hostHeader;  // null: none
        const char* url;
    } cases[] = {
        {"", "Host", ""},
        {"/obj", nullptr, "http://-不明-/obj"},
        {"/obj", "hOST", "http://example.test/obj"},
    };
    for (const auto& c : cases) {
        context_.ClearNode("");
        const CConfigAccessor node = context_.GetAccessor("Threads::Thread_0001");
        node.SetString("RequestInfo::Object", c.object);
        if (c.hostHeader)
            node.SetString(std::string("RequestInfo::Options::") + c.hostHeader, "example.test");
        Feed();
        EXPECT_EQ(Cell(view_, 0, 5), c.url) << c.object;
    }
}

TEST_F(ThreadViewTest, DetailFollowsClickedRequestIntoThreadLogs)
{
    view_.grab();
    EXPECT_FALSE(view_.IsCopyEnabled());
    Add("Threads", 1);
    Add("ThreadLogs", 0);
    Feed();
    ClickRow(view_, 0);
    view_.grab();
    EXPECT_TRUE(view_.IsCopyEnabled());
    EXPECT_TRUE(HasBlock(Copied(), "■EndTime", " "));

    context_.MoveNode("ThreadLogs::Thread_0001", "Threads::Thread_0001");
    context_.SetValue("ThreadLogs::Thread_0001::EndTime::Time", "12:00:09");
    Feed();
    EXPECT_TRUE(HasBlock(Copied(), "■EndTime", " 12:00:09")) << platform::Cp932ToUtf8(Copied());
}

TEST_F(ThreadViewTest, KeyboardSelectionLeavesDetailAlone)
{
    Add("Threads", 1);
    Add("Threads", 2);
    Feed();
    ClickRow(view_, 1);
    const std::string before = Copied();
    view_.List().setCurrentItem(view_.List().topLevelItem(0));
    EXPECT_EQ(view_.GetSelectedName(), "Thread_0001");
    EXPECT_EQ(Copied(), before);
}

TEST_F(ThreadViewTest, TransferSizesShowUnlessBothZero)
{
    const struct {
        const char* received;
        const char* sent;
        const char* shown;
    } cases[] = {
        {"0", "0", ""},
        {"5", "0", "Recv : 5 / Send : 0"},
        {"0", "5000000000", "Recv : 0 / Send : 5000000000"},
    };
    for (const auto& c : cases) {
        const CConfigAccessor node = Add("ThreadLogs", 1);
        node.SetString("RecvSize", c.received);
        node.SetString("SendSize", c.sent);
        Feed();
        ClickRow(view_, 0);
        EXPECT_TRUE(HasBlock(Copied(), "■RecvSize/SendSize", c.shown)) << c.shown;
    }
}

TEST_F(ThreadViewTest, CopyTextUrlKeepsTheRequestsProtocol)
{
    Add("ThreadLogs", 1).SetString("Protocol", "https");
    Feed();
    ClickRow(view_, 0);
    EXPECT_EQ(Copied().rfind("■URL\r\n　https://example.test/Thread_0001\r\n", 0), 0u);
}

// The server answers slower than this only when it hangs.
constexpr auto kServerLimit = 10s;
constexpr auto kPollInterval = 10ms;
constexpr int kFinishedRequests = 3;
// At 1 KiB/s the server's second 32 KiB send chunk waits half a minute, well past the test.
constexpr size_t kSlowFileSize = 64 * 1024;

class ThreadViewServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::ofstream(sandbox_.Root() + "www/small.txt") << "small";
        std::ofstream(sandbox_.Root() + "www/slow.bin") << std::string(kSlowFileSize, 'x');
        CConfigClass settings;
        const std::string file = platform::Utf8ToCp932(sandbox_.SettingsFile());
        ASSERT_EQ(settings.LoadXml(file), 0);
        settings.SetValue("Setting::Limit::Send::MaxOneConnectBandWidth", "1");
        settings.SetValue("Setting::Path::Path_0::Options::EnableBandWidthLimit", "1");
        ASSERT_EQ(settings.SaveXml(file, ""), 0);
        ASSERT_TRUE(app_.InitInstance());
        view_ = std::make_unique<CThreadView>(app_.GetDrawTools(), app_.GetClient());
        view_->resize(800, 500);
        view_->show();
    }
    void TearDown() override
    {
        if (slow_ >= 0)
            ::close(slow_);
        view_.reset();
        app_.ExitInstance();
    }

    // The server's request nodes as it answers now, in the order the view lists them.
    std::vector<CConfigAccessor> Rows()
    {
        context_.LoadSerializedText(app_.GetClient().GetServerContext());
        std::vector<CConfigAccessor> rows;
        for (const char* list : {"Threads", "ThreadLogs"}) {
            std::vector<std::string> names;
            context_.GetSections(list, names);
            for (auto name = names.rbegin(); name != names.rend(); ++name)
                rows.push_back(context_.GetAccessor(std::string(list) + "::" + *name));
        }
        return rows;
    }

    ServerSandbox sandbox_;
    ScriptedPrompts prompts_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
    std::unique_ptr<CThreadView> view_;
    CConfigClass context_;
    int slow_ = -1;
};

TEST_F(ThreadViewServerTest, ListsAndDetailsTheServersOwnRequests)
{
    const std::string small = "GET /small.txt HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n";
    for (int i = 0; i < kFinishedRequests; ++i)
        ASSERT_FALSE(testsupport::HttpExchange(sandbox_.Port(), small).empty()) << "request " << i;
    const std::string slow = "GET /slow.bin HTTP/1.1\r\nHost: test\r\nUser-Agent: ThreadViewTest\r\n\r\n";
    slow_ = testsupport::ConnectLoopback(sandbox_.Port());
    ASSERT_EQ(::send(slow_, slow.data(), slow.size(), 0), static_cast<ssize_t>(slow.size()));
    // Its answer header out, the download's node stays as it is until the limit lets it go on.
    const auto downloading = [&] {
        const std::vector<CConfigAccessor> rows = Rows();
        return rows.size() > kFinishedRequests && !rows[0].GetString("ResponseInfo::ResponseText", "").empty();
    };
    const auto deadline = std::chrono::steady_clock::now() + kServerLimit;
    while (!downloading()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no download in progress";
        std::this_thread::sleep_for(kPollInterval);
    }

    view_->RefreshList();
    const std::vector<CConfigAccessor> rows = Rows();
    ASSERT_EQ(rows.size(), 1u + kFinishedRequests);
    ASSERT_EQ(view_->List().topLevelItemCount(), static_cast<int>(rows.size()));
    const char* leaves[] = {"Host", "StartTime::Time", "RequestInfo::Method", "ResponseInfo::ResponseText", "Info"};
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int column = 0; column < 5; ++column)
            EXPECT_EQ(Cell(*view_, row, column), rows[row].GetString(leaves[column], "")) << row << column;
        EXPECT_EQ(Cell(*view_, row, 5), row == 0 ? "http://test/slow.bin" : "http://test/small.txt");
    }

    for (int row : {1, 0}) {
        ClickRow(*view_, row);
        const CConfigAccessor& node = rows[row];
        const std::string text = view_->GetCopyText();
        EXPECT_TRUE(HasBlock(text, "■URL", Cell(*view_, row, 5)));
        EXPECT_TRUE(HasBlock(text, "■Info", node.GetString("Info", "")));
        EXPECT_TRUE(HasBlock(text, "■EndTime", node.GetString("EndTime::Date", "") + " " +
                                                   node.GetString("EndTime::Time", "")));
        EXPECT_TRUE(HasBlock(text, "■User-Agent", row == 0 ? "ThreadViewTest" : ""));
        EXPECT_TRUE(HasBlock(text, "■RecvSize/SendSize",
                             row == 0 ? "" : "Recv : " + node.GetString("RecvSize", "") + " / Send : " +
                                                 node.GetString("SendSize", "")))
            << platform::Cp932ToUtf8(text);
    }
    SaveScreenshot(*view_, "thread-view");
}

}  // namespace
