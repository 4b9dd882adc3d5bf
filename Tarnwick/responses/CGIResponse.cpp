#include "responses/CGIResponse.h"

#include "http/ConnectionState.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/CGIProgram.h"

#include "ByteBuffer.h"
#include "ConfigClass.h"
#include "CRuntime.h"
#include "FilePath.h"
#include "TextTrim.h"
#include "UrlCoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// The header block must end within this many bytes of output: a program that writes no
// header would otherwise have its whole output searched.
constexpr int32_t kHeaderSearchLength = 4096;
// Bodies announced above this size raise the input buffer's grow step to the whole body, so
// that a large body is held in one allocation instead of regrowing for every chunk.
constexpr int64_t kLargeBody = 65536;

// The error page shows the start of what the program wrote to its standard error; a
// program that floods it must not make the page as large as its output limit.
constexpr std::string::size_type kMaxErrorDetail = 65536;
const char kNoHeader[] = "CGIエラー : CGIヘッダーが出力されませんでした";

// Carriage returns and line feeds off both ends; blanks stay.
constexpr std::string_view kLineEnds = "\r\n";

// RFC 9110 5.5: a field value holds no CR. The lines are split at LF only, so a CR left
// inside a name or value (which some clients take for a line end) goes out as a blank.
std::string SafeFieldText(std::string text)
{
    for (char& c : text) {
        if (c == '\r')
            c = ' ';
    }
    return text;
}

// RFC 9112 6: the server frames the answer itself (its Content-Length, its Connection),
// so the program's own framing lines would contradict it. Blanks around the name are
// ignored here, as lenient clients ignore them.
bool IsFramingField(const std::string& name)
{
    const std::string bare = TrimOws(name);
    return platform::_mbsicmp(bare, "Content-Length") == 0 || platform::_mbsicmp(bare, "Transfer-Encoding") == 0 ||
           platform::_mbsicmp(bare, "Connection") == 0;
}

// RFC 9110 15: a final answer's code is 200 to 599; 1xx codes are interim and would leave
// the client waiting for another answer.
bool IsFinalStatus(int code) { return code >= 200 && code <= 599; }

// RFC 9110 15.3.5, 15.4.5: a 204 or 304 answer has no content, so its body is not sent.
bool HasNoContent(int code) { return code == 204 || code == 304; }

}  // namespace

CCGIResponse::CCGIResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, CConnectionState& connection)
    : CNormalResponse(core, record, path), connection_(connection), process_(connection)
{
    if (!path_.Exists() || path_.GetLocalPath().empty()) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    // RFC 9110 9.1: method names are case-sensitive.
    const HttpMethod method = request_.GetMethodKind();
    if (method != HttpMethod::Get && method != HttpMethod::Head && method != HttpMethod::Post) {
        CSystemResponse& notAllowed = ReplaceWithStatusPage(kNotAllowed, 405);
        // RFC 9110 15.5.6: a 405 names the methods the target does support.
        notAllowed.SetHeader("Allow", "GET, HEAD, POST");
        return;
    }
}

CCGIResponse::~CCGIResponse() = default;

void CCGIResponse::BeginReceive()
{
    const int64_t length = request_.GetContentLength();
    if (length > kLargeBody && length <= kMaxRequestBody)
        process_.GetInput().SetGrowBy(static_cast<int32_t>(length));
}

void CCGIResponse::ReceiveData(CByteBuffer& chunk)
{
    CByteBuffer& input = process_.GetInput();
    // A chunked body's length is known only at its end: the buffer at least doubles as it
    // grows, so that the bytes are copied a few times over, not once per chunk.
    if (request_.GetBodyFraming().chunked && input.GetLength() > kLargeBody)
        input.SetGrowBy(input.GetLength());
    input.AppendBuffer(chunk);
}

void CCGIResponse::Build()
{
    // The body was taken whole before the program starts: its length is known, decoded.
    process_.SetEnvironmentBlock(
        PrepareEnvironment(core_, record_, path_, MakeCgiCallFacts(connection_, process_.GetInput().GetLength())));
    try {
        process_.Start(record_.GetScriptCommand(), GetParentDirectory(path_.GetLocalPath()), record_.GetThreadName());
    } catch (const CSubProcessException& e) {
        ReplaceWithError("CGI実行エラー : " + e.message);
        return;
    }

    const std::string header = FindHeaderEnd(process_.GetOutput());
    CConfigClass scratch;
    const CConfigAccessor option = scratch.GetAccessor("Option");
    ParseHeaderLines(option, header);
    if (option.GetKeyCount() == 0) {
        ReplaceWithError(kNoHeader);
        return;
    }

    int code = 200;
    // The first word's number; the reason phrase after it is not used.
    const int number = platform::Atoi(option.GetString("Status", ""));
    if (IsFinalStatus(number)) {
        code = number;
        SetResponseCode(code);
    }

    // The program's bytes stand; only those a header may not carry raw are escaped. The
    // blank the CGI header kept after its colon is not part of the URL.
    std::string location = option.GetString("Location", "");
    const std::string::size_type url = location.find_first_not_of(kOws);
    if (url != std::string::npos)
        location.replace(url, std::string::npos, EscapeNonUrlBytes(location.substr(url)));
    if (!location.empty()) {
        Answer().SetCgiHeader(option.GetString("CGIHeader", ""));
        // The CGI convention (RFC 3875 6.2.3): a Location alone redirects with 302; a
        // redirect code the program chose stands.
        const int redirectCode = code >= 300 && code <= 399 ? code : 302;
        CSystemResponse& redirect = ReplaceWithStatusPage(location + " に移動してください", redirectCode);
        redirect.SetHeader("Location", location);
        return;
    }

    const std::string contentType = option.GetString("Content-Type", "");
    if (contentType.empty()) {
        ReplaceWithError(kNoHeader);
        return;
    }
    SetHeader("Content-Type", contentType);
    Answer().SetCgiHeader(option.GetString("CGIHeader", ""));
    if (HasNoContent(code))
        process_.GetOutput().Clear();
}

