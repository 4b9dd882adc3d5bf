// The log page's fields and the leaves they stand for.

#include "core/LogSettings.h"

#include "ScopedEnvironment.h"
#include "SettingTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ReadFromSetting;
using testsupport::StoreIntoSetting;
using Strings = std::vector<std::string>;

Strings Values(const LogSettings& log) { return {log.logFilePath, log.logFormat, log.systemLogFilePath}; }

TEST(LogSettingsTest, MissingLeavesReadAsTheServersDefaults)
{
    const Strings defaults = {"%ServerRoot%Logs/%Year%%Month%%Day%.txt",
                              "[%Time%] <%Host%> (%RecvSize%,%SendSize%) [%Info%] %Method% %Object%",
                              "%ServerRoot%Logs/SystemLog.txt"};
    EXPECT_EQ(Values(DefaultLogSettings()), defaults);
    const testsupport::StoredValuesCase cases[] = {
        {"none stored", {}, defaults},
        {"each stored one as stored",
         {{"Log::LogFilePath", "/var/log/a.txt"},
          {"Log::LogFormatNoTime", "%Host%"},
          {"Log::SystemLogFilePath", "sys.txt"}},
         {"/var/log/a.txt", "%Host%", "sys.txt"}},
        {"an empty one stays empty", {{"Log::LogFormatNoTime", ""}}, {defaults[0], "", defaults[2]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Values(ReadFromSetting(c.stored, ReadLogSettings)), c.values);
    }
}

TEST(LogSettingsTest, AllThreeAreStoredAsTheyStand)
{
    const LogSettings log = {"%ServerRoot%日誌.txt", "", "sys.txt"};
    EXPECT_EQ(StoreIntoSetting({{"Log::Other", "kept"}}, "Log",
                               [&](const CConfigAccessor& setting) { StoreLogSettings(setting, log); }),
              "Tarnwick{Other=kept;LogFilePath=%ServerRoot%日誌.txt;LogFormatNoTime=;SystemLogFilePath=sys.txt;}");
}

TEST(LogSettingsTest, UtcOffsetIsWrittenAsSignHoursMinutes)
{
    const struct {
        const char* description;
        long seconds;
        const char* text;
    } cases[] = {
        {"UTC", 0, "+0000"},
        {"Japan", 9 * 3600, "+0900"},
        {"half an hour east", 5 * 3600 + 30 * 60, "+0530"},
        {"three and a half hours west", -(3 * 3600 + 30 * 60), "-0330"},
        {"less than an hour west", -30 * 60, "-0030"},
        {"the furthest east", 14 * 3600, "+1400"},
        {"the furthest west", -12 * 3600, "-1200"},
        {"seconds beyond the minute dropped", 9 * 3600 + 59, "+0900"},
        {"a minute less than an hour west", -59 * 60, "-0059"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatUtcOffset(c.seconds), c.text) << c.description;
}

TEST(LogSettingsTest, UtcOffsetIsTheZonesAtThatTime)
{
    // 2024-01-15 and 2024-07-15, 12:00 UTC: either side of the northern summer.
    constexpr int64_t kWinter = 1705320000;
    constexpr int64_t kSummer = 1721044800;
    const struct {
        const char* zone;
        long winter;
        long summer;
    } cases[] = {
        {"UTC", 0, 0},
        {"Asia/Tokyo", 9 * 3600, 9 * 3600},
        {"Asia/Kolkata", 5 * 3600 + 1800, 5 * 3600 + 1800},
        {"America/St_Johns", -(3 * 3600 + 1800), -(2 * 3600 + 1800)},
        {"America/New_York", -5 * 3600, -4 * 3600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        const testsupport::ScopedTimeZone zone(c.zone);
        EXPECT_EQ(LocalUtcOffset(kWinter), c.winter);
        EXPECT_EQ(LocalUtcOffset(kSummer), c.summer);
    }
}

TEST(LogSettingsTest, ApacheFormatEndsItsTimeStampInTheZoneGiven)
{
    EXPECT_EQ(ApacheLogFormat("-0330"),
              "%Host% - %User% [%Day%/%MonthString%/%Year%:%Time% -0330] \"%Method% %Object% HTTP/%Version%\" "
              "%ResponseCode% %SendSize% \"%Referer%\" \"%User-Agent%\"");
}

}  // namespace
