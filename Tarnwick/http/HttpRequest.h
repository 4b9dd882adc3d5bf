#pragma once
// One parsed request header: the request line's parts, the Basic credentials, the header
// lines by name, and what they say of the request (its body's framing, whether it asks to
// keep the connection or to be told to continue). Worked out once, when the header is
// parsed; every step of the request reads them here. A value type; parsing into an
// object that parsed before reuses its storage.

#include "http/FieldList.h"

#include <cstdint>
#include <string>
#include <string_view>

class CConfigAccessor;
class CConfigNode;

// What a request's header lines say of its body (RFC 9112 6.3).
struct BodyFraming {
    int refusal = 0;               // 0, or the status that refuses the request
    const char* reason = "";       // why, when refused: the request's Info text
    bool chunked = false;          // the body is chunked (RFC 9112 7.1): its end is in its framing
    int64_t contentLength = 0;     // the body's bytes to read by Content-Length; 0 when chunked or refused
    bool expectsContinue = false;  // RFC 9110 10.1.1: an HTTP/1.1 client holds its body back for "100 Continue"
};

// Reads the framing from `header` (the request line and header lines, as received) line by
// line, not from the parsed header lines, which keep only the last of repeated lines.
// Lines that SplitField refuses are passed over. Refuses with 400 (the connection cannot
// carry another request after it):
// - a Transfer-Encoding other than the one coding "chunked" (RFC 9112 6.1, 6.3; several
//   lines make a list), one beside a Content-Length (RFC 9112 6.1: a request smuggling
//   sign), and any in an HTTP/1.0 request (RFC 9112 6.1: its framing is faulty);
// - a Content-Length that is not all digits, or lines that disagree.
BodyFraming ReadBodyFraming(std::string_view header);

// ReadBodyFraming's rules, fed one header line at a time by a reader that splits the
// lines itself.
class CBodyFramingReader {
public:
    // Each header line that SplitField accepts, in the order sent.
    void Take(std::string_view name, std::string_view value);
    // The framing of the lines taken; `http11`: the request line names HTTP/1.1.
    BodyFraming Result(bool http11) const;

private:
    bool haveLength_ = false;
    int codingLines_ = 0;
    std::string_view coding_;  // the last Transfer-Encoding value, in the header's text
    int64_t length_ = 0;
    bool badLength_ = false;
    bool expectsContinue_ = false;
};

// The methods the server tells apart, by their name as sent: RFC 9110 9.1, method names
// are case-sensitive, so "get" is Other.
enum class HttpMethod { Get, Head, Post, Put, Delete, Mkcol, Copy, Move, Options, Propfind, Proppatch, Lock, Unlock, Other };

HttpMethod MethodNamed(std::string_view name);

class CHttpRequest {
public:
    CHttpRequest() = default;
    // Parses `header` (the request line and header lines up to the empty line). Throws
    // CRequestRefusal with Parse's code and GetRefusal's text when Parse refuses.
    explicit CHttpRequest(const std::string& header);
    virtual ~CHttpRequest() = default;

    // 0, or the status that refuses the request, GetRefusal then saying why:
    // - 400: a header holding a NUL byte, a bare CR or a bare LF; a request line other than
    //   method, target and version parted by one blank each (RFC 9112 3); a header line
    //   that SplitField refuses; a path that is not Shift-JIS once decoded
    //   (IsShiftJisUrlPath);
    // - 505: a version other than HTTP/1.x (RFC 9112 2.3).
    // A refused header leaves the request as an empty one: no fields, no header lines. A
    // path refused as not Shift-JIS is the one exception: so that the log and the page
    // name what was asked, the request keeps Method, URL, Object (the path as received,
    // not decoded), Version and Query, which VisitLeaves gives. Header lines with an empty
    // value are passed over; a name sent twice (exactly) keeps its first place and its
    // last value.
    int Parse(std::string_view header);
    const std::string& GetRefusal() const { return refusal_; }
    // RFC 9112 3.2: throws CRequestRefusal 400 for an HTTP/1.1 request without a Host
    // line and for any request with more than one.
    void CheckHostLines() const;

    // The request's RequestInfo node, filled in place: its leaves (VisitLeaves), and its
    // child Options with one leaf per header line (name as sent), which a request refused
    // for its path lacks. Other leaves and children of the node go.
    void FillNode(CConfigNode& requestInfo) const;
    // FillNode on the node `requestView` names, in one locked step of its tree.
    void WriteTo(const CConfigAccessor& requestView) const;
    // Whether the request has RequestInfo leaves: once parsed, or refused for its path.
    bool HasLeaves() const { return leaves_ != Leaves::kNone; }
    // The leaves of RequestInfo in their order, as visit(key, value): Method, URL,
    // Object, Version, Query, QueryDecoded, User and Passwd once parsed; the first five
    // of a path refused as not Shift-JIS; none otherwise.
    template <typename Visit>
    void VisitLeaves(Visit visit) const
    {
        if (leaves_ == Leaves::kNone)
            return;
        visit(std::string_view("Method"), std::string_view(method_));
        visit(std::string_view("URL"), std::string_view(url_));
        visit(std::string_view("Object"), std::string_view(object_));
        visit(std::string_view("Version"), std::string_view(version_));
        visit(std::string_view("Query"), std::string_view(query_));
        if (leaves_ == Leaves::kRefusedPath)
            return;
        visit(std::string_view("QueryDecoded"), std::string_view(queryDecoded_));
        visit(std::string_view("User"), std::string_view(user_));
        visit(std::string_view("Passwd"), std::string_view(passwd_));
    }

