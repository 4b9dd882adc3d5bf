#include "http/HttpRequest.h"

#include "http/RequestHeader.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "Base64.h"
#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "CRuntime.h"
#include "UrlCoding.h"

#include <algorithm>
#include <limits>

namespace {

const char kBasicScheme[] = "Basic ";
constexpr std::string::size_type kBasicSchemeLength = sizeof kBasicScheme - 1;

const char kUnsupportedVersion[] = "この HTTP のバージョンには対応していません";
const char kBadHostLines[] = "Host ヘッダーが異常です";
const char kBadCoding[] = "この Transfer-Encoding には対応していません";
const char kTwoFramings[] = "Transfer-Encoding と Content-Length が両方あります";
const char kBadLength[] = "Content-Length が異常です";

// A Content-Length of more digits is refused: any 18 digits fit in 64 bits.
constexpr std::string_view::size_type kMaxContentLengthDigits = 18;

const char kVersionName[] = "HTTP/";
constexpr std::string_view::size_type kVersionNameLength = sizeof kVersionName - 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// RFC 9110 5.6.2: a token, such as a method or a field name.
bool IsToken(std::string_view text)
{
    constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [&](char c) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        return letter || IsDigit(c) || kSymbols.find(c) != std::string_view::npos;
    });
}

// RFC 9112 2.3: "HTTP/" DIGIT "." DIGIT. 0 for HTTP/1.x; 505 for a version in that form
// (more digits allowed, the minor one optional) whose major is not 1; 400 for anything else.
int CheckVersion(std::string_view protocol)
{
    if (protocol.substr(0, kVersionNameLength) != kVersionName)
        return 400;
    const std::string_view version = protocol.substr(kVersionNameLength);
    std::string_view::size_type i = 0;
    while (i < version.size() && IsDigit(version[i]))
        ++i;
    const std::string_view major = version.substr(0, i);
    if (major.empty())
        return 400;
    if (i < version.size()) {
        if (version[i] != '.' || i + 1 == version.size())
            return 400;
        for (++i; i < version.size(); ++i)
            if (!IsDigit(version[i]))
                return 400;
    }
    if (version.size() == 3 && major == "1")
        return 0;
    return major == "1" ? 400 : 505;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

CHttpRequest::CHttpRequest(const std::string& header)
{
    const int code = Parse(header);
    if (code != 0)
        throw CRequestRefusal{code, refusal_};
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

bool CHttpRequest::SplitField(std::string_view line, std::string_view& name, std::string_view& value)
{
    const std::string_view::size_type colon = line.find(':');
    if (colon == std::string_view::npos || !IsToken(line.substr(0, colon)))
        return false;
    std::string_view rest = line.substr(colon + 1);
    while (!rest.empty() && IsBlank(rest.front()))
        rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.back()))
        rest.remove_suffix(1);
    name = line.substr(0, colon);
    value = rest;
    return true;
}

void CHttpRequest::Clear()
{
    method_.clear();
    methodKind_ = HttpMethod::Other;
    url_.clear();
    object_.clear();
    version_.clear();
    query_.clear();
    queryDecoded_.clear();
    user_.clear();
    passwd_.clear();
    headers_.Clear();
    bodyFraming_ = BodyFraming();
    hostLines_ = 0;
    asksKeepAlive_ = false;
    pathHoldsDotDot_ = false;
    pathHoldsControlByte_ = false;
    leaves_ = Leaves::kNone;
}

