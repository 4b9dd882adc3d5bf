#pragma once
// The answer to OPTIONS (RFC 9110 9.3.7): WebDAV class 1 (RFC 4918 10.1), the methods the
// server knows in Public, and in Allow the methods this path accepts, from its EnableWrite
// and EnableWebDAV options and from whether the target exists. No body.

#include "http/NormalResponse.h"

#include <cstdint>
#include <string>

class CByteBuffer;

class COptionsResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response.
    // Throws nothing of its own: every path gets an answer, a missing one included.
    COptionsResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);
    ~COptionsResponse() override;

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Sets 200 and the Dav, MS-Author-Via, Public and Allow headers. A request target of
    // "*" (RFC 9110 9.3.7: the server as a whole) allows every method.
    void Build() override;
    int64_t GetContentLength() override { return 0; }
    // Never a body: 0, the buffer untouched.
    int GetSendData(CByteBuffer&) override { return 0; }

    // The Allow value for a path (pure): `asterisk` for the target "*", `exists` for the
    // path's Exists, and the two options as set.
    static std::string AllowedMethods(bool asterisk, bool exists, bool enableWrite, bool enableWebDav);
};
