#include "http/ResponseInfo.h"

#include "ByteScan.h"
#include "CRuntime.h"
#include "InPlaceAppender.h"

#include <charconv>
#include <cstdio>
#include <string_view>

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

const std::string kNoText = "500 Internal Server Error";

// RFC 9110 5.5: a field value carries no CR, LF or NUL. A value that holds one (a path
// taken from a request, say) would end the header line early and let the rest pass as
// headers of its own, so each such byte goes out as a blank.
void BlankLineBreaks(char* text, std::size_t size)
{
    // CR, LF and NUL are below 0x0E.
    if (!HoldsByteBelow(std::string_view(text, size), 0x0E))
        return;
    for (std::size_t i = 0; i < size; ++i)
        if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0')
            text[i] = ' ';
}

}  // namespace

const char* FindStatusText(int code)
{
    for (const StatusText& entry : kStatusTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

std::string GetStatusText(int code)
{
    if (const char* text = FindStatusText(code))
        return text;
    char text[32];
    std::snprintf(text, sizeof text, "%d UNKNOWN", code);
    return text;
}

void CResponseInfo::Clear()
{
    const ChangeLock lock(guard_);
    exists_ = false;
    code_ = 0;
    codeTextLength_ = 0;
    text_.clear();
    headers_.Clear();
    headerNode_ = false;
    hasCgiHeader_ = false;
    cgiHeader_.clear();
}

const std::string& CResponseInfo::GetText() const { return codeTextLength_ > 0 ? text_ : kNoText; }

void CResponseInfo::SetCode(int code)
{
    const ChangeLock lock(guard_);
    exists_ = true;
    code_ = code;
    const std::to_chars_result end = std::to_chars(codeText_, codeText_ + sizeof codeText_, code);
    codeTextLength_ = static_cast<std::size_t>(end.ptr - codeText_);
    if (const char* text = FindStatusText(code))
        text_.assign(text);
    else
        text_ = GetStatusText(code);
}

void CResponseInfo::SetHeader(std::string_view name, std::string_view value)
{
    const ChangeLock lock(guard_);
    exists_ = true;
    headerNode_ = true;
    headers_.Set(name, value);
}

void CResponseInfo::MakeHeaderNode()
{
    const ChangeLock lock(guard_);
    if (exists_)
        headerNode_ = true;
}

void CResponseInfo::SetCgiHeader(std::string_view lines)
{
    const ChangeLock lock(guard_);
    exists_ = true;
    hasCgiHeader_ = true;
    cgiHeader_.assign(lines.data(), lines.size());
}

void CResponseInfo::SetContentLength(int64_t length)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, length);
    SetHeader("Content-Length", std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

void CResponseInfo::AnnounceClose()
{
    const ChangeLock lock(guard_);
    headers_.EraseIgnoringCase("Keep-Alive");
    headers_.ReplaceIgnoringCase("Connection", "Close");
}

void CResponseInfo::AppendHeaderText(std::string& out) const
{
    const int code = GetCode();
    const bool bodiless = (code >= 100 && code < 200) || code == 204 || code == 304;
    const auto sent = [bodiless](const CFieldList::Field& field) {
        return !bodiless || !platform::EqualsIgnoringCase(field.name, "Content-Length");
    };
    constexpr std::string_view kStatusLine = "HTTP/1.1 ";
    constexpr std::string_view kSeparator = ": ";
    constexpr std::string_view kLineEnd = "\r\n";
    const std::string_view text = GetText();
    // Sized once and written in place: the block is most of what a small answer costs.
    std::size_t size = kStatusLine.size() + text.size() + kLineEnd.size() + cgiHeader_.size() + kLineEnd.size();
    for (const CFieldList::Field& field : headers_)
        if (sent(field))
            size += field.name.size() + kSeparator.size() + field.value.size() + kLineEnd.size();
    CInPlaceAppender block(out, size);
    block.Put(kStatusLine);
    block.Put(text);
    block.Put(kLineEnd);
    for (const CFieldList::Field& field : headers_) {
        if (!sent(field))
            continue;
        BlankLineBreaks(block.Put(field.name), field.name.size());
        block.Put(kSeparator);
        BlankLineBreaks(block.Put(field.value), field.value.size());
        block.Put(kLineEnd);
    }
    // A CGI program's own header lines, already CR LF terminated.
    block.Put(cgiHeader_);
    block.Put(kLineEnd);
}
