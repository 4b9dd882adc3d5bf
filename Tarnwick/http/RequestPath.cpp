#include "http/RequestPath.h"

#include "http/ServerFatalException.h"

#include "ByteScan.h"
#include "FilePath.h"
#include "SettingsSchema.h"
#include "UrlCoding.h"
#include "Wildcard.h"

#include "CRuntime.h"
#include "FileIo.h"
#include "FileSystem.h"
#include "TextCodec.h"

#include <cerrno>
#include <utility>
#include <vector>

namespace {

// Folders above an entry's folder that HoldsEntryFolder climbs at the most: past this
// many a file system's root is reached in any real tree.
constexpr int kMaxFolderDepth = 256;

// Whether `folder` (a real folder, no link) is `entryFolder` or a folder above it, as the
// file system sees them: ".." climbs the real tree, whatever links the entry's path went
// through.
bool IsOnTheWayTo(const std::string& folder, const std::string& entryFolder)
{
    std::string step = entryFolder;
    for (int depth = 0; depth < kMaxFolderDepth; ++depth) {
        if (platform::IsSameFile(step, folder))
            return true;
        const std::string parent = step + "/..";
        // The root is its own parent.
        if (platform::IsSameFile(parent, step))
            return false;
        step = parent;
    }
    return false;
}

bool HasParentSegment(std::string_view path)
{
    // Only ".." as a whole segment climbs.
    for (std::string_view::size_type at = path.find(".."); at != std::string_view::npos; at = path.find("..", at + 1)) {
        const bool startsSegment = at == 0 || path[at - 1] == '/';
        const bool endsSegment = at + 2 == path.size() || path[at + 2] == '/';
        if (startsSegment && endsSegment)
            return true;
    }
    return false;
}

// A request without a Host header is served by the entries whose pattern matches this.
const std::string kAnyHost = "*";

// RFC 9110 7.2: Host is uri-host [":" port]. The uri-host without the port; an IP literal
// keeps its brackets and the colons inside them (RFC 3986 3.2.2).
std::string_view WithoutPort(std::string_view host)
{
    std::string_view::size_type colon = std::string_view::npos;
    if (!host.empty() && host[0] == '[') {
        const std::string_view::size_type close = host.find(']');
        if (close != std::string_view::npos && close + 1 < host.size() && host[close + 1] == ':')
            colon = close + 1;
    } else {
        colon = host.find(':');
    }
    return colon == std::string_view::npos ? host : host.substr(0, colon);
}

// The pattern is matched against the whole Host value; one that names no port also against
// the host without its port, which a client sends whenever the port is not 80 (RFC 9110
// 7.2), so that "*.example.jp" serves www.example.jp:8080 too.
bool ServesHost(std::string_view pattern, const std::string& host)
{
    if (pattern == "*")
        return true;
    const std::string patternText(pattern);
    if (WildcardMatchNoCase(patternText, host) != 0)
        return true;
    if (WithoutPort(pattern).size() != pattern.size())
        return false;
    const std::string_view bare = WithoutPort(host);
    return bare.size() != host.size() && WildcardMatchNoCase(patternText, std::string(bare)) != 0;
}

// A plain prefix test without regard to case; the object /dir also reaches the prefix /dir/.
bool MatchesPrefix(std::string_view object, std::string_view prefix)
{
    if (object.size() >= prefix.size())
        return platform::EqualsIgnoringCase(object.substr(0, prefix.size()), prefix);
    return object.size() + 1 == prefix.size() && prefix.back() == '/' &&
           platform::EqualsIgnoringCase(object, prefix.substr(0, object.size()));
}

}  // namespace

CRequestPath::CRequestPath(const std::string& object, const std::string& host,
                           std::shared_ptr<const CSettingsSnapshot> settings, Look look)
    : settings_(std::move(settings)), object_(object), targetHost_(host), look_(look)
{
    ResolvePath();
}

platform::CFile CRequestPath::TakeOpenFile(platform::FileStatus& status) const
{
    status = open_.status;
    return std::move(open_.file);
}

