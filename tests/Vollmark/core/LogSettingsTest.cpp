// The log page's fields and the leaves they stand for.

#include "core/LogSettings.h"

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

}  // namespace
