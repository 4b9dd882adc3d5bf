#pragma once
// The log files' settings as the log page edits them: the request log's file name and line
// format and the system log's file name. A missing leaf reads as its default in
// common/SettingsSchema.h, which is the server's own.
// Texts are CP932 and may hold the server's placeholders (%ServerRoot%, %Year% ...).

#include "ConfigAccessor.h"

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
