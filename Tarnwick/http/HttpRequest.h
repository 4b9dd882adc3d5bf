#pragma once
// One parsed request header: the request line's parts, the Basic credentials, and views on
// the request's RequestInfo node (and its Options node of header lines) in the context
// tree. A value type: every path-based response keeps a copy, whose views still address
// the same nodes.

#include "ConfigAccessor.h"

#include <string>
#include <string_view>

class CHttpRequest {
public:
    CHttpRequest() = default;
    // Parses `header` (the request line and header lines up to the empty line) into the
    // fields and into `requestView` (the RequestInfo node, which must address a tree).
    // Throws CServerFatalException "異常なヘッダーを受信しました" for a malformed header.
    CHttpRequest(const std::string& header, const CConfigAccessor& requestView);
    virtual ~CHttpRequest() = default;

    // 0, or -1 for a malformed request: a request line without method, URL and a
    // "name/version" token with a non-empty version, or a header holding a NUL byte or a
    // bare CR. Nothing is written to the view before the request line has been accepted;
    // after it, the view's leaves Method to Passwd and its Options node (one leaf per
    // "name: value" line, name as sent) are written under the tree's lock in one step.
    int Parse(std::string header, const CConfigAccessor& requestView);

    // Cuts the first line (up to CR LF) off `text`: 1, or 0 with nothing changed.
    static int TakeLine(std::string& text, std::string& line);
    // Cuts the text before the first `separator` off `text`: 1, or 0 with nothing changed.
    static int TakeToken(std::string& text, std::string& token, const std::string& separator);
    // The same on views, copying nothing: the results view the text's bytes.
    static int TakeLine(std::string_view& text, std::string_view& line);
    static int TakeToken(std::string_view& text, std::string_view& token, std::string_view separator);

    const std::string& GetMethod() const { return method_; }
    const std::string& GetUrl() const { return url_; }
    const std::string& GetObject() const { return object_; }
    const std::string& GetVersion() const { return version_; }
    const std::string& GetQuery() const { return query_; }
    const std::string& GetQueryDecoded() const { return queryDecoded_; }
    const std::string& GetUser() const { return user_; }
    const std::string& GetPasswd() const { return passwd_; }
    const CConfigAccessor& GetRequestView() const { return requestView_; }
    const CConfigAccessor& GetHeaderView() const { return headerView_; }
    // A request header's value, its name matched without regard to case (RFC 9110 5.1);
    // `defaultValue` when absent or before a header was parsed.
    std::string GetHeader(const std::string& name, const std::string& defaultValue = "") const;

private:
    std::string method_;
    std::string url_;
    std::string object_;
    std::string version_;
    std::string query_;
    std::string queryDecoded_;
    std::string user_;
    std::string passwd_;
    CConfigAccessor requestView_;
    CConfigAccessor headerView_;
};
