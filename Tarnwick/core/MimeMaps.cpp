#include "core/MimeMaps.h"

#include "SettingsSchema.h"
#include "Wildcard.h"

#include "CRuntime.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr const char* kDefaultMimeType = "application/octet-stream";

// Hits below this position leave the table as it is: the types most asked for stay put
// and are not pushed back by every rarer hit.
constexpr std::size_t kFixedHeadEntries = 6;

// Appends {leaf value, node name} for every leaf of every child node of `view`, both in
// stored order.
void LoadTable(const CConfigAccessor& view, std::vector<std::pair<std::string, std::string>>& table)
{
    if (!view.GetTree() || !table.empty())
        return;
    CConfigReadLock lock(view);
    std::vector<std::string> names;
    view.GetSections(names);
    for (const std::string& name : names) {
        const CConfigAccessor node = view.GetSubAccessor(name);
        std::vector<std::string> keys;
        node.GetKeys(keys);
        for (const std::string& key : keys)
            table.emplace_back(node.GetString(key, ""), name);
    }
}

}  // namespace

void CMimeMaps::Load(const CConfigAccessor& settings)
{
    settings_ = settings;
    mimeView_ = settings_.GetSubAccessor(schema::kMimeType.path);
    iconView_ = settings_.GetSubAccessor(schema::kIconType.path);
    LoadMimeTypes();
    LoadIconTypes();
}

void CMimeMaps::LoadMimeTypes() { LoadTable(mimeView_, mimeTable_); }

void CMimeMaps::LoadIconTypes() { LoadTable(iconView_, iconTable_); }

std::size_t CMimeMaps::FindMimePair(const std::string& name) const
{
    const std::string::size_type dot = platform::_mbsrchr(name, '.');
    if (dot == std::string::npos)
        return mimeTable_.size();
    return FindExtensionPair(platform::_mbslwr(name.substr(dot + 1)));
}

std::size_t CMimeMaps::FindExtensionPair(const std::string& extension) const
{
    for (std::size_t i = 0; i < mimeTable_.size(); ++i)
        if (mimeTable_[i].first == extension)
            return i;
    return mimeTable_.size();
}

std::string CMimeMaps::FindMimeType(const std::string& name) const
{
    const std::size_t i = FindMimePair(name);
    return i < mimeTable_.size() ? mimeTable_[i].second : kDefaultMimeType;
}

std::string CMimeMaps::LookupMimeType(const std::string& name)
{
    const std::size_t i = FindMimePair(name);
    if (i == mimeTable_.size())
        return kDefaultMimeType;
    std::string type = mimeTable_[i].second;
    if (i >= kFixedHeadEntries)
        std::rotate(mimeTable_.begin(), mimeTable_.begin() + static_cast<std::ptrdiff_t>(i),
                    mimeTable_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return type;
}

std::string CMimeMaps::LookupIconType(const std::string& name)
{
    LookupMimeType(name);  // for its reordering of this copy's table
    return FindIconType(name, iconCache_);
}

std::string CMimeMaps::FindIconType(const std::string& name, IconCache& cache) const
{
    // Without filters no name has an icon: a listing pays nothing per line for icons.
    if (iconTable_.empty())
        return "";
    const std::string::size_type dot = platform::_mbsrchr(name, '.');
    // The cached extension is lower-cased already: a listing's names of one extension are
    // matched against it as they stand, not lower-cased one by one.
    if (dot != std::string::npos && !cache.extension.empty() &&
        platform::EqualsIgnoringCase(std::string_view(name).substr(dot), cache.extension))
        return cache.icon;
    const std::string ext = dot == std::string::npos ? std::string() : platform::_mbslwr(name.substr(dot));
    // The type only matters when the cache does not answer; it is FindMimeType's.
    const std::size_t pair = ext.empty() ? mimeTable_.size() : FindExtensionPair(ext.substr(1));
    const std::string mime = pair < mimeTable_.size() ? mimeTable_[pair].second : kDefaultMimeType;
    for (const auto& [filter, icon] : iconTable_) {
        if (filter == ext || WildcardMatchNoCase(filter, mime) || WildcardMatchNoCase(filter, name)) {
            cache.extension = ext;
            cache.icon = icon;
            return icon;
        }
    }
    return "";
}
