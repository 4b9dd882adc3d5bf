#include "core/ServerVariables.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "HttpDate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string LocalText(const char* format, std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

// A settings tree with the filter over its own information tree, as the core sets it up.
class ServerVariablesTest : public testing::Test {
protected:
    ServerVariablesTest()
    {
        info.SetString("ServerName", "Tarnwick");
        info.SetString("ServerSignature", "Tarnwick/1.42");
        info.SetString("ServerRoot", "/srv/tarnwick/");
        settings.SetValueFilter(std::make_unique<CServerVariables>(info));
    }

    // Reads `value` back through the filter; `expected` is computed for the moments just
    // before and after, so a read across a clock tick still matches one of them.
    void ExpectTimed(const std::string& value, std::string (*expected)(std::time_t))
    {
        settings.SetValue("Setting::Value", value);
        const std::time_t before = std::time(nullptr);
        const std::string read = settings.GetValue("Setting::Value", "");
        const std::time_t after = std::time(nullptr);
        if (read != expected(before)) {
            EXPECT_EQ(expected(after), read) << value;
        }
    }

    CConfigClass infoTree;
    CConfigAccessor info = infoTree.GetAccessor("ServerInfo");
    CConfigClass settings;
};

TEST_F(ServerVariablesTest, ValuesWithoutTimeNamesAreFilledFromServerInfoOnly)
{
    struct Case {
        const char* what;
        const char* value;
        const char* expected;
    } const cases[] = {
        {"server root", "%ServerRoot%Html/", "/srv/tarnwick/Html/"},
        {"two names", "%ServerName% (%ServerSignature%)", "Tarnwick (Tarnwick/1.42)"},
        {"same name twice", "%ServerName%%ServerName%", "TarnwickTarnwick"},
        {"unknown name stays", "%NoSuchName%/x", "%NoSuchName%/x"},
        {"names are case-sensitive", "%serverroot%", "%serverroot%"},
        {"lone percent", "50%", "50%"},
        {"plain text", "plain", "plain"},
        {"empty", "", ""},
        {"double-byte text kept", "%ServerRoot%表示/", "/srv/tarnwick/表示/"},
    };
    for (const Case& c : cases) {
        settings.SetValue("Setting::Value", c.value);
        EXPECT_EQ(c.expected, settings.GetValue("Setting::Value", "")) << c.what;
    }
}

TEST_F(ServerVariablesTest, ValuesWithoutPercentSignsComeBackAsStored)
{
    CServerVariables filter(info);
    const std::string values[] = {"", "plain", "8080", "Year Month Day Time GMT", "ServerRoot",
                                  "表示\\", std::string("a\0b", 3)};
    for (const std::string& value : values)
        EXPECT_EQ(value, filter.Filter("Key", value)) << value;
}

