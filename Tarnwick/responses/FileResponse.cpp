#include "responses/FileResponse.h"

#include "core/ServerCore.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "HttpDate.h"
#include "TextTrim.h"
#include "http/HttpRequest.h"

#include "CRuntime.h"
#include "FileIo.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>

namespace {

const char kNotModified[] = "ターゲットは更新されていません";
const char kOpenFailed[] =
    "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります";

// A caller that hands in an empty buffer still gets the body, in chunks of the size the
// pipeline uses, rather than an end that would cut it short.
constexpr int32_t kFallbackChunkSize = 32768;

}  // namespace

CFileResponse::CFileResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CNormalResponse(core, record, path)
{
    // A refused path (or a forward entry) has no local path: never read "" or "/".
    if (path_.GetLocalPath().empty() || path_.Exists() == 0) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    // RFC 9110 9.1: method names are case-sensitive.
    if (request_.GetMethodKind() != HttpMethod::Get && request_.GetMethodKind() != HttpMethod::Head) {
        CSystemResponse& notAllowed = ReplaceWithStatusPage(kNotAllowed, 405);
        // RFC 9110 15.5.6: a 405 names the methods the target does support.
        notAllowed.SetHeader("Allow", "GET, HEAD");
    }
}

CFileResponse::~CFileResponse() = default;

void CFileResponse::Build()
{
    file_.Close();
    offset_ = 0;
    remaining_ = 0;
    SetResponseCode(200);

    // Linux has no share modes to deny writers; writers of this server replace a file by
    // renaming a new one over it, which leaves this open file as it was.
    const std::string& localPath = path_.GetLocalPath();
    platform::FileStatus status;
    if (path_.HasOpenFile()) {
        // Opened when the path was looked up.
        file_ = path_.TakeOpenFile(status);
    } else {
        if (!file_.Open(platform::NativePath(localPath), platform::CFile::Mode::Read)) {
            // Removed since the path was looked up: as missing as it will be to the next
            // request.
            if (errno == ENOENT || errno == ENOTDIR) {
                ReplaceWithStatusPage(kFileNotFound, 404);
                return;
            }
            throw CServerFatalException::SystemError(kOpenFailed, localPath, errno);
        }
        if (!file_.Status(status))
            throw CServerFatalException::SystemError(kFileFailed, localPath, errno);
    }
    if (status.kind != platform::PathKind::File) {
        // Folders have a response of their own; FIFOs and devices are not served.
        file_.Close();
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }

    // Measured once, on the open file: the headers and the body length agree even when the
    // file changes afterwards.
    const int64_t length = static_cast<int64_t>(status.size);
    const int64_t time = status.modified;
    const std::string etag = MakeETag(length, time, localPath);
    const std::string lastModified = FormatHttpDate(time);
    const std::string type = core_->GetMimeMaps()->FindMimeType(localPath);

    ByteRange body;
    body.last = length - 1;
    SetHeader("Last-modified", lastModified);
    SetHeader("ETag", etag);
    // Both checks are always made; header names in any case (RFC 9110 5.1).
    const int modifiedSince = CheckModifiedSince(time, request_.GetHeader("If-Modified-Since"));
    const int noneMatch = CheckNoneMatch(etag, request_.GetHeader("If-None-Match"));
    if (IsNotModified(modifiedSince, noneMatch)) {
        file_.Close();
        CSystemResponse& notModified = ReplaceWithStatusPage(kNotModified, 304);
        // RFC 9110 15.4.5: a 304 carries the validators that a 200 would. RFC 9111 4.3.4:
        // a cache merges its fields into the stored response, so the type stays the file's
        // rather than that of a status page.
        notModified.SetHeader("Last-modified", lastModified);
        notModified.SetHeader("ETag", etag);
        notModified.SetHeader("Content-Type", type);
        return;
    }
    ByteRange asked;
    // RFC 9110 14.2: Range is ignored on any method but GET, so a HEAD answers as a GET
    // without Range would.
    if (request_.GetMethodKind() == HttpMethod::Get &&
        ApplyRange(request_.GetHeader("Range"), request_.GetHeader("If-Range"), etag, time, length, asked)) {
        body = asked;
        SetResponseCode(206);
        SetHeader("Accept-Ranges", "bytes");
        SetHeader("Content-Range", FormatContentRange(body, length));
    }
    SetHeader("Content-Type", type);

    offset_ = body.first;
    remaining_ = body.Length();
}

