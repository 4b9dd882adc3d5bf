#include "http/RequestPath.h"

#include "http/ServerFatalException.h"

#include "FilePath.h"
#include "SettingsSchema.h"
#include "UrlCoding.h"
#include "Wildcard.h"

#include "CRuntime.h"
#include "FileSystem.h"
#include "TextCodec.h"

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

// The '/'-separated segments of a relative path; '/' is never the second byte of a
// Shift-JIS character, so a plain split is safe.
std::vector<std::string> SplitSegments(const std::string& path)
{
    std::vector<std::string> segments;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        const std::string::size_type slash = path.find('/', start);
        const std::string::size_type end = slash == std::string::npos ? path.size() : slash;
        if (end > start)
            segments.push_back(path.substr(start, end - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return segments;
}

bool HasParentSegment(const std::string& path)
{
    for (const std::string& segment : SplitSegments(path))
        if (segment == "..")
            return true;
    return false;
}

bool HasControlByte(const std::string& text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

// RFC 9110 7.2: Host is uri-host [":" port]. The uri-host without the port; an IP literal
// keeps its brackets and the colons inside them (RFC 3986 3.2.2).
std::string WithoutPort(const std::string& host)
{
    std::string::size_type colon = std::string::npos;
    if (!host.empty() && host[0] == '[') {
        const std::string::size_type close = host.find(']');
        if (close != std::string::npos && close + 1 < host.size() && host[close + 1] == ':')
            colon = close + 1;
    } else {
        colon = host.find(':');
    }
    return colon == std::string::npos ? host : host.substr(0, colon);
}

// The pattern is matched against the whole Host value; one that names no port also against
// the host without its port, which a client sends whenever the port is not 80 (RFC 9110
// 7.2), so that "*.example.jp" serves www.example.jp:8080 too.
bool ServesHost(const std::string& pattern, const std::string& host)
{
    if (pattern == "*" || WildcardMatchNoCase(pattern, host) != 0)
        return true;
    if (WithoutPort(pattern).size() != pattern.size())
        return false;
    const std::string bare = WithoutPort(host);
    return bare.size() != host.size() && WildcardMatchNoCase(pattern, bare) != 0;
}

// A plain prefix test without regard to case; the object /dir also reaches the prefix /dir/.
bool MatchesPrefix(const std::string& object, const std::string& prefix)
{
    if (object.size() >= prefix.size())
        return platform::_mbsicmp(object.substr(0, prefix.size()), prefix) == 0;
    return object.size() + 1 == prefix.size() && platform::_mbsicmp(object + "/", prefix) == 0;
}

}  // namespace

CRequestPath::CRequestPath(const std::string& object, const std::string& host, const CConfigAccessor& settings)
    : settingsView_(settings), object_(object), targetHost_(host)
{
    ResolvePath();
}

void CRequestPath::ResolvePath()
{
    pathListView_ = settingsView_.GetSubAccessor(schema::kPath.path);
    indexListView_ = settingsView_.GetSubAccessor(schema::kIndex.path);
    CConfigReadLock lock(settingsView_);

    std::vector<std::string> entries;
    pathListView_.GetSections(entries);
    if (entries.empty())
        throw CServerFatalException{"パス設定が存在しません、設定してください！"};

    // Each entry's keys are read once: the lock holds the tree still until the end.
    struct Candidate {
        CConfigAccessor view;
        std::string hostPattern;
        std::string prefix;
    };
    const std::string host = targetHost_.empty() ? "*" : targetHost_;
    std::vector<Candidate> forHost;
    for (const std::string& name : entries) {
        CConfigAccessor view = pathListView_.GetSubAccessor(name);
        std::string pattern = schema::kVirtualHost.Read(view);
        if (ServesHost(pattern, host))
            forHost.push_back({std::move(view), std::move(pattern), std::string()});
    }
    if (forHost.empty())
        throw CServerFatalException{"あなたのアクセスしたホスト名(URL)は、このサーバの管理下ではありません"};

    std::vector<const Candidate*> longest;
    std::string::size_type prefixLength = 0;
    for (Candidate& candidate : forHost) {
        candidate.prefix = schema::kServerPath.Read(candidate.view);
        if (!MatchesPrefix(object_, candidate.prefix))
            continue;
        if (longest.empty() || candidate.prefix.size() > prefixLength) {
            longest.clear();
            prefixLength = candidate.prefix.size();
        } else if (candidate.prefix.size() < prefixLength) {
            continue;
        }
        longest.push_back(&candidate);
    }
    if (longest.empty())
        throw CServerFatalException{"あなたのアクセスしたURLは、このサーバの管理下ではありません"};

    // The most specific host pattern wins; on equal lengths, the first stored.
    const Candidate* chosen = longest.front();
    for (const Candidate* candidate : longest)
        if (candidate->hostPattern.size() > chosen->hostPattern.size())
            chosen = candidate;
    entryView_ = chosen->view;
    // The chosen entry's own prefix: several survivors share the prefix's length, not its
    // spelling.
    MapLocalPath(chosen->prefix);
    if (directory_ && !redirect_)
        FindIndexDocument();
    if (directory_ && !redirect_)
        ReadFolderType();
}

void CRequestPath::MapLocalPath(const std::string& serverPath)
{
    const std::string forward = schema::kForward.Read(entryView_);
    const std::string::size_type s = serverPath.size();
    const std::string::size_type o = object_.size();
    if (!forward.empty()) {
        // The Forward value is a URL of the administrator's: its reserved characters go out
        // as stored, its other characters in UTF-8 (RFC 3987 3.1) as the rest of the path.
        const std::string address = EscapeNonUrlBytes(platform::Cp932ToUtf8(forward));
        redirectLocation_ = o > s ? address + EscapeUrlUtf8(object_.substr(s)) : address;
        redirect_ = 1;
        return;
    }

    std::string root = schema::kLocalPath.Read(entryView_);
    // An empty LocalPath would put the file system's root under the entry: it serves nothing.
    if (root.empty())
        return;
    if (root.back() != '/')
        root += '/';

    if (o > s) {
        std::string rest = object_.substr(s);
        // Joined with exactly one '/', whether or not LocalPath or the prefix ends in one.
        rest.erase(0, rest.find_first_not_of('/'));
        // The prefix is cut by length, so "/doc.." under the prefix "/doc" leaves "..":
        // nothing may climb out of the entry's folder.
        if (HasParentSegment(rest))
            return;
        relativePath_ = rest;
        localPath_ = root + rest;
        if (localPath_.back() == '/') {
            directory_ = 1;
            return;
        }
        // One look tells a folder (links followed, as the name with a '/' would resolve),
        // a file, or nothing; it answers Exists and IsHidden for the rest of the request.
        platform::FileStatus status;
        if (!platform::GetFileStatus(localPath_, status))
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
        localPath_ = root;
        directory_ = 1;
    } else {
        // The object is the prefix without its final '/'.
        redirect_ = 1;
        directory_ = 1;
        redirectLocation_ = EscapeUrlUtf8(serverPath);
        localPath_ = root;
    }
}

void CRequestPath::FindIndexDocument()
{
    std::vector<std::string> keys;
    indexListView_.GetKeys(keys);
    for (const std::string& key : keys) {
        const std::string name = indexListView_.GetString(key, "");
        if (GetPathType(localPath_ + name) == 1) {
            redirect_ = 1;
            // Bare, so the client resolves it against the folder's URL.
            redirectLocation_ = EscapeUrlUtf8(name);
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
    for (const std::string& segment : SplitSegments(relativePath_))
        if (segment[0] == '.')
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
    // Taken in one step, so that no file is looked at under the settings lock.
    std::vector<std::string> folders;
    {
        CConfigReadLock lock(settingsView_);
        std::vector<std::string> entries;
        pathListView_.GetSections(entries);
        for (const std::string& name : entries) {
            const CConfigAccessor entry = pathListView_.GetSubAccessor(name);
            if (!schema::kForward.Read(entry).empty())
                continue;
            std::string folder = WithoutTrailingSlash(schema::kLocalPath.Read(entry));
            if (!folder.empty())
                folders.push_back(std::move(folder));
        }
    }
    for (const std::string& folder : folders) {
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
    return HasControlByte(object_) ? 1 : 0;
}
