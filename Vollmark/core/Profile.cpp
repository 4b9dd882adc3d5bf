#include "core/Profile.h"

#include "RegistryStore.h"

#include <cstdint>

namespace {

std::string SectionKey(const std::string& section) { return std::string(CProfile::kProfileKey) + "\\" + section; }

}  // namespace

int CProfile::GetProfileInt(const std::string& section, const std::string& entry, int defaultValue) const
{
    uint32_t value = 0;
    if (!platform::RegistryStore().ReadDWordValue(platform::HKEY_CURRENT_USER, SectionKey(section), entry, value))
        return defaultValue;
    // Stored as the 32 bits of the integer, so negative positions come back as written.
    return static_cast<int>(value);
}

bool CProfile::WriteProfileInt(const std::string& section, const std::string& entry, int value) const
{
    platform::RegistryStore store;
    const std::string key = SectionKey(section);
    return store.CreateKey(platform::HKEY_CURRENT_USER, key) &&
           store.SetDWordValue(platform::HKEY_CURRENT_USER, key, entry, static_cast<uint32_t>(value));
}
