#pragma once
// The access rules of the path entry that serves a request, applied before any response
// is chosen: plain or secure access, the client host lists, the per-host connection
// limit, hidden files, and HTTP Basic authentication against the accounts of the
// settings. The connection worker forwards to these with its own socket's facts, so the
// rules can be checked without a connection.
//
// A refusal is a new CSystemResponse (code and Info text; Detail "詳細情報はありません。")
// returned to the caller, who owns it; null means the request may go on. Nothing is
// thrown but what making the refusal throws (std::bad_alloc). The settings are read from
// the snapshot the path was resolved on.

#include "ConfigAccessor.h"

#include <memory>
#include <string>

class CBandWidthLimiter;
class CHttpRequest;
class CIPv4Address;
class CRequestPath;
class CRequestRecord;
class CServerCore;
class CSystemResponse;

// Null when every rule of the entry lets the request through; otherwise the refusal of the
// first failing rule:
//   403 "HTTPS からのアクセスは、許可されていません"  secure socket, option AcceptHTTPS 0
//   403 "HTTP からのアクセスは、許可されていません"   plain socket, option AcceptHTTP 0
//   403 "ホスト <peer> からのアクセスは、許可されていません"  CheckHostKick refuses
//   503 "１ホストの最大接続数を超えました"  the limiter's host is over Basic::MaxOneHostConnect
//   403 "このファイル・ディレクトリへのアクセスは、許可されていません"  HidesPath, for a
//       write if the request is one
//   401 from Authenticate.
// `core` (not owned) makes the responses for `record`, the request's record, whose parsed
// request is checked; `secure` is the socket's IsSecure; `peer` the socket's peer address.
std::unique_ptr<CSystemResponse> CheckAccess(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                                             const CBandWidthLimiter& limiter, int secure, const CIPv4Address& peer);

// Whether a request from `peer`, over a socket that is `secure` or not, with the
// credentials of `request`, may enter the folder of `path`: every rule of CheckAccess but
// the per-host connection limit, which counts connections rather than guarding a path.
// For a response that reaches into another entry's folder on the request's behalf.
bool MayEnter(const CHttpRequest& request, const CRequestPath& path, int secure, const CIPv4Address& peer);

// 1 when the entry of `path` hides what the path names from clients: option
// EnableHiddenFile is 0 and a name below the entry's LocalPath starts with '.'. For a read
// only a file or folder that is there counts (CRequestPath::IsHidden), so a missing one is
// not found; for a write (`write` 1) so does the name it would make
// (CRequestPath::NamesHidden), which nothing could read or remove afterwards. Else 0.
int HidesPath(const CRequestPath& path, int write);

// 1 = refuse, 0 = allow. With option EnableHostKick 0 every peer is allowed; otherwise
// the peer's dotted address (never a name or the Host header) must match no pattern of
// the entry's Kick::Denied list and some pattern of its Kick::Accept list
// (WildcardMatchNoCase), so an empty Accept list refuses everyone.
int CheckHostKick(const CRequestPath& path, const CIPv4Address& peer);

// Whether the request may use the path's entry as far as authentication goes: option
// EnableAuthenticate is 0, or the request's credentials pass FindUser. With option
// EnableWebDAV on, a user name "DOMAIN\user" counts as "user" (the text after the first
// backslash). Credentials that are well-formed UTF-8 and not plain ASCII, as browsers send
// them, are tried as sent and then in Shift-JIS.
bool IsAuthenticated(const CHttpRequest& request, const CRequestPath& path);

// Null when IsAuthenticated; otherwise the refusal 401 "認証が必要です" whose answer
// carries WWW-Authenticate: Basic realm="<the entry's Info leaf>" (RFC 9110 11.6.1), the
// realm quoted so that no settings value can end the string or the header line.
std::unique_ptr<CSystemResponse> Authenticate(CServerCore* core, CRequestRecord& record, const CRequestPath& path);

// 1 when `user` is a value of the entry's Users list and an account under
// Setting::User::Enable has exactly this User and Passwd; else 0. Exact byte comparisons
// against the stored text: a credential is no template, so placeholders such as %Year%
// are not filled in before comparing. Accounts under Setting::User::Disable never count.
int FindUser(const std::string& user, const std::string& password, const CRequestPath& path);
