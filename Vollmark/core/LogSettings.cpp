#include "core/LogSettings.h"

#include "SettingsSchema.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

struct LogLeaf {
    const schema::TextKey& key;
    std::string LogSettings::*value;
};

const LogLeaf kLeaves[] = {
    {schema::kLogFilePath, &LogSettings::logFilePath},
    {schema::kLogFormat, &LogSettings::logFormat},
    {schema::kSystemLogFilePath, &LogSettings::systemLogFilePath},
};

}  // namespace

LogSettings DefaultLogSettings()
{
    LogSettings log;
    for (const LogLeaf& leaf : kLeaves)
        log.*leaf.value = leaf.key.Default(schema::kControllerDefault);
    return log;
}

LogSettings ReadLogSettings(const CConfigAccessor& setting)
{
    CConfigReadLock lock(setting);
    LogSettings log;
    for (const LogLeaf& leaf : kLeaves)
        log.*leaf.value = leaf.key.Read(setting, schema::kControllerDefault);
    return log;
}

void StoreLogSettings(const CConfigAccessor& setting, const LogSettings& log)
{
    CConfigLock lock(setting);
    for (const LogLeaf& leaf : kLeaves)
        setting.SetString(leaf.key.path, log.*leaf.value);
}

long LocalUtcOffset(int64_t time)
{
    // localtime_r takes the zone as it was when first asked unless told to look again.
    ::tzset();
    const std::time_t moment = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&moment, &local) == nullptr)
        return 0;
    return local.tm_gmtoff;
}

std::string FormatUtcOffset(long secondsEast)
{
    const long minutes = std::labs(secondsEast) / 60;
    char text[48];  // room for any long, though a zone is within a day
    std::snprintf(text, sizeof text, "%c%02ld%02ld", secondsEast < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string ApacheLogFormat(const std::string& zone)
{
    return "%Host% - %User% [%Day%/%MonthString%/%Year%:%Time% " + zone +
           "] \"%Method% %Object% HTTP/%Version%\" %ResponseCode% %SendSize% \"%Referer%\" \"%User-Agent%\"";
}
