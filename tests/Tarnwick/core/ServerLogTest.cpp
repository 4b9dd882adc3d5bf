#include "core/ServerLog.h"

#include "CoreFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's lines; every line must end in CR LF, a bare CR or LF fails the test.
std::vector<std::string> ReadLines(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < bytes.size()) {
        const std::string::size_type end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated last line in " << path;
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    for (const std::string& line : lines)
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    return lines;
}

std::string LocalTime(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

bool HasSuffix(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class ServerLogTest : public CoreFixture {
protected:
    void StartLog()
    {
        StartCore();
        log.SetSettings(core->GetSettingAccessor());
    }

    void TearDown() override
    {
        // The core writes its stop line when it goes, so it goes before the folders.
        CoreFixture::TearDown();
        std::error_code ignored;
        for (const char* name : {"Logs", "blocker", "deep", u8"ログ"})
            fs::remove_all(fs::u8path(Root() + name), ignored);
    }

    static std::string Root() { return servertest::ServerRoot(); }
    static std::string SystemLogPath() { return Root() + "Logs/SystemLog.txt"; }

    // A regular file where a log path needs a folder.
    static void PutBlocker() { PutFile("blocker", "not a folder"); }
    static void RemoveBlocker() { fs::remove(Root() + "blocker"); }

    CServerLog log;
};

TEST_F(ServerLogTest, FlushAppendsRequestLinesToTodaysFileUnderTheServerRoot)
{
    StartLog();
    log.AddRequestLine("[12:00:00] <127.0.0.1> (120,5000) GET /index.html");
    log.AddRequestLine("second");

    const std::string dayBefore = LocalTime("%Y%m%d");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    const std::string dayAfter = LocalTime("%Y%m%d");

    std::string path = Root() + "Logs/" + dayBefore + ".txt";
    if (!fs::exists(path))
        path = Root() + "Logs/" + dayAfter + ".txt";
    EXPECT_EQ(ReadBytes(path), "[12:00:00] <127.0.0.1> (120,5000) GET /index.html\r\nsecond\r\n");
    EXPECT_FALSE(fs::exists(SystemLogPath())) << "an empty queue opens no file";
}

TEST_F(ServerLogTest, SystemLinesStartWithTheLocalTimeTheyWereQueuedAt)
{
    StartLog();
    const std::string before = LocalTime("[%Y/%m/%d %H:%M:%S]");
    log.AddSystemLine("サーバを起動しました");
    log.AddSystemLine("SystemError : %s", "接続数をオーバーしたため、503 Service Unavailableを送信しました");
    const std::string after = LocalTime("[%Y/%m/%d %H:%M:%S]");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    const std::vector<std::string> lines = ReadLines(SystemLogPath());
    ASSERT_EQ(lines.size(), 2u);
    const std::string messages[] = {"サーバを起動しました",
                                    "SystemError : 接続数をオーバーしたため、503 Service Unavailableを送信しました"};
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_GT(lines[i].size(), before.size());
        const std::string stamp = lines[i].substr(0, before.size());
        EXPECT_GE(stamp, before);  // the fixed-width form sorts as the time does
        EXPECT_LE(stamp, after);
        EXPECT_EQ(lines[i].substr(before.size()), messages[i]) << "no blank after the time";
    }
}

TEST_F(ServerLogTest, FlushWithEmptyQueuesCreatesNothing)
{
    StartLog();
    EXPECT_EQ(log.Flush(), 0);
    EXPECT_FALSE(fs::exists(Root() + "Logs"));
}

TEST_F(ServerLogTest, FixedPathKeepsAppendingToTheSameFile)
{
    servertest::TempFolder folder;
    const std::string path = folder.Path() + "fixed.log";
    std::ofstream(path, std::ios::binary) << "old\r\n";
    settings.SetValue("Setting::Log::LogFilePath", path);
    StartLog();

    log.AddRequestLine("one");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    log.AddRequestLine("two");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    EXPECT_EQ(ReadBytes(path), "old\r\none\r\ntwo\r\n");
}

TEST_F(ServerLogTest, MissingLogFoldersAreCreatedByTheFirstFlush)
{
    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%deep/er/still/%Year%.txt");
    settings.SetValue("Setting::Log::SystemLogFilePath", "%ServerRoot%ログ/システム.txt");
    StartLog();
    ASSERT_FALSE(fs::exists(Root() + "deep"));

    log.AddRequestLine("request");
    log.AddSystemLine("system");
    const std::string year = LocalTime("%Y");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    std::string requestLog = Root() + "deep/er/still/" + year + ".txt";
    if (!fs::exists(requestLog))  // the year turned during the flush
        requestLog = Root() + "deep/er/still/" + LocalTime("%Y") + ".txt";
    EXPECT_EQ(ReadBytes(requestLog), "request\r\n");
    // CP932 names are the file system's UTF-8 names on disk.
    const std::vector<std::string> lines = ReadLines(fs::u8path(Root() + u8"ログ/システム.txt").string());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(HasSuffix(lines[0], "]system"));
}

TEST_F(ServerLogTest, LinesFromSeveralThreadsAllLandInOrderPerThread)
{
    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%Logs/requests.txt");
    StartLog();
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 1000;

    std::atomic<bool> writing{true};
    std::thread flusher([&] {
        while (writing)
            EXPECT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int n = 0; n < kLinesPerThread; ++n)
                log.AddRequestLine("thread " + std::to_string(t) + " line " + std::to_string(n));
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    writing = false;
    flusher.join();
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    const std::vector<std::string> lines = ReadLines(Root() + "Logs/requests.txt");
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesPerThread));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        int t = -1;
        int n = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &t, &n), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line;
        ASSERT_EQ(n, next[t]) << "thread " << t << " out of order";
        ++next[t];
    }
}

