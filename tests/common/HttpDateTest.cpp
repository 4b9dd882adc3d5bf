#include "HttpDate.h"

#include "ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <vector>

namespace {

constexpr std::int64_t kSunday1994 = 784111777;  // 1994-11-06 08:49:37 UTC

// Central European time with summer time, written out so no zone database is needed.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

struct ParseCase {
    const char* description;
    const char* text;
    std::int64_t expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.description; }

class ParseHttpDateTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseHttpDateTable, GivesExpectedTime)
{
    EXPECT_EQ(ParseHttpDate(GetParam().text), GetParam().expected) << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseHttpDateTable,
    testing::Values(
        ParseCase{"IMF-fixdate", "Sun, 06 Nov 1994 08:49:37 GMT", kSunday1994},
        ParseCase{"RFC 850 reads yy as 20yy", "Sunday, 06-Nov-94 08:49:37 GMT", 3939871777},
        ParseCase{"asctime with a blank before a one-digit day", "Sun Nov  6 08:49:37 1994", kSunday1994},
        ParseCase{"case and surrounding blanks ignored", "  SUN, 06 NOV 1994 08:49:37 gmt ", kSunday1994},
        ParseCase{"tabs and line ends trimmed", "\t\r\nSun, 06 Nov 1994 08:49:37 GMT\r\n", kSunday1994},
        ParseCase{"the zone is never read", "Sun, 06 Nov 1994 08:49:37 PST", kSunday1994},
        ParseCase{"nothing after the seconds", "Sun, 06 Nov 1994 08:49:37", kSunday1994},
        ParseCase{"unknown month reads as January", "Sun, 06 Xyz 1994 08:49:37 GMT", 757846177},
        ParseCase{"non-numeric day reads as 0", "Sun, xx Nov 1994 08:49:37 GMT", 783593377},
        ParseCase{"asctime of 1970 is not remapped", "Thu Jan  1 00:00:00 1970", 0},
        ParseCase{"RFC 850 of 70 is 2070, not remapped", "Thursday, 01-Jan-70 00:00:00 GMT", 3155760000},
        ParseCase{"a year before 1970 is a negative time", "Sun, 20 Jul 1969 20:17:00 GMT", -14182980},
        ParseCase{"comma at index 0", ", 06 Nov 1994 08:49:37 GMT", 0},
        ParseCase{"comma at index 1", "S, 06 Nov 1994 08:49:37 GMT", 0},
        ParseCase{"comma at index 2", "Su, 06 Nov 1994 08:49:37 GMT", 0},
        ParseCase{"empty text", "", 0},
        ParseCase{"blanks only", "   ", 0},
        ParseCase{"a comma and nothing after it", "Sunday,", 0},
        ParseCase{"Japanese text", "日曜日, 06 Nov 1994", 0}));

TEST(ParseHttpDate, EveryTruncationOfAValidDateIsNoDate)
{
    // Each form's last field ends at this length; any shorter text cannot hold it.
    const struct {
        std::string text;
        std::string::size_type needed;
    } forms[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 25},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 26},
        {"Sun Nov  6 08:49:37 1994", 24},
    };
    for (const auto& form : forms) {
        for (std::string::size_type len = 0; len < form.needed; ++len)
            EXPECT_EQ(ParseHttpDate(form.text.substr(0, len)), 0) << form.text.substr(0, len);
        EXPECT_NE(ParseHttpDate(form.text.substr(0, form.needed)), 0) << form.text;
    }
}

TEST(ParseHttpDate, ImfFixdateIn1970IsLocal1980NewYearAtOneMinutePastOne)
{
    testsupport::ScopedTimeZone zone(kCentralEurope);
    // 1980-01-01 01:01:01 CET is 00:01:01 UTC.
    EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 1970 00:00:00 GMT"), 315532861);
    EXPECT_EQ(ParseHttpDate("Thu, 31 Dec 1970 23:59:59 GMT"), 315532861);
}

TEST(ParseHttpDate, SummerDateInADaylightSavingZoneIsNotShifted)
{
    testsupport::ScopedTimeZone zone(kCentralEurope);
    EXPECT_EQ(ParseHttpDate("Wed, 06 Jul 1994 08:49:37 GMT"), 773484577);
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), kSunday1994);
}

struct FormatCase {
    const char* description;
    std::int64_t time;
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.description; }

