#include "http/AccessCheck.h"

#include "core/BandWidth.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/SystemResponse.h"

#include "ConfigClass.h"
#include "IPv4Address.h"
#include "SettingsSchema.h"
#include "Wildcard.h"

#include "CRuntime.h"
#include "TextCodec.h"

#include <memory>
#include <vector>

namespace {

// The accounts, from the root of the settings tree.
const std::string kAccountsNode = "Setting::" + std::string(schema::kEnabledUsers.path);

std::unique_ptr<CSystemResponse> Refuse(CServerCore* core, const CConfigAccessor& threadView,
                                        const std::string& info, int code)
{
    return std::make_unique<CSystemResponse>(core, threadView, info, code, kNoDetail);
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& address)
{
    for (const std::string& pattern : patterns)
        if (WildcardMatchNoCase(pattern, address))
            return true;
    return false;
}

// The stored value of a node's first leaf with this exact key, or "".
std::string StoredValue(const std::vector<CConfigLeaf>& leaves, std::string_view key)
{
    for (const CConfigLeaf& leaf : leaves)
        if (leaf.key == key)
            return leaf.value;
    return "";
}

// RFC 9110 5.6.4: inside a quoted-string '"' and '\' travel as quoted-pairs and control
// bytes other than HTAB may not appear at all. Every 0x5C byte is escaped, the trail byte
// of a double-byte character too: a recipient reads the field byte by byte and would
// otherwise take it as the start of a quoted-pair; unquoting gives the byte back.
std::string QuotedString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
            continue;
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

// A WebDAV client sends "DOMAIN\user"; the account is the part after the first
// backslash. The search is lead-byte aware: 0x5C can be a trail byte of a user name.
std::string StripDomain(const std::string& user)
{
    const std::string::size_type backslash = platform::_mbsstr(user, "\\");
    return backslash == std::string::npos ? user : user.substr(backslash + 1);
}

// RFC 7617 2.1: browsers send Basic credentials in UTF-8, and the accounts are stored in
// Shift-JIS. Credentials that are well-formed UTF-8 and not plain ASCII are put in
// Shift-JIS, as the settings file's text is; false when they are not such, or hold a
// character Shift-JIS lacks, which no account can hold either.
bool Utf8CredentialsInShiftJis(std::string& user, std::string& password)
{
    if ((platform::IsAscii(user) && platform::IsAscii(password)) || !platform::IsWellFormedUtf8(user) ||
        !platform::IsWellFormedUtf8(password))
        return false;
    bool userLost = false;
    bool passwordLost = false;
    user = platform::Utf8ToCp932(user, &userLost);
    password = platform::Utf8ToCp932(password, &passwordLost);
    return !userLost && !passwordLost;
}

// CheckAccess; without a `limiter` the per-host connection limit is not applied.
std::unique_ptr<CSystemResponse> FirstRefusal(CServerCore* core, const CConfigAccessor& threadView,
                                              const CHttpRequest& request, const CRequestPath& path,
                                              const CBandWidthLimiter* limiter, int secure, const CIPv4Address& peer)
{
    const CConfigAccessor options = path.GetOptions();
    if (secure == 1) {
        if (schema::kAcceptHttps.ReadIn(options) == 0)
            return Refuse(core, threadView, "HTTPS からのアクセスは、許可されていません", 403);
    } else if (schema::kAcceptHttp.ReadIn(options) == 0) {
        return Refuse(core, threadView, "HTTP からのアクセスは、許可されていません", 403);
    }

    if (CheckHostKick(path, peer) == 1)
        return Refuse(core, threadView, "ホスト " + peer.ToString() + " からのアクセスは、許可されていません", 403);

    if (limiter != nullptr && limiter->IsHostOverLimit() == 1)
        return Refuse(core, threadView, "１ホストの最大接続数を超えました", 503);

    if (HidesPath(path, request.IsWrite() ? 1 : 0) == 1)
        return Refuse(core, threadView, kAccessRefused, 403);

    return Authenticate(core, threadView, request, path);
}

}  // namespace

