#pragma once
// The root of every answer. A response holds the views of one request (its thread node,
// RequestInfo and ResponseInfo with their Options nodes, the settings and ServerInfo),
// sets the default headers when constructed, and is driven by the response pipeline:
// BeginReceive, ReceiveData per body chunk, Build, GetContentLength, then GetSendData
// until it returns 0 or less.
//
// A response is made by the code that decides the answer and handed to the request driver,
// which owns it from then on. A response that finds, in its constructor or in Build, that
// it cannot give its answer names another (a status page) to be sent in its place.

#include "ConfigAccessor.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

class CByteBuffer;
class CServerCore;
class CSystemResponse;

class CResponse {
public:
    // `core` is not owned and outlives the response; `threadView` is the request's node
    // "Threads::Thread_xxxx".
    CResponse(CServerCore* core, const CConfigAccessor& threadView);
    virtual ~CResponse() = default;
    CResponse(const CResponse&) = delete;
    CResponse& operator=(const CResponse&) = delete;

    virtual void BeginReceive() = 0;
    virtual void ReceiveData(CByteBuffer& chunk) = 0;
    // Whether ReceiveData uses the request body; the pipeline does not wait for a body
    // that nothing reads (the default).
    virtual bool ReadsBody() const { return false; }
    // The most body bytes ReadsBody takes (the default: no limit of its own). A larger body
    // is refused with 413 and the connection closes: before a byte of it is read when its
    // length is announced, once its data passes this when it is chunked.
    virtual int64_t GetMaxBody() const { return std::numeric_limits<int64_t>::max(); }
    virtual void Build() = 0;
    virtual int64_t GetContentLength() = 0;
    virtual CConfigAccessor GetResponseInfo() { return responseView_; }
    // Puts the next chunk of the body into `buffer` and returns its size; 0 or less ends
    // the body.
    virtual int GetSendData(CByteBuffer& buffer) = 0;
    // A body that is a range of an open file: its descriptor, with the offset and count of
    // the bytes still to send, so that the pipeline can let the system send them without
    // copying. -1 for a body made in memory (the default).
    virtual int GetBodyFile(int64_t& offset, int64_t& remaining)
    {
        offset = remaining = 0;
        return -1;
    }
    // `count` bytes of the body file went out by that route.
    virtual void SkipBodyFile(int64_t) {}

    // ResponseCode := code and ResponseText := GetStatusText(code).
    void SetResponseCode(int code);
    void SetDefaultHeaders();

    // This response as a status page, or null when it is another kind: the driver asks it
    // of every answer, and a virtual call costs a few instructions, a dynamic_cast hundreds.
    virtual const CSystemResponse* AsStatusPage() const { return nullptr; }

    // The answer named to be sent in this response's place by its constructor or its
    // Build, which then returned at once and left this response unfinished: to be taken
    // after each of the two, before anything of this response is sent. The caller owns
    // it; null when there is none (again null once taken).
    std::unique_ptr<CResponse> TakeReplacement() { return std::move(replacement_); }

protected:
    // Names the answer to be sent in this response's place (see TakeReplacement).
    void ReplaceWith(std::unique_ptr<CResponse> answer) { replacement_ = std::move(answer); }

    CConfigAccessor threadView_;
    CConfigAccessor settingsView_;
    CConfigAccessor infoView_;
    CConfigAccessor requestView_;
    CConfigAccessor requestHeaderView_;
    CConfigAccessor responseView_;
    CConfigAccessor responseHeaderView_;
    CServerCore* core_;  // not owned

private:
    std::unique_ptr<CResponse> replacement_;
};

// "404 Not Found"; "%d UNKNOWN" for a code without a text.
std::string GetStatusText(int code);

// The header block for a ResponseInfo view: status line, the Options headers in stored
// order, the CGI header lines, and the empty line. A CR, LF or NUL inside an Options
// header goes out as a blank, so no value can start a header line of its own.
std::string BuildHeaderText(const CConfigAccessor& responseView);

// RFC 9112 9.6: an answer after which the server closes says so, rather than offering a
// connection the client would reuse in vain: Connection becomes "Close" and Keep-Alive goes.
void AnnounceClose(const CConfigAccessor& responseView);
