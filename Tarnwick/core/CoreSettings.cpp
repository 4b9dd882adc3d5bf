#include "core/CoreSettings.h"

#include <string>
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
    setting.value = setting.key->Read(settings_);
    // The filter leaves a text without '%' as it is; the stored text, unlike the filtered
    // one, shows whether there is one. A missing leaf reads the default, which has none.
    std::vector<CConfigLeaf> leaves;
    settings_.GetSubAccessor(setting.key->node).GetLeaves(leaves);
    for (const CConfigLeaf& leaf : leaves) {
        if (leaf.key == setting.key->leaf) {
            setting.constant = leaf.value.find('%') == std::string::npos;
            return;
        }
    }
    setting.constant = true;
}
