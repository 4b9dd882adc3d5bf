#include "core/PathEntryRules.h"

#include "core/EntryNodes.h"

#include "CRuntime.h"
#include "SettingsSchema.h"
#include "TextTrim.h"
#include "Wildcard.h"

#include <algorithm>

namespace {

// An IPv4 address has four octets; a pattern has a field for each.
constexpr int kAddressFields = 4;

const char kAddressCut[] = ",:";

bool IsAddressField(const std::string& field)
{
    return field == "*" || field == "?" ||
           std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool EndsWithSlash(const std::string& path)
{
    return !path.empty() && platform::_mbsrchr(path, '/') == path.size() - 1;
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& address)
{
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return WildcardMatchNoCase(pattern, address) != 0; });
}

}  // namespace

bool CheckAddress(const std::string& text)
{
    std::string::size_type at = text.find_first_not_of('.');
    for (int field = 0; field < kAddressFields; ++field) {
        // Fields are never empty: `at` stands on a byte that is no dot.
        if (at == std::string::npos)
            return false;
        const std::string::size_type end = text.find('.', at);
        if (!IsAddressField(text.substr(at, end - at)))
            return false;
        if (end == std::string::npos)
            return field == kAddressFields - 1;
        at = text.find_first_not_of('.', end);
    }
    return false;
}

std::vector<std::string> ParseAddressFile(const std::string& contents)
{
    std::vector<std::string> patterns;
    std::string::size_type start = 0;
    while (start < contents.size()) {
        std::string::size_type end = contents.find('\n', start);
        if (end == std::string::npos)
            end = contents.size();
        std::string line = contents.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        // ',' and ':' lie below the trail bytes' range: cutting them byte by byte never
        // splits a character.
        line = TrimText(line, kAddressCut);
        if (line.empty())
            break;
        if (CheckAddress(line))
            patterns.push_back(line);
    }
    return patterns;
}

bool HasRequiredPathFields(const std::string& info, const std::string& serverPath, const std::string& localPath,
                           const std::string& forward, const std::string& virtualHost)
{
    return !info.empty() && !serverPath.empty() && (!localPath.empty() || !forward.empty() || !virtualHost.empty());
}

std::string NormalizeServerPath(const std::string& serverPath)
{
    std::string path = serverPath;
    if (!EndsWithSlash(path))
        path += '/';
    if (path.front() != '/')
        path.insert(path.begin(), '/');
    return path;
}

std::string NormalizeLocalPath(const std::string& localPath)
{
    if (localPath.empty() || EndsWithSlash(localPath))
        return localPath;
    return localPath + '/';
}

bool IsHostAccepted(const std::vector<std::string>& denied, const std::vector<std::string>& accepted,
                    const std::string& address)
{
    return !MatchesAny(denied, address) && MatchesAny(accepted, address);
}

bool HoldsSettingsSeparator(const std::string& text) { return text.find("::") != std::string::npos; }

std::vector<std::string> ReadSimpleList(const CConfigAccessor& list)
{
    CConfigReadLock lock(list);
    return list.GetLeafValues();
}

void StoreSimpleList(const CConfigAccessor& parent, std::string_view name, const std::vector<std::string>& rows)
{
    CConfigLock lock(parent);
    parent.RemoveSection(name);
    const CConfigAccessor list = parent.GetSubAccessor(name);
    for (const std::string& row : rows) {
        if (!HoldsSettingsSeparator(row))
            list.SetString(row, row);
    }
}

std::vector<ServerUser> ListEnabledUsers(const CConfigAccessor& setting)
{
    return ReadEntries(setting.GetSubAccessor(schema::kEnabledUsers.path), [](const CConfigAccessor& user) {
        return ServerUser{schema::kUserName.Read(user, schema::kControllerDefault),
                          schema::kUserComment.Read(user, schema::kControllerDefault)};
    });
}
