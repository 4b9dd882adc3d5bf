#include "core/BandWidthLimits.h"

#include "SettingsSchema.h"

#include <algorithm>
#include <cstdint>

namespace {

// In the order of BandWidthLimits.
const schema::NumberKey* const kLimits[kBandWidthLimitCount] = {
    &schema::kSendServerBandWidth, &schema::kSendHostBandWidth, &schema::kSendConnectBandWidth,
    &schema::kRecvServerBandWidth, &schema::kRecvHostBandWidth, &schema::kRecvConnectBandWidth,
};

}  // namespace

BandWidthLimits ReadBandWidthLimits(const CConfigAccessor& setting)
{
    CConfigReadLock lock(setting);
    BandWidthLimits limits{};
    for (int i = 0; i < kBandWidthLimitCount; ++i)
        limits[i] = static_cast<unsigned>(std::max(0, kLimits[i]->Read(setting, schema::kControllerDefault)));
    return limits;
}

void StoreBandWidthLimits(const CConfigAccessor& setting, const BandWidthLimits& limits)
{
    CConfigLock lock(setting);
    for (int i = 0; i < kBandWidthLimitCount; ++i)
        setting.SetInt64(kLimits[i]->path, static_cast<int64_t>(limits[i]));
}
