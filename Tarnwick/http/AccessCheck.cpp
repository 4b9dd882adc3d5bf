#include "http/AccessCheck.h"

#include "core/BandWidth.h"
#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/RequestRecord.h"
#include "http/SystemResponse.h"

#include "IPv4Address.h"
#include "SettingsSchema.h"
#include "Wildcard.h"

#include "CRuntime.h"
#include "TextCodec.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<CSystemResponse> Refuse(CServerCore* core, CRequestRecord& record, const std::string& info, int code)
{
    return std::make_unique<CSystemResponse>(core, record, info, code, kNoDetail);
}

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& address)
{
    for (const std::string& pattern : patterns)
        if (WildcardMatchNoCase(pattern, address))
            return true;
    return false;
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

// The first rule of CheckAccess that refuses the request: its code and Info text, or code
// 0 when every rule lets it through. Without a `limiter` the per-host connection limit is
// not applied.
struct Refusal {
    int code = 0;
    std::string info;
};
Refusal FirstRefusal(const CHttpRequest& request, const CRequestPath& path, const CBandWidthLimiter* limiter,
                     int secure, const CIPv4Address& peer)
{
    const CSettingsSnapshot::PathEntry& entry = path.Entry();
    if (secure == 1) {
        if (entry.acceptHttps.Read() == 0)
            return {403, "HTTPS からのアクセスは、許可されていません"};
    } else if (entry.acceptHttp.Read() == 0) {
        return {403, "HTTP からのアクセスは、許可されていません"};
    }

    if (CheckHostKick(path, peer) == 1)
        return {403, "ホスト " + peer.ToString() + " からのアクセスは、許可されていません"};

    if (limiter != nullptr && limiter->IsHostOverLimit() == 1)
        return {503, "１ホストの最大接続数を超えました"};

    if (HidesPath(path, request.IsWrite() ? 1 : 0) == 1)
        return {403, kAccessRefused};

    if (!IsAuthenticated(request, path))
        return {401, "認証が必要です"};
    return {};
}

}  // namespace

std::unique_ptr<CSystemResponse> CheckAccess(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                                             const CBandWidthLimiter& limiter, int secure, const CIPv4Address& peer)
{
    const Refusal refusal = FirstRefusal(record.GetRequest(), path, &limiter, secure, peer);
    if (refusal.code == 0)
        return nullptr;
    if (refusal.code == 401)
        return Authenticate(core, record, path);
    return Refuse(core, record, refusal.info, refusal.code);
}

bool MayEnter(const CHttpRequest& request, const CRequestPath& path, int secure, const CIPv4Address& peer)
{
    return FirstRefusal(request, path, nullptr, secure, peer).code == 0;
}

int HidesPath(const CRequestPath& path, int write)
{
    // The option is looked up only for a hidden path, the rare case.
    const int hidden = write == 1 ? path.NamesHidden() : path.IsHidden();
    return hidden == 1 && path.Entry().enableHiddenFile.Read() == 0 ? 1 : 0;
}

int CheckHostKick(const CRequestPath& path, const CIPv4Address& peer)
{
    const CSettingsSnapshot::PathEntry& entry = path.Entry();
    if (entry.enableHostKick.Read() == 0)
        return 0;

    const std::string address = peer.ToString();
    if (MatchesAny(entry.kickDenied, address))
        return 1;
    if (MatchesAny(entry.kickAccept, address))
        return 0;
    return 1;
}

bool IsAuthenticated(const CHttpRequest& request, const CRequestPath& path)
{
    const CSettingsSnapshot::PathEntry& entry = path.Entry();
    if (entry.enableAuthenticate.Read() == 0)
        return true;
    const bool webDav = entry.enableWebDav.Read() != 0;
    std::string user = request.GetUser();
    std::string password = request.GetPasswd();
    if (FindUser(webDav ? StripDomain(user) : user, password, path) == 1)
        return true;
    return Utf8CredentialsInShiftJis(user, password) && FindUser(webDav ? StripDomain(user) : user, password, path) == 1;
}

std::unique_ptr<CSystemResponse> Authenticate(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
{
    if (IsAuthenticated(record.GetRequest(), path))
        return nullptr;
    const std::string realm = path.Entry().info.ReadCopy();
    std::unique_ptr<CSystemResponse> response = Refuse(core, record, "認証が必要です", 401);
    response->SetHeader("WWW-Authenticate", "Basic realm=" + QuotedString(realm));
    return response;
}

int FindUser(const std::string& user, const std::string& password, const CRequestPath& path)
{
    const std::vector<std::string>& users = path.Entry().users;
    if (std::find(users.begin(), users.end(), user) == users.end())
        return 0;
    for (const CSettingsSnapshot::Account& account : path.Settings().Accounts())
        if (account.user == user && account.password == password)
            return 1;
    return 0;
}
