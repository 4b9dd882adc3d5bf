#include "core/LogSettings.h"

#include "SettingsSchema.h"

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
