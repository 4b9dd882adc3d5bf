#pragma once
// The log files' settings as the log page edits them: the request log's file name and line
// format and the system log's file name. A missing leaf reads as its default in
// common/SettingsSchema.h, which is the server's own.
// Texts are CP932 and may hold the server's placeholders (%ServerRoot%, %Year% ...).

#include "ConfigAccessor.h"

#include <cstdint>
#include <string>

struct LogSettings {
    std::string logFilePath;        // Log::LogFilePath
    std::string logFormat;          // Log::LogFormatNoTime
    std::string systemLogFilePath;  // Log::SystemLogFilePath
};

// The values taken for missing leaves, which "標準に戻す" puts back.
LogSettings DefaultLogSettings();

// The stored values under `setting` (a "Setting" node), each missing one as its default.
// Creates no node.
LogSettings ReadLogSettings(const CConfigAccessor& setting);

// Stores all three as they are, as one step of the tree.
void StoreLogSettings(const CConfigAccessor& setting, const LogSettings& log);

// The machine's offset from UTC, in seconds east, at `time` (seconds since 1970 UTC), as
// its time zone gives it then: the zone is read again on every call, so a change of zone
// or of daylight saving time shows at once.
long LocalUtcOffset(int64_t time);

// An offset in seconds east as a log line's zone: "+0900", "-0330", "+0000". Seconds
// beyond whole minutes are dropped.
std::string FormatUtcOffset(long secondsEast);

// The request-log format of the common web server log ("apache互換"), its time stamp
// ending in `zone` (FormatUtcOffset's form). The placeholders are the request log's.
std::string ApacheLogFormat(const std::string& zone);
