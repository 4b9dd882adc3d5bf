#pragma once
// The answer to GET and HEAD for an existing regular file: validators (Last-modified,
// ETag), conditional answers (304), one byte range (206), Content-Type from the MIME map,
// and the body streamed from the file in the chunks the pipeline asks for. A HEAD ignores
// Range and If-Range.
//
// Answers decided early are status pages named as its replacement (TakeReplacement): 404
// and 405 from the constructor, 404 and 304 from Build. File-system failures throw
// CServerFatalException naming the file and errno.
//
// The protocol decisions (validators, conditions, ranges) are static and pure, so they
// can be checked without files or sockets.

#include "http/NormalResponse.h"

#include "File.h"

#include <cstdint>
#include <string>

class CByteBuffer;

class CFileResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response.
    // Names a status page as its replacement: 404 when the path names nothing (or has no
    // local path, as for a refused path), else 405 with "Allow: GET, HEAD" when the method
    // is neither "GET" nor "HEAD".
    CFileResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);
    // Closes the file when open.
    ~CFileResponse() override;

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Opens the file (close-on-exec), sets the status, validators, range and type headers,
    // and fixes the body: the whole file, or the one satisfiable range. Names a status page
    // as its replacement: 404 when the local path is no regular file (a folder, a FIFO, a
    // device) or no longer there, 304 when the request's validators still hold. Throws
    // CServerFatalException when the file cannot be opened for another reason or its status
    // cannot be read.
    void Build() override;
    // The bytes of the body not yet delivered: before the first GetSendData, the length
    // measured by Build (the announced length). 0 before Build.
    int64_t GetContentLength() override;
    // Reads the next chunk at most the buffer's length on entry (the chunk size the pipeline
    // wants) and never past the announced length, even when the file grew since Build. Sets
    // the buffer's length to the count read and returns it; 0 at the end of the body, and
    // 0 after a chunk cut short by a file that shrank since Build. Throws
    // CServerFatalException when the read fails.
    int GetSendData(CByteBuffer& buffer) override;
    int GetBodyFile(int64_t& offset, int64_t& remaining) override;
    void SkipBodyFile(int64_t count) override;

    // --- protocol decisions, pure ---------------------------------------------------

    // First and last byte positions of a body, both inclusive (RFC 9110 14.1.1).
    struct ByteRange {
        int64_t first = 0;
        int64_t last = -1;
        int64_t Length() const { return last - first + 1; }
    };

    // The strong entity tag of a file: "\"<length hex>-<time hex>:<byte sum of the path,
    // at least 4 decimal digits>\"". The path's bytes make tags of equal files at
    // different paths differ.
    static std::string MakeETag(int64_t length, int64_t time, const std::string& localPath);

    // If-Modified-Since against the file's last-write time: -1 when the header is empty,
    // 1 when the file changed since (or the date does not parse), 0 when it did not.
    static int CheckModifiedSince(int64_t fileTime, const std::string& ifModifiedSince);
    // If-None-Match against the current tag: -1 when empty, 0 when it is the tag, else 1.
    // Only a single tag is recognised; lists, "*" and weak tags count as changed.
    static int CheckNoneMatch(const std::string& etag, const std::string& ifNoneMatch);
    // True when the results of the two checks above call for 304: no check reports a
    // change and at least one reports none.
    static bool IsNotModified(int modifiedSince, int noneMatch);

    // If-Range (RFC 9110 13.1.5): true when a Range may be honoured: no If-Range, an
    // entity tag strongly equal to `etag`, or a date exactly equal to `fileTime`.
    static bool CheckIfRange(const std::string& ifRange, const std::string& etag, int64_t fileTime);
    // The one byte range a Range header asks of a body of `length` bytes (RFC 9110 14.1.2):
    // true with `range` clamped to the body, or false when the whole body is to be sent
    // (no header, another unit, bad syntax, several ranges, nothing satisfiable).
    static bool ParseRange(const std::string& rangeHeader, int64_t length, ByteRange& range);
    // ParseRange under CheckIfRange: the range a 206 answer serves, or false for 200.
    static bool ApplyRange(const std::string& rangeHeader, const std::string& ifRange,
                           const std::string& etag, int64_t fileTime, int64_t length, ByteRange& range);
    // "bytes <first>-<last>/<length>" (RFC 9110 14.4).
    static std::string FormatContentRange(const ByteRange& range, int64_t length);

private:
    platform::CFile file_;
    int64_t offset_ = 0;     // file position of the next byte of the body
    int64_t remaining_ = 0;  // body bytes still to deliver
};