int64_t CFileResponse::GetContentLength() { return remaining_; }

int CFileResponse::GetBodyFile(int64_t& offset, int64_t& remaining)
{
    offset = offset_;
    remaining = remaining_;
    return file_.GetHandle();
}

void CFileResponse::SkipBodyFile(int64_t count)
{
    offset_ += count;
    remaining_ = count < remaining_ ? remaining_ - count : 0;
}

int CFileResponse::GetSendData(CByteBuffer& buffer)
{
    if (!file_.IsOpen() || remaining_ <= 0) {
        buffer.SetLength(0);
        return 0;
    }
    int64_t want = buffer.GetLength() > 0 ? buffer.GetLength() : kFallbackChunkSize;
    if (want > remaining_)
        want = remaining_;
    buffer.SetLength(static_cast<int32_t>(want));

    const int64_t read = file_.ReadAt(offset_, buffer.GetData(), want);
    if (read < 0)
        throw CServerFatalException::SystemError(kFileFailed, path_.GetLocalPath(), errno);
    const int32_t got = static_cast<int32_t>(read);
    offset_ += got;
    // A file that shrank since Build ends the body here: the bytes announced are not all
    // there, and the pipeline closes the connection on the short body.
    remaining_ = got < want ? 0 : remaining_ - got;
    buffer.SetLength(got);
    return got;
}

// --- protocol decisions -----------------------------------------------------------------

std::string CFileResponse::MakeETag(int64_t length, int64_t time, const std::string& localPath)
{
    uint32_t sum = 0;
    for (unsigned char c : localPath)
        sum += c;
    // "\"%llx-%llx:%04d\"", written without snprintf: it is made for every file sent.
    char text[64];
    char* at = text;
    const auto hex = [&at, &text](uint64_t value) { at = std::to_chars(at, text + sizeof text, value, 16).ptr; };
    *at++ = '"';
    hex(static_cast<uint64_t>(length));
    *at++ = '-';
    hex(static_cast<uint64_t>(time));
    *at++ = ':';
    const int number = static_cast<int>(sum);
    char digits[16];
    const char* end = std::to_chars(digits, digits + sizeof digits, number < 0 ? -static_cast<int64_t>(number) : number).ptr;
    const std::size_t count = static_cast<std::size_t>(end - digits);
    // %04d: at least four places, a sign counting as one.
    const std::size_t width = number < 0 ? 3 : 4;
    if (number < 0)
        *at++ = '-';
    for (std::size_t pad = count; pad < width; ++pad)
        *at++ = '0';
    for (std::size_t i = 0; i < count; ++i)
        *at++ = digits[i];
    *at++ = '"';
    return std::string(text, static_cast<std::size_t>(at - text));
}

int CFileResponse::CheckModifiedSince(int64_t fileTime, const std::string& ifModifiedSince)
{
    if (ifModifiedSince.empty())
        return -1;
    // RFC 9110 13.1.3: a date that does not parse cannot vouch for the copy.
    const int64_t since = ParseHttpDate(ifModifiedSince);
    if (since == 0 || fileTime > since)
        return 1;
    return 0;
}

int CFileResponse::CheckNoneMatch(const std::string& etag, const std::string& ifNoneMatch)
{
    if (ifNoneMatch.empty())
        return -1;
    // RFC 9110 5.5: the field value excludes surrounding white space.
    return TrimOws(ifNoneMatch) == etag ? 0 : 1;
}

