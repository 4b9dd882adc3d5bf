#include "responses/FileMoveResponse.h"

#include "http/AccessCheck.h"
#include "http/ConnectionState.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/FileDeleteResponse.h"

#include "ByteBuffer.h"
#include "FileList.h"
#include "FilePath.h"
#include "SettingsSchema.h"
#include "TextTrim.h"
#include "UrlCoding.h"

#include "CRuntime.h"
#include "File.h"
#include "FileIo.h"
#include "FileSystem.h"
#include "TextCodec.h"

#include <cerrno>

namespace {

const char kBadDestination[] = "出力先が異常です";
const char kOtherFolder[] = "移動不可能な組み合わせです";
const char kSameFile[] = "コピー元とコピー先が同じファイルです";
const char kOverlap[] = "コピー元とコピー先が重なっています";
const char kNoParent[] = "出力先のフォルダーが存在しません";

// A Destination this short ("http://" alone) cannot name a target.
constexpr std::string::size_type kLongestUnusableDestination = 7;

// A folder's copy is made under a hidden name beside its target, so that listings never
// show one in progress.
const char kCopyPrefix[] = ".twcopy";

// A path in the file system's spelling as a failure message names it.
std::string Shown(const std::string& nativePath) { return platform::Utf8ToCp932(nativePath); }

// The helpers below take paths in the file system's spelling (NativePath): a folder's
// copy reaches every entry by its name as stored.

bool IsLink(const std::string& nativePath)
{
    platform::FileStatus status;
    return platform::GetNativeStatus(WithoutTrailingSlash(nativePath), status) && status.isLink;
}

// What a path names, its own link not followed.
enum class Kind { Missing, Folder, Other };

Kind KindOf(const std::string& path)
{
    platform::FileStatus status;
    if (!platform::GetFileStatus(WithoutTrailingSlash(path), status))
        return Kind::Missing;
    return status.kind == platform::PathKind::Directory && !status.isLink ? Kind::Folder : Kind::Other;
}

// A folder, or a link to one: the entry's own folder may well be reached through a link.
bool IsFolderOrLinkToOne(const std::string& path)
{
    platform::FileStatus status;
    return platform::GetFileStatus(WithoutTrailingSlash(path), status) &&
           status.kind == platform::PathKind::Directory;
}

// One path is the other or lies inside it: replacing the target would remove the source,
// or copying a folder would copy into itself.
bool Overlaps(const std::string& a, const std::string& b)
{
    const std::string first = WithoutTrailingSlash(a) + '/';
    const std::string second = WithoutTrailingSlash(b) + '/';
    return first.compare(0, second.size(), second) == 0 || second.compare(0, first.size(), first) == 0;
}

// The ports a URL of that scheme means when it names none (RFC 9110 4.2.1, 4.2.2).
constexpr int kHttpDefaultPort = 80;
constexpr int kHttpsDefaultPort = 443;
// A TCP port is 16 bits.
constexpr int kHighestPort = 65535;

// The port a URL's authority names: its digits after the last ':', or the scheme's
// default without them; -1 for anything else.
int AuthorityPort(const std::string& scheme, const std::string& authority, std::string::size_type colon)
{
    if (colon == std::string::npos || colon + 1 == authority.size())
        return platform::_mbsicmp(scheme, "https") == 0 ? kHttpsDefaultPort : kHttpDefaultPort;
    int port = 0;
    for (std::string::size_type i = colon + 1; i < authority.size(); ++i) {
        if (authority[i] < '0' || authority[i] > '9' || port > kHighestPort)
            return -1;
        port = port * 10 + (authority[i] - '0');
    }
    return port <= kHighestPort ? port : -1;
}

// Whether an absolute Destination names the host the request was sent to: the Host
// header's text, or without one the connection's own address and port. A Destination
// that is a path alone always does.
bool NamesThisHost(const std::string& destination, const std::string& requestHost, const std::string& localAddress,
                   int localPort)
{
    const std::string::size_type scheme = destination.find("://");
    if (scheme == std::string::npos)
        return true;
    const std::string::size_type start = scheme + 3;
    const std::string authority = destination.substr(start, destination.find('/', start) - start);
    // RFC 3986 6.2.2.1: host names compare without regard to case.
    if (!requestHost.empty())
        return platform::_mbsicmp(authority, requestHost) == 0;
    // RFC 9112 3.3: without Host the request named the address the client reached.
    const std::string::size_type colon = authority.rfind(':');
    return authority.substr(0, colon) == localAddress &&
           AuthorityPort(destination.substr(0, scheme), authority, colon) == localPort;
}

void CopyOneFile(const std::string& from, const std::string& to)
{
    platform::FileStatus source;
    if (!platform::GetNativeStatus(from, source))
        throw CServerFatalException::SystemError(kFileFailed, Shown(from), errno);
    if (!platform::CopyNativeFile(from, to, true))
        throw CServerFatalException::SystemError(kFileFailed, Shown(to), errno);
}

// A link with the same target text, put in place by a rename, so that it replaces a file
// or link at `to` and never writes through one.
void CopyLink(const std::string& from, const std::string& to)
{
    std::string text;
    if (!platform::ReadNativeLink(WithoutTrailingSlash(from), text))
        throw CServerFatalException::SystemError(kFileFailed, Shown(from), errno);
    if (!platform::PlaceNativeLink(text, WithoutTrailingSlash(to)))
        throw CServerFatalException::SystemError(kFileFailed, Shown(to), errno);
}

// A folder of the target tree: created when missing, and refused when a link (or a file)
// has its name, since the copy would go wherever the link points.
void MakeRealFolder(const std::string& path)
{
    const std::string folder = WithoutTrailingSlash(path);
    platform::FileStatus status;
    if ((!platform::CreateNativeDirectory(folder) && errno != EEXIST) || !platform::GetNativeStatus(folder, status))
        throw CServerFatalException::SystemError(kFileFailed, Shown(folder), errno);
    if (status.isLink || status.kind != platform::PathKind::Directory)
        throw CServerFatalException::SystemError(kFileFailed, Shown(folder), ENOTDIR);
}

}  // namespace