int64_t CCGIResponse::GetContentLength() { return process_.GetOutput().GetLength(); }

int CCGIResponse::GetSendData(CByteBuffer& buffer)
{
    const COutputSpool& output = process_.GetOutput();
    const int64_t rest = output.GetLength() - sent_;
    if (rest <= 0)
        return 0;
    if (rest < buffer.GetLength())
        buffer.SetLength(static_cast<int32_t>(rest));
    const int64_t count = output.Read(sent_, buffer.GetData(), buffer.GetLength());
    // The header went out with the length: a body cut short now can only end the connection.
    if (count < buffer.GetLength())
        throw CServerFatalException{"CGIの出力を一時ファイルから読めませんでした : " +
                                    std::string(std::strerror(count < 0 ? errno : EIO))};
    sent_ += count;
    return static_cast<int>(count);
}

std::string CCGIResponse::FindHeaderEnd(COutputSpool& output)
{
    const std::string window = output.ReadText(kHeaderSearchLength);
    const std::string text = window.substr(0, window.find('\0'));
    std::string::size_type bodyStart = 0;
    const std::string::size_type end = FindBlankLine(text, bodyStart);
    if (end == std::string::npos)
        return "";
    output.DropFront(static_cast<int64_t>(bodyStart));
    return text.substr(0, end);
}

std::string::size_type CCGIResponse::FindBlankLine(const std::string& text, std::string::size_type& bodyStart)
{
    const std::string::size_type crlf = text.find("\r\n\r\n");
    const std::string::size_type lf = text.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || lf > crlf)) {
        bodyStart = crlf + 4;
        return crlf;
    }
    if (lf != std::string::npos)
        bodyStart = lf + 2;
    return lf;
}

void CCGIResponse::ParseHeaderLines(const CConfigAccessor& node, const std::string& header)
{
    CConfigLock lock(node);
    std::string passed = node.GetString("CGIHeader", "");
    bool anyPassed = false;
    std::string::size_type start = 0;
    while (start < header.size()) {
        std::string::size_type end = header.find('\n', start);
        if (end == std::string::npos)
            end = header.size();
        const std::string piece = header.substr(start, end - start);
        start = end + 1;
        const std::string::size_type colon = piece.find(':');
        if (piece.empty() || colon == std::string::npos)
            continue;
        const std::string name = SafeFieldText(TrimText(piece.substr(0, colon), kLineEnds));
        const std::string value = SafeFieldText(TrimText(piece.substr(colon + 1), kLineEnds));
        // A line without a name is no field line (RFC 9112 5).
        if (name.empty())
            continue;
        const char* const named[] = {"Status", "Content-Type", "Location"};
        bool isNamed = false;
        for (const char* known : named) {
            if (platform::_mbsicmp(name, known) == 0) {
                node.SetString(known, value);
                isNamed = true;
                break;
            }
        }
        if (isNamed || IsFramingField(name))
            continue;
        passed += name + ": " + value + "\r\n";
        anyPassed = true;
    }
    if (anyPassed)
        node.SetString("CGIHeader", passed);
}

void CCGIResponse::ReplaceWithError(const std::string& message)
{
    std::string detail = kNoDetail;
    // The detail ends at the first zero byte, as a C string would.
    std::string text = process_.GetErrors().ReadText(static_cast<int64_t>(kMaxErrorDetail) + 1);
    text.resize(std::min(text.size(), text.find('\0')));
    if (!text.empty()) {
        if (text.size() > kMaxErrorDetail) {
            std::string::size_type end = 0;
            while (end + platform::CharLength(text, end) <= kMaxErrorDetail)
                end += platform::CharLength(text, end);
            text.resize(end);
        }
        const std::string format = "-- 以下、CGIプログラムによるエラー情報 --\n\n";
        detail = format + text;
    }
    ReplaceWithStatusPage(message, 500, detail);
}
