#pragma once
// The root of every answer. A response writes the answer's status and headers into the
// request's record (every response of one request writes the same one, CResponseInfo),
// sets the default headers when constructed, and is driven by the response pipeline:
// BeginReceive, ReceiveData per body chunk, Build, GetContentLength, then GetSendData
// until it returns 0 or less.
//
// A response is made by the code that decides the answer and handed to the request driver,
// which owns it from then on. A response that finds, in its constructor or in Build, that
// it cannot give its answer names another (a status page) to be sent in its place.

#include "ConfigAccessor.h"
#include "http/RequestRecord.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

class CByteBuffer;
class CServerCore;
class CSystemResponse;

class CResponse {
public:
    // `core` is not owned and outlives the response; so does `record`, the request's.
    CResponse(CServerCore* core, CRequestRecord& record);
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
    // The request's ResponseInfo node as the controller sees it, the answer as it stands
    // published there first.
    virtual CConfigAccessor GetResponseInfo();
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

    // The answer: status, headers, CGI header lines.
    CResponseInfo& Answer() { return record_.Response(); }
    // ResponseCode := code and ResponseText := GetStatusText(code).
    void SetResponseCode(int code) { Answer().SetCode(code); }
    // The response header `name` (exact) takes `value`; a new one goes after the others.
    void SetHeader(std::string_view name, std::string_view value) { Answer().SetHeader(name, value); }
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

    CServerCore* core_;  // not owned
    CRequestRecord& record_;

private:
    std::unique_ptr<CResponse> replacement_;
};

// The header block of the answer (CResponseInfo::AppendHeaderText).
std::string BuildHeaderText(const CResponseInfo& answer);
