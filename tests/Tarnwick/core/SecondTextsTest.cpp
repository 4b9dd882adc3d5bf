#include "core/SecondTexts.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <string>
#include <vector>

namespace {

const int64_t kMoment = 1078185600;  // 2004-03-02 00:00:00 UTC

std::string LocalText(const char* format, int64_t when)
{
    const std::time_t moment = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&moment, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

std::vector<std::string> Keys(const CConfigAccessor& node)
{
    std::vector<std::string> keys;
    node.GetKeys(keys);
    return keys;
}

// The calling thread's texts for `second`, made anew even when the thread's last call was
// in that second too.
CSecondTexts& FreshTexts(int64_t second)
{
    CSecondTexts::At(second - 1);
    return CSecondTexts::At(second);
}

TEST(SecondTextsTest, TimeLeavesForAFixedMoment)
{
    CConfigClass scratch;
    const CConfigAccessor node = scratch.GetAccessor("Now");
    CSecondTexts::SetTimeLeaves(node, kMoment);

    const std::vector<std::string> expectedKeys = {"Date",  "Time",        "GMT",
                                                   "Year",  "Month",       "Day",
                                                   "DayOfWeek", "MonthString", "DayOfWeekString",
                                                   "Hour",  "Minute",      "Second"};
    EXPECT_EQ(expectedKeys, Keys(node));
    EXPECT_EQ("Tue, 02 Mar 2004 00:00:00 GMT", node.GetString("GMT", ""));
    EXPECT_EQ(LocalText("%Y/%m/%d", kMoment), node.GetString("Date", ""));
    EXPECT_EQ(LocalText("%H:%M:%S", kMoment), node.GetString("Time", ""));
    EXPECT_EQ(LocalText("%w", kMoment), node.GetString("DayOfWeek", ""));
    EXPECT_EQ(LocalText("%b", kMoment), node.GetString("MonthString", ""));
}

TEST(SecondTextsTest, TextsShowTheirSecond)
{
    CSecondTexts& texts = FreshTexts(kMoment);
    EXPECT_EQ(texts.Second(), kMoment);
    std::vector<std::string> stamp;
    texts.VisitStamp([&](std::string_view key, std::string_view) { stamp.emplace_back(key); });
    EXPECT_EQ(stamp, (std::vector<std::string>{"Date", "Time", "GMT"}));
    EXPECT_EQ(texts.Date(), LocalText("%Y/%m/%d", kMoment));
    EXPECT_EQ(texts.Time(), LocalText("%H:%M:%S", kMoment));
    EXPECT_EQ(texts.Gmt(), "Tue, 02 Mar 2004 00:00:00 GMT");
    EXPECT_EQ(Keys(texts.TimeNames()).size(), 12u);
    EXPECT_EQ(texts.TimeNames().GetString("Second", ""), LocalText("%S", kMoment));
    EXPECT_EQ(texts.LogPrefix(), LocalText("[%Y/%m/%d %H:%M:%S]", kMoment));
}

TEST(SecondTextsTest, AnotherSecondRemakesEveryTextAndForgetsTheExpansions)
{
    const struct {
        const char* description;
        int64_t next;
        bool kept;
    } cases[] = {
        {"the same second", kMoment, true},
        {"the next second", kMoment + 1, false},
        {"the clock set back", kMoment - 1, false},
        {"a day later", kMoment + 86400, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        FreshTexts(kMoment).KeepExpansion(1, 0, "%Time%", "kept");
        CSecondTexts& texts = CSecondTexts::At(c.next);
        EXPECT_EQ(texts.FindExpansion(1, 0, "%Time%") != nullptr, c.kept);
        EXPECT_EQ(texts.Time(), LocalText("%H:%M:%S", c.next));
        EXPECT_EQ(texts.TimeNames().GetString("GMT", ""), texts.Gmt());
        EXPECT_EQ(texts.LogPrefix(), LocalText("[%Y/%m/%d %H:%M:%S]", c.next));
    }
}

TEST(SecondTextsTest, AnExpansionIsFoundOnlyForItsOwnerInformationAndValue)
{
    const struct {
        const char* description;
        uint64_t owner;
        uint64_t infoWrites;
        std::string value;
        bool found;
    } cases[] = {
        {"the same key", 7, 3, "%ServerRoot%www/", true},
        {"another filter", 8, 3, "%ServerRoot%www/", false},
        {"the information tree written since", 7, 4, "%ServerRoot%www/", false},
        {"another value", 7, 3, "%ServerRoot%Logs/", false},
        {"a value's start only", 7, 3, "%ServerRoot%", false},
        {"the empty value", 7, 3, "", false},
    };
    CSecondTexts& texts = FreshTexts(kMoment);
    texts.KeepExpansion(7, 3, "%ServerRoot%www/", "/srv/www/");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string* kept = texts.FindExpansion(c.owner, c.infoWrites, c.value);
        ASSERT_EQ(kept != nullptr, c.found);
        if (kept) {
            EXPECT_EQ(*kept, "/srv/www/");
        }
    }
}

TEST(SecondTextsTest, EachNewExpansionReplacesTheOldest)
{
    const size_t n = CSecondTexts::kKeptExpansions;
    const struct {
        const char* description;
        size_t kept;        // expansions kept one after another, values "0", "1" ...
        size_t firstFound;  // the oldest value still found
    } cases[] = {
        {"one fewer than the slots", n - 1, 0},
        {"as many as the slots", n, 0},
        {"one more than the slots", n + 1, 1},
        {"twice the slots", 2 * n, n},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        CSecondTexts& texts = FreshTexts(kMoment);
        for (size_t i = 0; i < c.kept; ++i)
            texts.KeepExpansion(1, 0, std::to_string(i), "x" + std::to_string(i));
        for (size_t i = 0; i < c.kept; ++i) {
            const std::string* found = texts.FindExpansion(1, 0, std::to_string(i));
            EXPECT_EQ(found != nullptr, i >= c.firstFound) << i;
            if (found) {
                EXPECT_EQ(*found, "x" + std::to_string(i));
            }
        }
    }
}

TEST(SecondTextsTest, EachThreadHasTextsOfItsOwn)
{
    FreshTexts(kMoment).KeepExpansion(1, 0, "%Time%", "this thread's");
    const bool seenElsewhere = std::async(std::launch::async, [] {
                                   return CSecondTexts::At(kMoment).FindExpansion(1, 0, "%Time%") != nullptr;
                               }).get();
    EXPECT_FALSE(seenElsewhere);
    EXPECT_NE(CSecondTexts::At(kMoment).FindExpansion(1, 0, "%Time%"), nullptr);
}

TEST(SecondTextsTest, TellsWhetherATextMentionsATimeName)
{
    const struct {
        const char* text;
        bool mentions;
    } cases[] = {
        {"%Year%%Month%%Day%.txt", true},
        {"[%Time%] <%Host%>", true},
        {"%DayOfWeekString%", true},
        {"Second", true},  // the names alone, signs or not: the expansion decides
        {"%ServerRoot%www/", false},
        {"%year%", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CSecondTexts::MentionsTimeName(c.text), c.mentions) << c.text;
}

}  // namespace