CFileMoveResponse::CFileMoveResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                                     const CConnectionState& connection)
    : CNormalResponse(core, record, path),
      localAddress_(connection.GetLocalAddress().ToString()),
      localPort_(connection.GetLocalPort())
{
    if (path_.GetLocalPath().empty() || path_.Exists() == 0) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    if (request_.GetMethodKind() == HttpMethod::Move && path_.HoldsEntryFolder())
        ReplaceWithStatusPage(kEntryFolder, 403);
}

bool CFileMoveResponse::GetDestinationPath(const std::string& destination, std::string& path)
{
    if (destination.size() <= kLongestUnusableDestination)
        return false;
    path = destination;
    const std::string::size_type scheme = path.find("://");
    if (scheme != std::string::npos)
        path.erase(0, scheme + 3);
    const std::string::size_type slash = path.find('/');
    if (slash != std::string::npos)
        path.erase(0, slash);
    else if (scheme != std::string::npos)
        path = "/";
    return true;
}

void CFileMoveResponse::Build()
{
    std::string destination;
    if (!GetDestinationPath(request_.GetHeader("Destination", ""), destination)) {
        ReplaceWithStatusPage(kBadDestination, 500);
        return;
    }
    // RFC 4918 9.8.4: a copy to another server is that server's to make; this one does
    // not make it under its own name.
    if (!NamesThisHost(TrimOws(request_.GetHeader("Destination", "")), path_.GetTargetHost(), localAddress_,
                       localPort_)) {
        ReplaceWithStatusPage(kOtherFolder, 502);
        return;
    }
    // The same rules as for a written request path: no name that Shift-JIS cannot hold, no
    // '\' that would be taken for '/', no ".." that would be collapsed rather than resolved,
    // and no control byte.
    if (!IsShiftJisUrlPath(destination) || HoldsBackslashSeparator(destination) || HoldsDotDotSegment(destination) ||
        DecodesToControlByte(destination)) {
        ReplaceWithStatusPage(kMalformedUrl, 400);
        return;
    }

    const CRequestPath target(NormalizeUrlPath(destination), path_.GetTargetHost(), path_.GetSettingsSnapshot());
    if (target.HoldsControlByte()) {
        ReplaceWithStatusPage(kMalformedUrl, 400);
        return;
    }
    // RFC 4918 9.8.5: a destination this server cannot write through the source's
    // folder is, to this resource, on another server. The folders are compared as stored,
    // a missing one as empty.
    const std::string_view localPath = schema::kLocalPath.path;
    if (path_.GetEntry().GetString(localPath, "") != target.GetEntry().GetString(localPath, "") ||
        target.GetLocalPath().empty()) {
        ReplaceWithStatusPage(kOtherFolder, 502);
        return;
    }
    // A name the entry hides could be neither read nor removed once written.
    if (HidesPath(target, 1) == 1) {
        ReplaceWithStatusPage(kAccessRefused, 403);
        return;
    }

    const std::string& from = path_.GetLocalPath();
    const std::string& to = target.GetLocalPath();
    const HttpMethod method = request_.GetMethodKind();
    // Both exist and are one file (links followed): copying would only destroy it.
    if (platform::IsSameFile(from, to)) {
        ReplaceWithStatusPage(kSameFile, 403);
        return;
    }
    if (Overlaps(from, to)) {
        ReplaceWithStatusPage(kOverlap, 403);
        return;
    }
    // RFC 4918 9.8.5: missing folders above the destination are not made.
    if (!IsFolderOrLinkToOne(GetParentDirectory(WithoutTrailingSlash(to)))) {
        ReplaceWithStatusPage(kNoParent, 409);
        return;
    }

    const Kind source = KindOf(from);
    const Kind existing = KindOf(to);
    // RFC 4918 10.6: only "F" keeps what is there; no header means "T".
    if (existing != Kind::Missing && TrimOws(request_.GetHeader("Overwrite", "")) == "F") {
        ReplaceWithStatusPage(kAlreadyExists, 412);
        return;
    }
    // What a replaced target holds goes first: a path entry's folder must not.
    if (existing != Kind::Missing && target.HoldsEntryFolder()) {
        ReplaceWithStatusPage(kEntryFolder, 403);
        return;
    }
    // RFC 4918 9.8.5, 9.9.4: 201 for a new resource, 204 for one replaced.
    SetResponseCode(existing == Kind::Missing ? 201 : 204);

    // RFC 4918 9.8.4, 9.9.3: a replaced folder goes whole, never merged; a file over a file
    // is replaced by the rename itself, so that readers see the old or the new one.
    const bool replacesWhole = existing == Kind::Folder || (existing == Kind::Other && source == Kind::Folder);
    if (method == HttpMethod::Move) {
        if (replacesWhole)
            CFileDeleteResponse::Remove(to);
        // Renames the link, file or folder itself.
        if (!platform::MoveFile(WithoutTrailingSlash(from), WithoutTrailingSlash(to), true))
            throw CServerFatalException::SystemError(kFileFailed, to, errno);
    } else if (method == HttpMethod::Copy) {
        try {
            Copy(from, to, source == Kind::Folder, replacesWhole);
        } catch (const CServerFatalException& failure) {
            // RFC 4918 11.5: the storage had no room for the copy, of which nothing is left.
            if (!platform::IsOutOfSpace(failure.systemError))
                throw;
            ReplaceWithStatusPage(kNoSpace, 507);
        }
    }
}

