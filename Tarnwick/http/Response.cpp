#include "http/Response.h"

#include "core/ServerCore.h"

#include "CRuntime.h"

#include <cstdio>
#include <vector>

namespace {

struct StatusText {
    int code;
    const char* text;
};

const StatusText kStatusTexts[] = {
    {100, "100 Continue"},
    {101, "101 Switching Protocols"},
    {200, "200 OK"},
    {201, "201 Created"},
    {202, "202 Accepted"},
    {203, "203 Non-Authoritative Information"},
    {204, "204 No Content"},
    {205, "205 Reset Content"},
    {206, "206 Partial Content"},
    {207, "207 Multi-Status"},
    {300, "300 Multiple Choices"},
    {301, "301 Moved Permanently"},
    {302, "302 Found"},
    {303, "303 See Other"},
    {304, "304 Not Modified"},
    {305, "305 Use Proxy"},
    {306, "306 (Unused)"},
    {307, "307 Temporary Redirect"},
    {400, "400 Bad Request"},
    {401, "401 Unauthorized"},
    {402, "402 Payment Required"},
    {403, "403 Forbidden"},
    {404, "404 Not Found"},
    {405, "405 Method Not Allowed"},
    {406, "406 Not Acceptable"},
    {407, "407 Proxy Authentication Required"},
    {408, "408 Request Timeout"},
    {409, "409 Conflict"},
    {410, "410 Gone"},
    {411, "411 Length Required"},
    {412, "412 Precondition Failed"},
    {413, "413 Request Entity Too Large"},
    {414, "414 Request-URI Too Long"},
    {415, "415 Unsupported Media Type"},
    {416, "416 Requested Range Not Satisfiable"},
    {431, "431 Request Header Fields Too Large"},
    {500, "500 Internal Server Error"},
    {501, "501 Not Implemented"},
    {502, "502 Bad Gateway"},
    {503, "503 Service Unavailable"},
    {504, "504 Gateway Timeout"},
    {505, "505 HTTP Version Not Supported"},
    {507, "507 Insufficient Storage"},  // RFC 4918 11.5
};

// Room reserved for a header block: most fit, so the block is built without regrowing.
constexpr std::string::size_type kHeaderBlockRoom = 512;

// RFC 9110 5.5: a field value carries no CR, LF or NUL. A value that holds one (a path
// taken from a request, say) would end the header line early and let the rest pass as
// headers of its own, so each such byte goes out as a blank.
void AppendFieldText(std::string& out, const std::string& text)
{
    const std::string::size_type start = out.size();
    out += text;
    for (std::string::size_type i = start; i < out.size(); ++i) {
        if (out[i] == '\r' || out[i] == '\n' || out[i] == '\0')
            out[i] = ' ';
    }
}

}  // namespace

CResponse::CResponse(CServerCore* core, const CConfigAccessor& threadView)
    : threadView_(threadView),
      settingsView_(core->GetSettingAccessor()),
      infoView_(core->GetInfoAccessor()),
      requestView_(threadView.GetSubAccessor("RequestInfo")),
      requestHeaderView_(requestView_.GetSubAccessor("Options")),
      responseView_(threadView.GetSubAccessor("ResponseInfo")),
      responseHeaderView_(responseView_.GetSubAccessor("Options")),
      core_(core)
{
    SetDefaultHeaders();
}

void CResponse::SetResponseCode(int code)
{
    CConfigLock lock(responseView_);
    responseView_.SetInt("ResponseCode", code);
    responseView_.SetString("ResponseText", GetStatusText(code));
}

void CResponse::SetDefaultHeaders()
{
    // Everything read comes first: the response node is then written under one hold of
    // its tree's lock (the connection's own tree), so that a reader copying the context
    // tree sees all of the default headers or none.
    const std::string server = infoView_.GetString("ServerSignature", "Tarnwick");
    const CCoreSettings& settings = core_->GetCoreSettings();
    // RFC 9110 5.1: field names are case-insensitive, so the name is matched in any case.
    const bool keepAliveOn = settings.EnableKeepAlive() != 0 &&
                             platform::_mbsicmp(requestHeaderView_.GetString("Connection", "", 1), "keep-alive") == 0;
    char keepAlive[64] = "";
    if (keepAliveOn)
        std::snprintf(keepAlive, sizeof keepAlive, "timeout=%d, max=%d", settings.KeepAliveTime(),
                      settings.MaxKeepAlive());

    CConfigLock lock(responseView_);
    SetResponseCode(200);
    responseHeaderView_.SetString("Server", server);
    // The moment the request began, not the moment the answer goes out.
    responseHeaderView_.SetString("Date", threadView_.GetString("StartTime::GMT", ""));
    responseHeaderView_.SetString("Content-Type", "text/html");
    if (keepAliveOn) {
        responseHeaderView_.SetString("Keep-Alive", keepAlive);
        responseHeaderView_.SetString("Connection", "Keep-Alive");
    } else {
        responseHeaderView_.SetString("Connection", "Close");
    }
}

std::string GetStatusText(int code)
{
    for (const StatusText& entry : kStatusTexts) {
        if (entry.code == code)
            return entry.text;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%d UNKNOWN", code);
    return text;
}

std::string BuildHeaderText(const CConfigAccessor& responseView)
{
    // One snapshot of the node, so that the block never mixes two states of it.
    CConfigLock lock(responseView);
    std::string header;
    header.reserve(kHeaderBlockRoom);
    header += "HTTP/1.1 ";
    header += responseView.GetString("ResponseText", "500 Internal Server Error");
    header += "\r\n";
    // RFC 9110 8.6: no Content-Length on a 1xx or 204 answer; a 304 has no content.
    const int code = responseView.GetInt("ResponseCode", 500);
    const bool bodiless = (code >= 100 && code < 200) || code == 204 || code == 304;
    responseView.GetSubAccessor("Options").VisitLeaves([&](const CConfigLeaf& field) {
        if (bodiless && platform::_mbsicmp(field.key, "Content-Length") == 0)
            return;
        AppendFieldText(header, field.key);
        header += ": ";
        AppendFieldText(header, field.value);
        header += "\r\n";
    });
    // A CGI program's own header lines, already CR LF terminated.
    header += responseView.GetString("CGIHeader", "");
    header += "\r\n";
    return header;
}

void AnnounceClose(const CConfigAccessor& responseView)
{
    const CConfigAccessor headers = responseView.GetSubAccessor("Options");
    CConfigLock lock(headers);
    std::vector<CConfigLeaf> fields;
    headers.GetLeaves(fields);
    headers.Clear();
    for (const CConfigLeaf& field : fields) {
        if (platform::_mbsicmp(field.key, "Keep-Alive") == 0)
            continue;
        headers.SetString(field.key, platform::_mbsicmp(field.key, "Connection") == 0 ? "Close" : field.value);
    }
}