TEST_F(ServerLogTest, ControlBytesAreEscapedSoNoLineCanBeForged)
{
    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%Logs/requests.txt");
    StartLog();
    struct Case {
        const char* description;
        std::string value;
        std::string written;
    };
    const Case cases[] = {
        {"CR LF starting a forged line", "GET /a\r\n[00:00:00] <10.0.0.1> forged",
         "GET /a\\r\\n[00:00:00] <10.0.0.1> forged"},
        {"bare LF", "a\nb", "a\\nb"},
        {"tab", "a\tb", "a\\tb"},
        {"lowest control byte after NUL", "a\x01" "b", "a\\x01b"},
        {"highest control byte", "a\x1f" "b", "a\\x1Fb"},
        {"escape sequence", "\x1b[2J", "\\x1B[2J"},
        {"DEL", "a\x7f" "b", "a\\x7Fb"},
        {"space and tilde stay", " ~", " ~"},
        {"bytes from 0x80 stay", "\x80\xff", "\x80\xff"},
        {"CP932 with 0x5C trail bytes stays", "表示/ソフト", "表示/ソフト"},
        {"backslash stays", "C:\\r", "C:\\r"},
    };
    for (const Case& c : cases)
        log.AddRequestLine(c.value);
    log.AddRequestLine(std::string("a\0b", 3));
    log.AddSystemLine("SystemError : %s", "two\r\nlines");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    const std::vector<std::string> lines = ReadLines(Root() + "Logs/requests.txt");
    ASSERT_EQ(lines.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(lines[i], cases[i].written) << cases[i].description;
    EXPECT_EQ(lines.back(), "a\\x00b") << "NUL";
    const std::vector<std::string> system = ReadLines(SystemLogPath());
    ASSERT_EQ(system.size(), 1u);
    EXPECT_TRUE(HasSuffix(system[0], "]SystemError : two\\r\\nlines")) << system[0];
}

TEST_F(ServerLogTest, UnopenableRequestLogKeepsItsLinesAndSaysSoOnce)
{
    PutBlocker();
    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%blocker/Logs/requests.txt");
    StartLog();

    log.AddRequestLine("first");
    EXPECT_EQ(log.Flush(), -1);
    const std::string error = log.GetLastFlushError();
    EXPECT_NE(error.find(Root() + "blocker/Logs/requests.txt"), std::string::npos) << error;
    log.AddRequestLine("second");
    EXPECT_EQ(log.Flush(), -1);

    std::vector<std::string> system = ReadLines(SystemLogPath());
    ASSERT_EQ(system.size(), 1u) << "one note per failing streak";
    EXPECT_TRUE(HasSuffix(system[0], "]SystemError : " + error)) << system[0];

    RemoveBlocker();
    log.AddRequestLine("third");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    EXPECT_EQ(log.GetLastFlushError(), "");
    EXPECT_EQ(ReadBytes(Root() + "blocker/Logs/requests.txt"), "first\r\nsecond\r\nthird\r\n");
    EXPECT_EQ(log.GetLostLineCount(), 0u);
}

TEST_F(ServerLogTest, UnopenableSystemLogKeepsItsLinesForTheNextFlush)
{
    PutBlocker();
    settings.SetValue("Setting::Log::SystemLogFilePath", "%ServerRoot%blocker/system.txt");
    StartLog();

    log.AddSystemLine("サーバを起動しました");
    EXPECT_EQ(log.Flush(), -1);
    RemoveBlocker();
    log.AddSystemLine("サーバを停止しました");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();

    const std::vector<std::string> lines = ReadLines(Root() + "blocker/system.txt");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(HasSuffix(lines[0], "]サーバを起動しました"));
    EXPECT_NE(lines[1].find("]SystemError : "), std::string::npos);
    EXPECT_NE(lines[1].find(Root() + "blocker/system.txt"), std::string::npos) << lines[1];
    EXPECT_TRUE(HasSuffix(lines[2], "]サーバを停止しました"));
}

TEST_F(ServerLogTest, FailedWriteKeepsTheUnwrittenLines)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to fail the write";
    StartLog();
    core->GetSettingAccessor().SetString("Log::LogFilePath", "/dev/full");

    log.AddRequestLine("one");
    log.AddRequestLine("two");
    EXPECT_EQ(log.Flush(), -1);
    EXPECT_NE(log.GetLastFlushError().find("/dev/full"), std::string::npos) << log.GetLastFlushError();

    core->GetSettingAccessor().SetString("Log::LogFilePath", "%ServerRoot%Logs/requests.txt");
    log.AddRequestLine("three");
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    EXPECT_EQ(ReadBytes(Root() + "Logs/requests.txt"), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(ServerLogTest, BacklogBeyondItsLimitDropsTheOldestLines)
{
    PutBlocker();
    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%blocker/requests.txt");
    StartLog();
    constexpr size_t kLineSize = 1024 * 1024;
    constexpr size_t kKept = CServerLog::kMaxBacklogBytes / kLineSize;
    constexpr size_t kQueued = kKept + 3;
    const std::string filler(kLineSize - 2, 'x');
    for (size_t i = 0; i < kQueued; ++i)
        log.AddRequestLine((i < 10 ? "0" : "") + std::to_string(i) + filler);

    EXPECT_EQ(log.Flush(), -1);
    EXPECT_EQ(log.GetLostLineCount(), kQueued - kKept);

    RemoveBlocker();
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    const std::vector<std::string> lines = ReadLines(Root() + "blocker/requests.txt");
    ASSERT_EQ(lines.size(), kKept);
    for (size_t i = 0; i < kKept; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%02zu", kQueued - kKept + i);
        EXPECT_EQ(lines[i].substr(0, 2), number);
    }
}

TEST_F(ServerLogTest, FlushWithoutCoreKeepsTheLines)
{
    log.AddRequestLine("early");
    EXPECT_EQ(log.Flush(), -1);
    EXPECT_NE(log.GetLastFlushError(), "");

    settings.SetValue("Setting::Log::LogFilePath", "%ServerRoot%Logs/requests.txt");
    StartLog();
    ASSERT_EQ(log.Flush(), 0) << log.GetLastFlushError();
    EXPECT_EQ(ReadBytes(Root() + "Logs/requests.txt"), "early\r\n");
}

}  // namespace