void CFileMoveResponse::Copy(const std::string& from, const std::string& to, bool folder, bool replacesWhole)
{
    if (folder) {
        CopyFolder(from, to, TrimOws(request_.GetHeader("Depth", "")) != "0");
        return;
    }
    if (replacesWhole)
        CFileDeleteResponse::Remove(to);
    const std::string nativeFrom = platform::NativePath(from);
    const std::string nativeTo = platform::NativePath(WithoutTrailingSlash(to));
    if (IsLink(nativeFrom))
        CopyLink(nativeFrom, nativeTo);
    else
        CopyOneFile(nativeFrom, nativeTo);
}

void CFileMoveResponse::CopyFolder(const std::string& from, const std::string& to, bool members)
{
    const std::string target = platform::NativePath(WithoutTrailingSlash(to));
    const std::string made = platform::SiblingPath(target, kCopyPrefix + platform::UniqueTempSuffix());
    try {
        CopyTree(platform::NativePath(WithoutTrailingSlash(from)) + '/', made + '/', members);
        // What the target held goes only once the copy is whole.
        if (KindOf(to) != Kind::Missing)
            CFileDeleteResponse::Remove(to);
        if (!platform::RenameNative(made, target, false))
            throw CServerFatalException::SystemError(kFileFailed, to, errno);
    } catch (const CServerFatalException&) {
        CFileDeleteResponse::RemoveTree(made);
        throw;
    }
}

void CFileMoveResponse::CopyTree(const std::string& from, const std::string& base, bool members)
{
    // The folder itself must not be a link: the copy would fill whatever it points at.
    MakeRealFolder(base);
    // RFC 4918 9.8.3: Depth 0 copies the folder without its members.
    if (!members)
        return;
    const std::string::size_type skip = from.size();

    // Listed deepest first; made shallowest first, so that each folder is checked before
    // anything is made inside it.
    CFileList folders;
    folders.AddDirectories(from + "*.*");
    for (int i = folders.GetCount() - 1; i >= 0; --i)
        MakeRealFolder(base + folders.GetAt(i).substr(skip));

    // Every folder that holds a listed file is one of those above or the base.
    CFileList files;
    files.ScanFiles(from + "*.*", true);
    for (int i = 0; i < files.GetCount(); ++i) {
        const std::string file = files.GetAt(i);
        const std::string copy = base + file.substr(skip);
        if (IsLink(file))
            CopyLink(file, copy);
        else
            CopyOneFile(file, copy);
    }
}

int CFileMoveResponse::GetSendData(CByteBuffer& buffer)
{
    buffer.SetLength(0);
    return 0;
}