bool CFileResponse::IsNotModified(int modifiedSince, int noneMatch)
{
    if (modifiedSince == 1 || noneMatch == 1)
        return false;
    return !(modifiedSince == -1 && noneMatch == -1);
}

bool CFileResponse::CheckIfRange(const std::string& ifRange, const std::string& etag, int64_t fileTime)
{
    const std::string value = TrimOws(ifRange);
    if (value.empty())
        return true;
    // RFC 9110 13.1.5: an entity tag must match by strong comparison (8.8.3.2), so a weak
    // tag never does; anything else is a date that must equal the last modification.
    if (value[0] == '"')
        return value == etag;
    if (value.compare(0, 2, "W/") == 0)
        return false;
    const int64_t date = ParseHttpDate(value);
    return date != 0 && date == fileTime;
}

bool CFileResponse::ParseRange(const std::string& rangeHeader, int64_t length, ByteRange& range)
{
    // RFC 9110 14.1: the range unit is matched without regard to case.
    const std::string value = TrimOws(rangeHeader);
    const std::string::size_type unitLength = 6;
    if (value.size() < unitLength || platform::_mbsicmp(value.substr(0, unitLength), "bytes=") != 0)
        return false;

    // RFC 9110 5.6.1: a list may hold empty elements, which count for nothing. Only a
    // single range is served; several get the whole body (RFC 9110 14.2 lets a server
    // ignore Range).
    std::string rangeText;
    int count = 0;
    std::string::size_type start = unitLength;
    while (start <= value.size()) {
        std::string::size_type comma = value.find(',', start);
        if (comma == std::string::npos)
            comma = value.size();
        const std::string element = TrimOws(value.substr(start, comma - start));
        if (!element.empty()) {
            rangeText = element;
            ++count;
        }
        start = comma + 1;
    }
    if (count != 1)
        return false;

    const std::string::size_type dash = rangeText.find('-');
    if (dash == std::string::npos)
        return false;
    const std::string firstText = rangeText.substr(0, dash);
    const std::string lastText = rangeText.substr(dash + 1);

    if (firstText.empty()) {
        // RFC 9110 14.1.1: "-n" is the last n bytes, the whole body when it is shorter;
        // 14.1.2: a suffix of 0 bytes, or any suffix of an empty body, is unsatisfiable.
        int64_t suffix = 0;
        if (!ParseDecimal(lastText, suffix) || suffix == 0 || length <= 0)
            return false;
        range.first = suffix >= length ? 0 : length - suffix;
        range.last = length - 1;
        return true;
    }

    // A position beyond 64 bits saturates: it lies past any file, which is what it says.
    int64_t first = 0;
    int64_t last = std::numeric_limits<int64_t>::max();
    if (!ParseDecimal(firstText, first) || (!lastText.empty() && !ParseDecimal(lastText, last)))
        return false;
    // RFC 9110 14.1.1: a last position below the first makes the range invalid; 14.1.2: a
    // first position at or past the end makes it unsatisfiable; a last position past the
    // end means the end.
    if (last < first || first >= length)
        return false;
    range.first = first;
    range.last = last >= length ? length - 1 : last;
    return true;
}

bool CFileResponse::ApplyRange(const std::string& rangeHeader, const std::string& ifRange,
                               const std::string& etag, int64_t fileTime, int64_t length, ByteRange& range)
{
    // RFC 9110 13.1.5: If-Range counts only with a Range; when it fails, the whole body
    // goes out with 200.
    ByteRange asked;
    if (!ParseRange(rangeHeader, length, asked) || !CheckIfRange(ifRange, etag, fileTime))
        return false;
    range = asked;
    return true;
}

std::string CFileResponse::FormatContentRange(const ByteRange& range, int64_t length)
{
    char text[80];
    std::snprintf(text, sizeof text, "bytes %lld-%lld/%lld", static_cast<long long>(range.first),
                  static_cast<long long>(range.last), static_cast<long long>(length));
    return text;
}
