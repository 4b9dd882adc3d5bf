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
    int refusal = 0;            // 0, or the status that refuses the request
    const char* reason = "";    // why, when refused: the request's Info text
    int64_t contentLength = 0;  // the body's bytes to read; 0 when refused
};

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
    // A refused header leaves the request as an empty one: no fields, no header lines.
    // Header lines with an empty value are passed over; a name sent twice (exactly) keeps
    // its first place and its last value.
    int Parse(std::string_view header);
    const std::string& GetRefusal() const { return refusal_; }
    // RFC 9112 3.2: throws CRequestRefusal 400 for an HTTP/1.1 request without a Host
    // line and for any request with more than one.
    void CheckHostLines() const;

    // The request's RequestInfo node, filled in place: its leaves Method, URL, Object,
    // Version, Query, QueryDecoded, User and Passwd, and its child Options with one leaf
    // per header line (name as sent). Other leaves and children of the node go.
    void FillNode(CConfigNode& requestInfo) const;
    // FillNode on the node `requestView` names, in one locked step of its tree.
    void WriteTo(const CConfigAccessor& requestView) const;
    // The leaves of RequestInfo in their order, as visit(key, value).
    template <typename Visit>
    void VisitLeaves(Visit visit) const
    {
        visit(std::string_view("Method"), std::string_view(method_));
        visit(std::string_view("URL"), std::string_view(url_));
        visit(std::string_view("Object"), std::string_view(object_));
        visit(std::string_view("Version"), std::string_view(version_));
        visit(std::string_view("Query"), std::string_view(query_));
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
    // RFC 9110 10.1.1: whether an Expect field's value is the expectation "100-continue"
    // (any case, optional blanks around it).
    static bool IsContinueExpectation(std::string_view expectValue);

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
    // The header lines, one per name as sent, in the order the names first came.
    const CFieldList& GetHeaders() const { return headers_; }
    // A request header's value, its name matched without regard to case (RFC 9110 5.1):
    // the first line whose name matches; null, or `defaultValue`, when there is none.
    const std::string* FindHeader(std::string_view name) const { return headers_.FindIgnoringCase(name); }
    std::string GetHeader(std::string_view name, const std::string& defaultValue = "") const;

    // What the header lines say of the body, read from every line (ReadBodyFraming).
    const BodyFraming& GetFraming() const { return framing_; }
    // The body's announced length: Content-Length, 0 without one or when refused.
    int64_t GetContentLength() const { return framing_.contentLength; }
    // RFC 9110 10.1.1: an HTTP/1.1 request whose Expect header is "100-continue" holds its
    // body back until an interim answer, or until a wait of its own choosing has passed.
    bool ExpectsContinue() const { return expectsContinue_; }
    // The Connection header says "keep-alive" (name and value in any case).
    bool AsksKeepAlive() const { return asksKeepAlive_; }

    // An empty request, as before any header was parsed; the storage is kept.
    void Clear();

private:
    std::string method_;
    std::string url_;
    std::string object_;
    std::string version_;
    std::string query_;
    std::string queryDecoded_;
    std::string user_;
    std::string passwd_;
    std::string refusal_;
    CFieldList headers_;
    BodyFraming framing_;
    int hostLines_ = 0;
    bool expectsContinue_ = false;
    bool asksKeepAlive_ = false;
};

// RFC 9110 1*DIGIT, as in a Content-Length (8.6) or a byte position (14.1.1): false for an
// empty text or one holding anything but '0' to '9'. A number beyond 64 bits saturates at
// the largest int64_t.
bool ParseDecimal(std::string_view digits, int64_t& value);

// Reads the framing from `header` (the request line and header lines, as received) line by
// line, not from the parsed header lines, which keep only the last of repeated lines. Lines that
// SplitField refuses are passed over. Refuses with
// - 411 a chunked Transfer-Encoding and 501 any other (RFC 9112 6.1: a body is read here
//   only with a Content-Length), whatever Content-Length stands beside it;
// - 400 a Content-Length that is not all digits, or lines that disagree.
BodyFraming ReadBodyFraming(std::string_view header);
