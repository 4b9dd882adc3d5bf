#pragma once
// A document with server-side includes: the file is read whole, every directive
// "<!--#command attribute=value -->" is replaced by what it produces (config, echo,
// include, fsize, flastmod, exec; if answers a fixed message; others nothing), and the
// assembled page is sent in one piece. Nothing the directives produce is searched for
// directives or placeholders again.

#include "http/NormalResponse.h"

#include <cstdint>
#include <string>
#include <vector>

class CByteBuffer;
class CConfigAccessor;
class CConnectionState;

// One directive, with the document text that precedes it. The last record of a document
// holds only the text after its last directive.
struct CSSIDirective {
    std::string command;         // lower-case; empty in the last record
    std::string parameters;      // the text after the command
    std::string precedingText;
    std::string attributeName;   // lower-case, quotes removed
    std::string attributeValue;  // quotes removed, case kept
};

class CSSIDocument {
public:
    // The connection is tested once per this many directives and one, so that a huge
    // document stops soon after its client has gone.
    static constexpr int kDirectivesPerConnectionTest = 1000;

    // `connection` is not owned; it is tested during long parses.
    explicit CSSIDocument(CConnectionState& connection);

    // Reads the file at the local path and splits it into directives: 0, or -1 when the
    // file is empty or unreadable, or the connection was lost during the parse.
    int ParseDirectives(const std::string& localPath);
    // Splits a text already read (ParseDirectives without the file). A directive is
    // "<!--#" inner "-->"; an inner text without a blank (space or tab) makes no record
    // and vanishes; an unterminated "<!--#" stays text. Takes at most one attribute: the
    // name is the text before the first '=', the value all after it.
    int ParseText(const std::string& text);

    const std::string& GetText() const { return text_; }
    // Document order; the last record holds the text after the last directive. Empty
    // before a successful parse.
    const std::vector<CSSIDirective>& GetDirectives() const { return directives_; }

private:
    CConnectionState& connection_;
    std::string text_;
    std::vector<CSSIDirective> directives_;
};

class CSSIResponse : public CNormalResponse {
public:
    static constexpr const char* kDefaultTimeFormat = "%Y/%m/%d %H:%M:%S";
    static constexpr const char* kDefaultSizeFormat = "abbrev";

    // `core` is not owned; it, `record` (the request's) and `path` outlive the response;
    // `connection` is not owned, outlives the response and is handed to every program an
    // exec starts. Names a status page as its replacement: 404 when the document does not
    // exist (or the path has no local path), 405 with "Allow: GET, HEAD" for another method.
    CSSIResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, CConnectionState& connection);
    ~CSSIResponse() override;

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Parses the document and carries out its directives in order; an exec runs its
    // program to the end here. Throws CServerFatalException when the document is empty
    // or unreadable or the connection was lost during the parse; CServerFatalException
    // from resolving a virtual path that no path entry serves passes out.
    void Build() override;
    int64_t GetContentLength() override;
    // The whole page in the first call, then 0. Throws CServerFatalException when the
    // assembled page is empty.
    int GetSendData(CByteBuffer& buffer) override;

    const std::string& GetOutput() const { return output_; }

    // --- formats, pure ------------------------------------------------------------------

    // "abbrev": bytes below 10240, whole KiB ("19K") below 10 MiB, else whole MiB ("10M");
    // any other format: the bytes.
    static std::string FormatSize(int64_t size, const std::string& sizefmt);
    // strftime of the time (seconds since 1970 UTC) as local time or GMT; "" when the
    // conversion fails or the text does not fit 128 characters.
    static std::string FormatTime(int64_t unixTime, bool gmt, const std::string& timefmt);

private:
    void RunDirective(const CSSIDirective& directive);
    // The file of include, fsize and flastmod: "" when there is none or the page may not
    // show it.
    std::string ResolveFile(const CSSIDirective& directive) const;
    // The program of an exec: a path from the document's folder, or an absolute one.
    std::string ResolveFileAttribute(const std::string& value) const;
    // A file attribute of include, fsize and flastmod: only a relative path that stays in
    // the document's folder ("..", an absolute path and, unless the document's entry
    // allows them, hidden names give "").
    std::string ResolveIncludedFile(const std::string& value) const;
    // A virtual attribute: the file that a request for the path would be served from, ""
    // when that request would be refused.
    std::string ResolveVirtualAttribute(const std::string& value) const;
    // Whether a request for `target` with this request's credentials, peer and socket
    // passes the access rules of its entry (host lists, hidden names, Basic
    // authentication, plain or secure access). The per-host connection limit is left out:
    // an include opens no connection.
    bool MayRequest(const CRequestPath& target) const;
    void FillEchoVariables(const CConfigAccessor& envView) const;
    std::string EchoValue(const std::string& name) const;
    void Include(const CSSIDirective& directive);
    void FileSize(const CSSIDirective& directive);
    void FileLastModified(const CSSIDirective& directive);
    void ExecCommand(const std::string& value);
    void ExecCgi(const std::string& value);
    // Runs the command line in the folder to its end: false when the run failed. `output`
    // receives the program's standard output up to its first zero byte, also after a
    // failure.
    bool RunProgram(const std::string& commandLine, const std::string& folder, std::string& output);

    CSSIDocument document_;
    CConnectionState& connection_;
    std::string output_;
    int sent_ = 0;
    std::string timefmt_ = kDefaultTimeFormat;
    std::string sizefmt_ = kDefaultSizeFormat;
};

// The body of a CGI program's output: the text after the first blank line (whichever of
// LF LF and CR LF CR LF comes first); the whole output when there is none.
std::string StripCgiHeader(const std::string& output);
