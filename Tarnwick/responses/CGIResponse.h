#pragma once
// The answer of a CGI script: the request body goes to the program's standard input, the
// CGI header block at the start of its standard output becomes the status and headers,
// and the rest of the output is the body. The program runs whole inside Build; nothing is
// sent before it has ended, and meanwhile all but the start of its output waits in a file
// (COutputSpool), so the Content-Length is known and memory stays small.
//
// Every refusal and failure of the program is a status page named as its replacement
// (TakeReplacement): 404/405 from the constructor, 500 from Build with the program's
// standard error as detail, and the redirect a Location line asks for. A body above
// kMaxRequestBody is refused by the pipeline (GetMaxBody).

#include "http/NormalResponse.h"
#include "process/SubProcess.h"

#include <cstdint>
#include <string>

class CByteBuffer;
class CConfigAccessor;
class CConnectionState;

class CCGIResponse : public CNormalResponse {
public:
    // The request body is held in memory for the program: larger bodies are refused.
    static constexpr int64_t kMaxRequestBody = 64 * 1024 * 1024;

    // `core` is not owned; it, `record` (the request's, whose ScriptCommand holds the
    // command line) and `path` outlive the response; `connection` is polled while the
    // program runs. Names a status page as its replacement: 404 when the target does not
    // exist, 405 for a method other than GET, HEAD and POST.
    CCGIResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, CConnectionState& connection);
    // Ends a program that still runs.
    ~CCGIResponse() override;

    // Sizes the input buffer for the announced body so that it grows once.
    void BeginReceive() override;
    void ReceiveData(CByteBuffer& chunk) override;
    bool ReadsBody() const override { return true; }
    int64_t GetMaxBody() const override { return kMaxRequestBody; }
    // Runs the program and applies its header block.
    void Build() override;
    int64_t GetContentLength() override;
    int GetSendData(CByteBuffer& buffer) override;

    // The header block at the start of the output, ended by whichever of CR LF CR LF and
    // LF LF comes first within the first 4096 bytes; that block and its blank line are
    // dropped from the output. "" (output unchanged) when no blank line is found there.
    static std::string FindHeaderEnd(COutputSpool& output);
    // Where the header block of a CGI output text ends: the first blank line, whichever of
    // CR LF CR LF and LF LF comes first, with bodyStart set after it; npos when there is none.
    static std::string::size_type FindBlankLine(const std::string& text, std::string::size_type& bodyStart);
    // Status, Content-Type and Location become leaves of those names; every other line
    // is appended to the leaf CGIHeader as "name: value\r\n", except the framing lines
    // (Content-Length, Transfer-Encoding, Connection), which the server writes itself.
    static void ParseHeaderLines(const CConfigAccessor& node, const std::string& header);

protected:
    // The runner, whose input buffer holds the body received so far.
    CSubProcess& GetProcess() { return process_; }

private:
    // Names the 500 page with the message and the program's standard error as detail as
    // the replacement; the caller returns at once.
    void ReplaceWithError(const std::string& message);

    CConnectionState& connection_;
    CSubProcess process_;
    int64_t sent_ = 0;
};