    // RFC 9112 5: a field line is a name, a colon, and the value between optional blanks
    // (SP, HTAB), which are not part of it. False, with nothing set, for a line without a
    // colon, with a name that is empty or holds a byte no token may hold (a blank before
    // the colon included, RFC 9112 5.1), or beginning with a blank, which continues a
    // folded line (obs-fold, RFC 9112 5.2). The results view the line's bytes.
    static bool SplitField(std::string_view line, std::string_view& name, std::string_view& value);

    // Cuts the first line (up to CR LF) off `text`: 1, or 0 with nothing changed.
    static int TakeLine(std::string& text, std::string& line);
    // Cuts the text before the first `separator` off `text`: 1, or 0 with nothing changed.
    static int TakeToken(std::string& text, std::string& token, const std::string& separator);
    // The same on views, copying nothing: the results view the text's bytes.
    static int TakeLine(std::string_view& text, std::string_view& line);
    static int TakeToken(std::string_view& text, std::string_view& token, std::string_view separator);

    const std::string& GetMethod() const { return method_; }
    // GetMethod as MethodNamed reads it.
    HttpMethod GetMethodKind() const { return methodKind_; }
    const std::string& GetUrl() const { return url_; }
    const std::string& GetObject() const { return object_; }
    const std::string& GetVersion() const { return version_; }
    const std::string& GetQuery() const { return query_; }
    const std::string& GetQueryDecoded() const { return queryDecoded_; }
    const std::string& GetUser() const { return user_; }
    const std::string& GetPasswd() const { return passwd_; }
    // The header lines, one per name as sent, in the order the names first came.
    const CFieldList& GetHeaders() const { return headers_; }
    // A request header's value, its name matched without regard to case (RFC 9110 5.1):
    // the first line whose name matches; null, or `defaultValue`, when there is none.
    const std::string* FindHeader(std::string_view name) const { return headers_.FindIgnoringCase(name); }
    std::string GetHeader(std::string_view name, const std::string& defaultValue = "") const;

    // The body's framing, read once from the header by ReadBodyFraming's rules.
    const BodyFraming& GetBodyFraming() const { return bodyFraming_; }
    // The body's announced length: Content-Length, 0 without one, when chunked or refused.
    int64_t GetContentLength() const { return bodyFraming_.contentLength; }
    // RFC 9110 10.1.1: an HTTP/1.1 request that expects "100-continue" holds its body back
    // until an interim answer, or until a wait of its own choosing has passed.
    bool ExpectsContinue() const { return bodyFraming_.expectsContinue; }
    // The Connection header says "keep-alive" (name and value in any case).
    bool AsksKeepAlive() const { return asksKeepAlive_; }
    // The path held a ".." segment once decoded (HoldsDotDotSegment), which the object's
    // normalisation collapsed: the object is not the resource the client named.
    bool PathHoldsDotDot() const { return pathHoldsDotDot_; }
    // The path decoded to a byte below 0x20 or 0x7F (DecodesToControlByte), a NUL that the
    // object no longer shows included.
    bool PathHoldsControlByte() const { return pathHoldsControlByte_; }
    // The method changes files: PUT, MKCOL, DELETE, COPY or MOVE.
    bool IsWrite() const
    {
        return methodKind_ == HttpMethod::Put || methodKind_ == HttpMethod::Mkcol || methodKind_ == HttpMethod::Delete ||
               methodKind_ == HttpMethod::Copy || methodKind_ == HttpMethod::Move;
    }

    // An empty request, as before any header was parsed; the storage is kept.
    void Clear();

private:
    std::string method_;
    HttpMethod methodKind_ = HttpMethod::Other;
    std::string url_;
    std::string object_;
    std::string version_;
    std::string query_;
    std::string queryDecoded_;
    std::string user_;
    std::string passwd_;
    std::string refusal_;
    CFieldList headers_;
    BodyFraming bodyFraming_;
    int hostLines_ = 0;
    bool asksKeepAlive_ = false;
    bool pathHoldsDotDot_ = false;
    bool pathHoldsControlByte_ = false;
    enum class Leaves { kNone, kRefusedPath, kWhole };
    Leaves leaves_ = Leaves::kNone;
};

// RFC 9110 1*DIGIT, as in a Content-Length (8.6) or a byte position (14.1.1): false for an
// empty text or one holding anything but '0' to '9'. A number beyond 64 bits saturates at
// the largest int64_t.
bool ParseDecimal(std::string_view digits, int64_t& value);