bool CRequestPath::ReadStatus(platform::FileStatus& status)
{
    if (look_ == Look::Open) {
        platform::CFile& file = open_.file;
        if (file.Open(platform::NativePath(localPath_), platform::CFile::Mode::Read)) {
            if (file.Status(status)) {
                // Only a file is read; a folder or a FIFO is not kept open.
                if (status.kind == platform::PathKind::File)
                    open_.status = status;
                else
                    file.Close();
                return true;
            }
            file.Close();
        } else if (errno == ENOENT || errno == ENOTDIR) {
            return false;
        }
    }
    return platform::GetFileStatus(localPath_, status);
}

CRequestPath::CRequestPath(const std::string& object, const std::string& host, const CConfigAccessor& settings)
    : CRequestPath(object, host, std::make_shared<const CSettingsSnapshot>(settings))
{
}

CConfigAccessor CRequestPath::GetEntry() const
{
    return settings_->GetSettings().GetSubAccessor(schema::kPath.path).GetSubAccessor(entry_->name);
}

void CRequestPath::ResolvePath()
{
    const std::vector<CSettingsSnapshot::PathEntry>& entries = settings_->PathEntries();
    if (entries.empty())
        throw CServerFatalException{"パス設定が存在しません、設定してください！"};

    // Nearly every value is stored as it is read; a filtered one is read once here.
    struct Candidate {
        const CSettingsSnapshot::PathEntry* entry;
        std::string_view hostPattern;
        std::string_view prefix;
        std::string hostScratch;
        std::string prefixScratch;
    };
    const std::string& host = targetHost_.empty() ? kAnyHost : targetHost_;
    std::vector<Candidate> forHost;
    forHost.reserve(entries.size());
    for (const CSettingsSnapshot::PathEntry& entry : entries) {
        forHost.emplace_back();
        Candidate& candidate = forHost.back();
        candidate.entry = &entry;
        candidate.hostPattern = entry.virtualHost.Read(candidate.hostScratch);
        if (!ServesHost(candidate.hostPattern, host))
            forHost.pop_back();
    }
    if (forHost.empty())
        throw CServerFatalException{"あなたのアクセスしたホスト名(URL)は、このサーバの管理下ではありません"};

    const Candidate* chosen = nullptr;
    std::string::size_type prefixLength = 0;
    for (Candidate& candidate : forHost) {
        candidate.prefix = candidate.entry->serverPath.Read(candidate.prefixScratch);
        if (!MatchesPrefix(object_, candidate.prefix))
            continue;
        // The longest prefix wins; among those, the most specific host pattern; on equal
        // lengths, the first stored.
        if (!chosen || candidate.prefix.size() > prefixLength ||
            (candidate.prefix.size() == prefixLength && candidate.hostPattern.size() > chosen->hostPattern.size())) {
            chosen = &candidate;
            prefixLength = candidate.prefix.size();
        }
    }
    if (!chosen)
        throw CServerFatalException{"あなたのアクセスしたURLは、このサーバの管理下ではありません"};

    entry_ = chosen->entry;
    // The chosen entry's own prefix: several survivors share the prefix's length, not its
    // spelling.
    MapLocalPath(chosen->prefix);
    if (directory_ && !redirect_)
        FindIndexDocument();
    if (directory_ && !redirect_)
        ReadFolderType();
}

