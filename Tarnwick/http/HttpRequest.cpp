#include "HttpRequest.h"

#include "RequestHeader.h"
#include "ServerFatalException.h"

#include "Base64.h"
#include "CRuntime.h"
#include "UrlCoding.h"

namespace {

const char kBasicScheme[] = "Basic ";
constexpr std::string::size_type kBasicSchemeLength = sizeof kBasicScheme - 1;

}  // namespace

CHttpRequest::CHttpRequest(const std::string& header, const CConfigAccessor& requestView)
{
    if (Parse(header, requestView) != 0)
        throw CServerFatalException{"異常なヘッダーを受信しました"};
}

int CHttpRequest::TakeLine(std::string& text, std::string& line)
{
    return TakeToken(text, line, "\r\n");
}

int CHttpRequest::TakeToken(std::string& text, std::string& token, const std::string& separator)
{
    std::string_view rest = text;
    std::string_view taken;
    if (!TakeToken(rest, taken, separator))
        return 0;
    token.assign(taken);
    text.erase(0, text.size() - rest.size());
    return 1;
}

int CHttpRequest::TakeLine(std::string_view& text, std::string_view& line) { return TakeToken(text, line, "\r\n"); }

int CHttpRequest::TakeToken(std::string_view& text, std::string_view& token, std::string_view separator)
{
    const std::string_view::size_type end = text.find(separator);
    if (end == std::string_view::npos)
        return 0;
    token = text.substr(0, end);
    text.remove_prefix(end + separator.size());
    return 1;
}

int CHttpRequest::Parse(std::string header, const CConfigAccessor& requestView)
{
    // A header read off a socket was already checked; one handed in otherwise is not.
    std::size_t end = 0;
    if (ScanRequestHeader(header.data(), header.size(), end) == RequestHeaderScan::Malformed)
        return -1;

    std::string requestLine;
    if (!TakeLine(header, requestLine))
        return -1;
    std::string method;
    std::string url;
    std::string protocol;
    if (!TakeToken(requestLine, method, " ") || !TakeToken(requestLine, url, " "))
        return -1;
    // Any protocol name passes; only its version is kept.
    if (!TakeToken(requestLine, protocol, "/") || requestLine.empty())
        return -1;

    method_ = method;
    url_ = url;
    object_ = NormalizeUrlPath(GetUrlPath(url));
    query_ = GetUrlQuery(url);
    queryDecoded_ = DecodeUrlText(query_);
    version_ = requestLine;

    // Readers in other threads see either no RequestInfo leaves or all of them.
    CConfigLock lock(requestView);
    const CConfigAccessor headerView = requestView.GetSubAccessor("Options");
    std::string_view rest = header;
    std::string_view line;
    while (TakeLine(rest, line)) {
        std::string_view name;
        if (TakeToken(line, name, ": ") && !line.empty())
            headerView.SetString(name, line);
    }

    // RFC 9110 5.1: field names are case-insensitive; RFC 9110 11.1: so is the scheme.
    const std::string authorization = headerView.GetString("Authorization", "", 1);
    user_.clear();
    passwd_.clear();
    if (authorization.size() > kBasicSchemeLength &&
        platform::_mbsicmp(authorization.substr(0, kBasicSchemeLength), kBasicScheme) == 0) {
        const std::string decoded = Base64Decode(authorization.substr(kBasicSchemeLength));
        const std::string::size_type colon = decoded.find(':');
        if (colon != std::string::npos) {
            user_ = decoded.substr(0, colon);
            passwd_ = decoded.substr(colon + 1);
        }
    }

    requestView.SetString("Method", method_);
    requestView.SetString("URL", url_);
    requestView.SetString("Object", object_);
    requestView.SetString("Version", version_);
    requestView.SetString("Query", query_);
    requestView.SetString("QueryDecoded", queryDecoded_);
    requestView.SetString("User", user_);
    requestView.SetString("Passwd", passwd_);

    requestView_ = requestView;
    headerView_ = headerView;
    return 0;
}

std::string CHttpRequest::GetHeader(const std::string& name, const std::string& defaultValue) const
{
    if (!headerView_.GetTree())
        return defaultValue;
    return headerView_.GetString(name, defaultValue, 1);
}