int CHttpRequest::Parse(std::string_view header)
{
    Clear();
    const auto refuse = [this](int code, const char* why) {
        Clear();
        refusal_ = why;
        return code;
    };
    // A header read off a socket was already checked; one handed in otherwise is not.
    std::size_t end = 0;
    if (ScanRequestHeader(header.data(), header.size(), end) == RequestHeaderScan::Malformed)
        return refuse(400, kMalformedHeader);

    std::string_view rest = header;
    std::string_view requestLine;
    std::string_view method;
    std::string_view url;
    if (!TakeLine(rest, requestLine) || !TakeToken(requestLine, method, " ") || !IsToken(method) ||
        !TakeToken(requestLine, url, " ") || url.empty())
        return refuse(400, kMalformedHeader);
    if (const int code = CheckVersion(requestLine))
        return refuse(code, code == 505 ? kUnsupportedVersion : kMalformedHeader);
    // RFC 9112 2.2: the header ends at its empty line; a header handed in without one
    // ends with its last whole line.
    std::string_view line;
    CBodyFramingReader framing;
    while (TakeLine(rest, line) && !line.empty()) {
        std::string_view name;
        std::string_view value;
        if (!SplitField(line, name, value))
            return refuse(400, kMalformedHeader);
        if (platform::EqualsIgnoringCase(name, "Host"))
            ++hostLines_;
        framing.Take(name, value);
        if (!value.empty())
            headers_.Set(name, value);
    }
    url_.assign(url);
    const std::string path = GetUrlPath(url_);
    if (!IsShiftJisUrlPath(path)) {
        const int code = refuse(400, kMalformedUrl);
        // So that the log and the page name what was asked: the path as received.
        method_.assign(method);
        methodKind_ = MethodNamed(method);
        url_.assign(url);
        object_ = path;
        version_.assign(requestLine.substr(kVersionNameLength));
        query_ = GetUrlQuery(url_);
        leaves_ = Leaves::kRefusedPath;
        return code;
    }

    refusal_.clear();
    method_.assign(method);
    methodKind_ = MethodNamed(method);
    if (IsPlainUrlPath(path)) {
        object_ = path;
    } else {
        object_ = NormalizeUrlPath(path);
        pathHoldsDotDot_ = HoldsDotDotSegment(path);
        pathHoldsControlByte_ = DecodesToControlByte(path);
    }
    query_ = GetUrlQuery(url_);
    queryDecoded_ = DecodeUrlText(query_);
    version_.assign(requestLine.substr(kVersionNameLength));
    leaves_ = Leaves::kWhole;

    // RFC 9110 5.1: field names are case-insensitive; RFC 9110 11.1: so is the scheme.
    const std::string* authorization = FindHeader("Authorization");
    if (authorization && authorization->size() > kBasicSchemeLength &&
        platform::EqualsIgnoringCase(std::string_view(*authorization).substr(0, kBasicSchemeLength), kBasicScheme)) {
        const std::string decoded = Base64Decode(authorization->substr(kBasicSchemeLength));
        const std::string::size_type colon = decoded.find(':');
        if (colon != std::string::npos) {
            user_.assign(decoded, 0, colon);
            passwd_.assign(decoded, colon + 1, std::string::npos);
        }
    }

    // Read from the lines as sent, not from headers_, which keeps only a repeated line's last.
    bodyFraming_ = framing.Result(requestLine.substr(kVersionNameLength) == "1.1");
    const std::string* connection = FindHeader("Connection");
    asksKeepAlive_ = connection && platform::EqualsIgnoringCase(*connection, "keep-alive");
    return 0;
}

void CHttpRequest::FillNode(CConfigNode& requestInfo) const
{
    std::size_t leaves = 0;
    VisitLeaves([&](std::string_view key, std::string_view value) { requestInfo.SetLeafAt(leaves++, key, value); });
    requestInfo.TruncateLeaves(leaves);
    // A request refused for its path has no header lines to show.
    if (leaves_ == Leaves::kRefusedPath) {
        requestInfo.TruncateChildren(0);
        return;
    }
    FillFieldNode(requestInfo, "Options", headers_);
}

void CHttpRequest::WriteTo(const CConfigAccessor& requestView) const
{
    // Readers in other threads see either no RequestInfo leaves or all of them.
    CConfigClass::NodeWriter writer = requestView.GetTree()->WriteNode(requestView.GetPrefix());
    FillNode(writer.Node());
}