TEST_F(ServerVariablesTest, PlainValuesDoNotWaitForTheInformationTree)
{
    settings.SetValue("Setting::Port", "8080");
    settings.SetValue("Setting::Root", "%ServerRoot%");
    std::promise<void> release;
    std::promise<void> held;
    std::thread holder([&] {
        CConfigLock lock(info);
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    auto plain = std::async(std::launch::async, [&] { return settings.GetValue("Setting::Port", ""); });
    const bool answered = plain.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    auto filled = std::async(std::launch::async, [&] { return settings.GetValue("Setting::Root", ""); });
    release.set_value();
    holder.join();
    ASSERT_TRUE(answered) << "a plain read waited for the information tree's lock";
    EXPECT_EQ("8080", plain.get());
    EXPECT_EQ("/srv/tarnwick/", filled.get()) << "placeholders still read the information tree";
}

TEST_F(ServerVariablesTest, BothValuesADefaultRootRequestReadsAreKept)
{
    // The document path and the log line's format as a default root has them.
    const char* const values[] = {"%ServerRoot%www/",
                                  "[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%"};
    // Kept expansions last for their second: the reads start as a second begins, so that
    // all of them, a few milliseconds, fall within it.
    const std::time_t start = std::time(nullptr);
    for (int step = 0; step < 1100 && std::time(nullptr) == start; ++step)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    CServerVariables filter(info);
    // Expansions are kept per thread: one reader reads each value, then again while the
    // information tree's lock is held elsewhere, which only a miss waits for.
    std::promise<void> primed;
    std::promise<void> held;
    std::promise<void> release;
    auto reader = std::async(std::launch::async, [&] {
        std::vector<std::string> read;
        for (const char* value : values)
            read.push_back(filter.Filter("Key", value));
        primed.set_value();
        held.get_future().wait();
        for (const char* value : values)
            read.push_back(filter.Filter("Key", value));
        return read;
    });
    primed.get_future().wait();
    std::thread holder([&] {
        CConfigLock lock(info);
        held.set_value();
        release.get_future().wait();
    });
    const bool answered = reader.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
    release.set_value();
    holder.join();
    const std::vector<std::string> read = reader.get();
    ASSERT_TRUE(answered) << "a kept expansion was evicted by the other value";
    EXPECT_EQ(read[0], read[2]);
    EXPECT_EQ(read[1], read[3]);
}

TEST_F(ServerVariablesTest, DefaultsPassTheFilterToo)
{
    EXPECT_EQ("/srv/tarnwick/Html/", settings.GetValue("Setting::Missing", "%ServerRoot%Html/"));
}

TEST_F(ServerVariablesTest, ServerInfoIsReadLiveAtEachRead)
{
    settings.SetValue("Setting::Value", "%ServerPort%");
    EXPECT_EQ("%ServerPort%", settings.GetValue("Setting::Value", ""));
    info.SetInt("ServerPort", 8080);
    EXPECT_EQ("8080", settings.GetValue("Setting::Value", ""));
    info.SetInt("ServerPort", 81);
    EXPECT_EQ("81", settings.GetValue("Setting::Value", ""));
}

TEST_F(ServerVariablesTest, LogFileNameGetsTheDateOfTheRead)
{
    ExpectTimed("%ServerRoot%Logs/%Year%%Month%%Day%.txt", [](std::time_t now) {
        return "/srv/tarnwick/Logs/" + LocalText("%Y%m%d", now) + ".txt";
    });
}

TEST_F(ServerVariablesTest, EveryTimeNameIsFilled)
{
    ExpectTimed("%Date%|%Time%|%Year%|%Month%|%Day%|%DayOfWeek%|%MonthString%|%DayOfWeekString%|"
                "%Hour%|%Minute%|%Second%",
                [](std::time_t now) {
                    return LocalText("%Y/%m/%d|%H:%M:%S|%Y|%m|%d|%w|%b|%a|%H|%M|%S", now);
                });
    ExpectTimed("[%GMT%]", [](std::time_t now) { return "[" + FormatHttpDate(now) + "]"; });
}

TEST_F(ServerVariablesTest, TimeNamesWithoutPercentSignsStayText)
{
    settings.SetValue("Setting::Value", "Day and Time, %ServerName%");
    EXPECT_EQ("Day and Time, Tarnwick", settings.GetValue("Setting::Value", ""));
    settings.SetValue("Setting::Value", "%year% %DAY%");
    EXPECT_EQ("%year% %DAY%", settings.GetValue("Setting::Value", ""));
}

TEST_F(ServerVariablesTest, LongerTimeNamesAreNotTakenForShorterOnes)
{
    ExpectTimed("%DayOfWeekString%/%DayOfWeek%/%Day%", [](std::time_t now) {
        return LocalText("%a/%w/%d", now);
    });
}

TEST_F(ServerVariablesTest, ValueFromServerInfoIsNotExpandedForTime)
{
    // The time names are filled before the ServerInfo names, so a folder name that looks
    // like a placeholder stays as it is.
    info.SetString("ServerRoot", "/srv/%Year%/");
    settings.SetValue("Setting::Value", "%ServerRoot%x");
    EXPECT_EQ("/srv/%Year%/x", settings.GetValue("Setting::Value", ""));
}

TEST_F(ServerVariablesTest, ConcurrentReadersEachGetAWholeValue)
{
    settings.SetValue("Setting::Value", "%ServerName%-%Year%");
    constexpr int kThreads = 4;
    constexpr int kReads = 200;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            for (int n = 0; n < kReads; ++n) {
                const std::string value = settings.GetValue("Setting::Value", "");
                if (value.rfind("Tarnwick-", 0) != 0 || value.size() != 13)
                    ++bad;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, bad.load());
}

}  // namespace