void CRequestPath::MapLocalPath(std::string_view serverPath)
{
    std::string scratch;
    const std::string_view forward = entry_->forward.Read(scratch);
    const std::string::size_type s = serverPath.size();
    const std::string::size_type o = object_.size();
    if (!forward.empty()) {
        // The Forward value is a URL of the administrator's: its reserved characters go out
        // as stored, its other characters in UTF-8 (RFC 3987 3.1) as the rest of the path.
        const std::string address = EscapeNonUrlBytes(platform::Cp932ToUtf8(std::string(forward)));
        redirectLocation_ = o > s ? address + EscapeUrlUtf8(object_.substr(s)) : address;
        redirect_ = 1;
        return;
    }

    const std::string_view root = entry_->localPath.Read(scratch);
    // An empty LocalPath would put the file system's root under the entry: it serves nothing.
    if (root.empty())
        return;
    const bool rootHasSlash = root.back() == '/';

    if (o > s) {
        std::string_view rest = std::string_view(object_).substr(s);
        // Joined with exactly one '/', whether or not LocalPath or the prefix ends in one.
        const std::string_view::size_type first = rest.find_first_not_of('/');
        rest.remove_prefix(first == std::string_view::npos ? rest.size() : first);
        // The prefix is cut by length, so "/doc.." under the prefix "/doc" leaves "..":
        // nothing may climb out of the entry's folder.
        if (HasParentSegment(rest))
            return;
        relativePath_.assign(rest);
        localPath_.reserve(root.size() + 1 + rest.size() + 1);
        localPath_.assign(root);
        if (!rootHasSlash)
            localPath_ += '/';
        localPath_ += rest;
        if (localPath_.back() == '/') {
            directory_ = 1;
            return;
        }
        // One look tells a folder (links followed, as the name with a '/' would resolve),
        // a file, or nothing; it answers Exists and IsHidden for the rest of the request.
        platform::FileStatus status;
        if (!ReadStatus(status))
            return;
        if (status.kind == platform::PathKind::File) {
            localType_ = 1;
        } else if (status.kind == platform::PathKind::Directory) {
            localType_ = 2;
            redirect_ = 1;
            directory_ = 1;
            redirectLocation_ = EscapeUrlUtf8(object_) + "/";
            localPath_ += '/';
            relativePath_ += '/';
        }
    } else if (o == s) {
        localPath_.assign(root);
        if (!rootHasSlash)
            localPath_ += '/';
        directory_ = 1;
    } else {
        // The object is the prefix without its final '/'.
        redirect_ = 1;
        directory_ = 1;
        redirectLocation_ = EscapeUrlUtf8(std::string(serverPath));
        localPath_.assign(root);
        if (!rootHasSlash)
            localPath_ += '/';
    }
}

void CRequestPath::FindIndexDocument()
{
    std::string scratch;
    for (const CSettingsSnapshot::Text& index : settings_->IndexNames()) {
        const std::string_view name = index.Read(scratch);
        if (GetPathType(localPath_ + std::string(name)) == 1) {
            redirect_ = 1;
            // Bare, so the client resolves it against the folder's URL.
            redirectLocation_ = EscapeUrlUtf8(std::string(name));
            // A file inside it: the folder is there.
            localType_ = 2;
            return;
        }
    }
}

void CRequestPath::ReadFolderType()
{
    if (!localPath_.empty())
        localType_ = GetPathType(localPath_);
}

int CRequestPath::Exists() const
{
    if (redirect_)
        return 1;
    return localType_ != 0 ? 1 : 0;
}

int CRequestPath::IsHidden() const
{
    // Only a file or folder that was there can be hidden.
    if (!Exists() || localType_ == 0)
        return 0;
    return NamesHidden();
}

int CRequestPath::NamesHidden() const
{
    if (localPath_.empty())
        return 0;
    // Neither '/' nor '.' is ever the second byte of a double-byte character.
    for (std::string::size_type i = 0; i < relativePath_.size(); ++i)
        if (relativePath_[i] == '.' && (i == 0 || relativePath_[i - 1] == '/'))
            return 1;
    return 0;
}

int CRequestPath::HoldsEntryFolder() const
{
    if (localPath_.empty())
        return 0;
    if (relativePath_.empty())
        return 1;
    const std::string target = WithoutTrailingSlash(localPath_);
    platform::FileStatus status;
    const bool realFolder =
        platform::GetFileStatus(target, status) && !status.isLink && status.kind == platform::PathKind::Directory;
    for (const CSettingsSnapshot::PathEntry& entry : settings_->PathEntries()) {
        if (!entry.forward.ReadCopy().empty())
            continue;
        const std::string folder = WithoutTrailingSlash(entry.localPath.ReadCopy());
        if (folder.empty())
            continue;
        // Spelled below the target: a link named by the path counts too.
        if (folder == target || folder.compare(0, target.size() + 1, target + '/') == 0)
            return 1;
        if (realFolder && IsOnTheWayTo(target, folder))
            return 1;
    }
    return 0;
}

int CRequestPath::HoldsControlByte() const
{
    // A redirect location escapes every control byte, a stored Forward's included.
    return ::HoldsControlByte(object_) ? 1 : 0;
}