void CHttpRequest::CheckHostLines() const
{
    if (hostLines_ > 1 || (hostLines_ == 0 && version_ == "1.1"))
        throw CRequestRefusal{400, kBadHostLines};
}

HttpMethod MethodNamed(std::string_view name)
{
    static const struct {
        std::string_view name;
        HttpMethod method;
    } kMethods[] = {
        {"GET", HttpMethod::Get},           {"HEAD", HttpMethod::Head},         {"POST", HttpMethod::Post},
        {"PUT", HttpMethod::Put},           {"DELETE", HttpMethod::Delete},     {"MKCOL", HttpMethod::Mkcol},
        {"COPY", HttpMethod::Copy},         {"MOVE", HttpMethod::Move},         {"OPTIONS", HttpMethod::Options},
        {"PROPFIND", HttpMethod::Propfind}, {"PROPPATCH", HttpMethod::Proppatch}, {"LOCK", HttpMethod::Lock},
        {"UNLOCK", HttpMethod::Unlock},
    };
    for (const auto& known : kMethods)
        if (known.name == name)
            return known.method;
    return HttpMethod::Other;
}

std::string CHttpRequest::GetHeader(std::string_view name, const std::string& defaultValue) const
{
    const std::string* value = FindHeader(name);
    return value ? *value : defaultValue;
}

bool ParseDecimal(std::string_view digits, int64_t& value)
{
    if (digits.empty())
        return false;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    value = 0;
    for (char c : digits) {
        if (!IsDigit(c))
            return false;
        const int digit = c - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return true;
}

void CBodyFramingReader::Take(std::string_view name, std::string_view value)
{
    // Field names are tokens: ASCII, so EqualsIgnoringCase is the RFC's case-insensitivity.
    if (platform::EqualsIgnoringCase(name, "Transfer-Encoding")) {
        ++codingLines_;
        coding_ = value;
    } else if (platform::EqualsIgnoringCase(name, "Content-Length")) {
        // RFC 9112 6.3: every Content-Length line must give the same value.
        int64_t parsed = 0;
        if (value.size() > kMaxContentLengthDigits || !ParseDecimal(value, parsed) || (haveLength_ && parsed != length_))
            badLength_ = true;
        haveLength_ = true;
        length_ = parsed;
    } else if (platform::EqualsIgnoringCase(name, "Expect")) {
        expectsContinue_ = platform::EqualsIgnoringCase(value, "100-continue");
    }
}

BodyFraming CBodyFramingReader::Result(bool http11) const
{
    BodyFraming framing;
    if (codingLines_ > 0) {
        // RFC 9112 7: coding names are case-insensitive.
        if (codingLines_ > 1 || !platform::EqualsIgnoringCase(coding_, "chunked") || haveLength_ || !http11) {
            framing.refusal = 400;
            framing.reason = haveLength_ ? kTwoFramings : kBadCoding;
            return framing;
        }
        framing.chunked = true;
    } else if (badLength_) {
        framing.refusal = 400;
        framing.reason = kBadLength;
        return framing;
    } else if (haveLength_) {
        framing.contentLength = length_;
    }
    // RFC 9110 10.1.1: an HTTP/1.0 client's expectation is ignored.
    framing.expectsContinue = http11 && expectsContinue_;
    return framing;
}

BodyFraming ReadBodyFraming(std::string_view header)
{
    std::string_view rest = header;
    std::string_view line;
    CHttpRequest::TakeLine(rest, line);  // the request line
    // RFC 9112 2.3: the version is the request line's last word.
    const bool http11 = line.size() >= 9 && line.substr(line.size() - 9) == " HTTP/1.1";
    CBodyFramingReader reader;
    while (CHttpRequest::TakeLine(rest, line) && !line.empty()) {
        std::string_view name;
        std::string_view value;
        if (CHttpRequest::SplitField(line, name, value))
            reader.Take(name, value);
    }
    return reader.Result(http11);
}
