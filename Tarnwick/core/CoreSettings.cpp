#include "core/CoreSettings.h"

#include <string>
#include <string_view>
#include <vector>

CCoreSettings::CCoreSettings(const CConfigAccessor& settings) : settings_(settings)
{
    Load(enableKeepAlive_);
    Load(keepAliveTime_);
    Load(maxKeepAlive_);
    Load(maxThreadLog_);
}

void CCoreSettings::Load(IntSetting& setting) const
{
    setting.value = settings_.GetInt(setting.key, setting.defaultValue);
    // The filter leaves a text without '%' as it is; the stored text, unlike the filtered
    // one, shows whether there is one. A missing leaf reads the default, which has none.
    const std::string_view key = setting.key;
    const std::string_view::size_type split = key.rfind("::");
    std::vector<CConfigLeaf> leaves;
    settings_.GetSubAccessor(key.substr(0, split)).GetLeaves(leaves);
    const std::string_view name = key.substr(split + 2);
    for (const CConfigLeaf& leaf : leaves) {
        if (leaf.key == name) {
            setting.constant = leaf.value.find('%') == std::string::npos;
            return;
        }
    }
    setting.constant = true;
}