class FormatHttpDateTable : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatHttpDateTable, GivesExpectedText)
{
    EXPECT_EQ(FormatHttpDate(GetParam().time), GetParam().expected) << GetParam().description;
}

INSTANTIATE_TEST_SUITE_P(
    Times, FormatHttpDateTable,
    testing::Values(FormatCase{"a Sunday in November", kSunday1994, "Sun, 06 Nov 1994 08:49:37 GMT"},
                    FormatCase{"the epoch", 0, "Thu, 01 Jan 1970 00:00:00 GMT"},
                    FormatCase{"one second before the epoch", -1, "Wed, 31 Dec 1969 23:59:59 GMT"},
                    FormatCase{"leap day", 951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
                    FormatCase{"last second of year 9999", 253402300799, "Fri, 31 Dec 9999 23:59:59 GMT"},
                    FormatCase{"beyond any calendar year", std::numeric_limits<std::int64_t>::max(), ""},
                    FormatCase{"before any calendar year", std::numeric_limits<std::int64_t>::min(), ""}));

TEST(FormatHttpDate, IgnoresTheLocalZone)
{
    testsupport::ScopedTimeZone zone(kCentralEurope);
    EXPECT_EQ(FormatHttpDate(773484577), "Wed, 06 Jul 1994 08:49:37 GMT");
}

TEST(FormatHttpDate, AgreesWithTheCLibrarysCalendar)
{
    // The text the C library's gmtime_r gives the same time, in the same form.
    const auto reference = [](std::int64_t t) -> std::string {
        const std::time_t time = static_cast<std::time_t>(t);
        std::tm tm{};
        if (gmtime_r(&time, &tm) == nullptr)
            return "";
        static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        char text[128];
        std::snprintf(text, sizeof text, "%s, %02d %s %lld %02d:%02d:%02d GMT", days[tm.tm_wday], tm.tm_mday,
                      kMonthNames[tm.tm_mon], tm.tm_year + 1900LL, tm.tm_hour, tm.tm_min, tm.tm_sec);
        return text;
    };
    std::vector<std::int64_t> times;
    // Every year from -2000 to 12000 by an odd step, so that each day of the week, month
    // and leap rule is met, and the edges of the years an int holds.
    for (std::int64_t t = -125000000000; t < 320000000000; t += 86400 * 29 + 3607)
        times.push_back(t);
    const std::int64_t lastSecondOfAnIntYear = 67768036191676799;
    for (const std::int64_t t : {lastSecondOfAnIntYear, lastSecondOfAnIntYear + 1, std::int64_t{-67768040609827200},
                                 std::int64_t{-67768040609827201}, std::int64_t{-86401}, std::int64_t{-86400}})
        times.push_back(t);
    for (const std::int64_t t : times)
        ASSERT_EQ(FormatHttpDate(t), reference(t)) << t;
}

TEST(FormatHttpDate, ParsesBackToTheSameTime)
{
    for (std::int64_t t : {std::int64_t{31536000}, kSunday1994, std::int64_t{951782400}, std::int64_t{2147483648},
                           std::int64_t{4102444799}})
        EXPECT_EQ(ParseHttpDate(FormatHttpDate(t)), t) << t;
}

struct MonthCase {
    const char* text;
    int expected;
};

void PrintTo(const MonthCase& c, std::ostream* os) { *os << c.text; }

class GetMonthNumberTable : public testing::TestWithParam<MonthCase> {};

TEST_P(GetMonthNumberTable, GivesExpectedNumber)
{
    EXPECT_EQ(GetMonthNumber(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Names, GetMonthNumberTable,
                         testing::Values(MonthCase{"Jan", 1}, MonthCase{"feb", 2}, MonthCase{"MAR", 3},
                                         MonthCase{"aPr", 4}, MonthCase{"Nov", 11}, MonthCase{"dec", 12},
                                         MonthCase{"", 1}, MonthCase{"De", 1}, MonthCase{"Decx", 1},
                                         MonthCase{"December", 1}, MonthCase{"十二月", 1}));

TEST(MonthNames, HoldsTheTwelveEnglishAbbreviationsInOrder)
{
    const char* const expected[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) {
        EXPECT_STREQ(kMonthNames[i], expected[i]);
        EXPECT_EQ(GetMonthNumber(kMonthNames[i]), i + 1);
    }
}

}  // namespace