std::unique_ptr<CSystemResponse> CheckAccess(CServerCore* core, const CConfigAccessor& threadView,
                                             const CHttpRequest& request, const CRequestPath& path,
                                             const CBandWidthLimiter& limiter, int secure, const CIPv4Address& peer)
{
    return FirstRefusal(core, threadView, request, path, &limiter, secure, peer);
}

bool MayEnter(CServerCore* core, const CHttpRequest& request, const CRequestPath& path, int secure,
              const CIPv4Address& peer)
{
    // A refusal is made on a node of its own: the request's answer stays as it is.
    CConfigClass scratch;
    return FirstRefusal(core, scratch.GetAccessor("Thread"), request, path, nullptr, secure, peer) == nullptr;
}

int HidesPath(const CRequestPath& path, int write)
{
    // The option is looked up only for a hidden path, the rare case.
    const int hidden = write == 1 ? path.NamesHidden() : path.IsHidden();
    return hidden == 1 && schema::kEnableHiddenFile.ReadIn(path.GetOptions()) == 0 ? 1 : 0;
}

int CheckHostKick(const CRequestPath& path, const CIPv4Address& peer)
{
    const CConfigAccessor entry = path.GetEntry();
    CConfigReadLock lock(entry);
    if (schema::kEnableHostKick.Read(entry) == 0)
        return 0;

    const std::string address = peer.ToString();
    if (MatchesAny(entry.GetSubAccessor(schema::kKickDenied.path).GetLeafValues(), address))
        return 1;
    if (MatchesAny(entry.GetSubAccessor(schema::kKickAccept.path).GetLeafValues(), address))
        return 0;
    return 1;
}

std::unique_ptr<CSystemResponse> Authenticate(CServerCore* core, const CConfigAccessor& threadView,
                                              const CHttpRequest& request, const CRequestPath& path)
{
    const CConfigAccessor entry = path.GetEntry();
    const CConfigAccessor options = path.GetOptions();
    std::string realm;
    {
        CConfigReadLock lock(entry);
        if (schema::kEnableAuthenticate.ReadIn(options) == 0)
            return nullptr;

        const bool webDav = schema::kEnableWebDav.ReadIn(options) != 0;
        std::string user = request.GetUser();
        std::string password = request.GetPasswd();
        if (FindUser(webDav ? StripDomain(user) : user, password, path) == 1)
            return nullptr;
        if (Utf8CredentialsInShiftJis(user, password) &&
            FindUser(webDav ? StripDomain(user) : user, password, path) == 1)
            return nullptr;
        realm = schema::kInfo.Read(entry);
    }

    std::unique_ptr<CSystemResponse> response = Refuse(core, threadView, "認証が必要です", 401);
    response->GetResponseInfo().GetSubAccessor("Options").SetString("WWW-Authenticate",
                                                                    "Basic realm=" + QuotedString(realm));
    return response;
}

int FindUser(const std::string& user, const std::string& password, const CRequestPath& path)
{
    const CConfigAccessor entry = path.GetEntry();
    CConfigReadLock lock(entry);

    bool listed = false;
    for (const std::string& name : entry.GetSubAccessor(schema::kUsers.path).GetLeafValues())
        if (name == user) {
            listed = true;
            break;
        }
    if (!listed)
        return 0;

    const CConfigAccessor accounts = entry.GetTree()->GetAccessor(kAccountsNode);
    std::vector<std::string> names;
    accounts.GetSections(names);
    for (const std::string& name : names) {
        std::vector<CConfigLeaf> leaves;
        accounts.GetSubAccessor(name).GetLeaves(leaves);
        if (StoredValue(leaves, schema::kUserName.path) == user &&
            StoredValue(leaves, schema::kUserPassword.path) == password)
            return 1;
    }
    return 0;
}
