#include "responses/DavPropfindResponse.h"

#include "core/MimeMaps.h"
#include "core/ServerCore.h"
#include "http/AccessCheck.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/FileResponse.h"

#include "ByteBuffer.h"
#include "HttpDate.h"
#include "SettingsSchema.h"
#include "TextTrim.h"
#include "UrlCoding.h"

#include "FileIo.h"
#include "FileSystem.h"
#include "TextCodec.h"
#include "XmlDocument.h"

#include <cstdio>
#include <ctime>
#include <exception>

namespace {

const char kXmlFailed[] = "XMLの操作に失敗しました、システムエラーです [ComError %s]";

const char kDavNamespace[] = "DAV:";
const char kDeclaration[] = "<?xml version=\"1.0\"?>";

using Resource = CDAVPropfindResponse::Resource;

// A name a listing shows: not hidden, and free of the bytes that the request driver
// refuses in a path and that XML 1.0 cannot carry.
bool IsListable(const std::string& name)
{
    if (name.empty() || name[0] == '.')
        return false;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

// A symbolic link to a folder counts as a file: it is never entered.
bool IsFolder(const platform::FileStatus& status)
{
    return status.kind == platform::PathKind::Directory && !status.isLink;
}

// The birth time where the file system keeps one, else the last write.
int64_t CreationTime(const std::string& path, int64_t modified)
{
    int64_t created = 0;
    return platform::GetCreationTime(path, created) ? created : modified;
}

// The listable entries of a folder, "." first when the search gives it. Read whole, so
// that no folder stays open while a walk goes deeper.
std::vector<platform::DirectoryEntry> ReadFolder(const std::string& folder)
{
    std::vector<platform::DirectoryEntry> entries;
    platform::DirectorySearch search(folder + "*.*");
    platform::DirectoryEntry entry;
    while (search.Next(entry)) {
        if (entry.name == "." || IsListable(entry.name))
            entries.push_back(entry);
    }
    return entries;
}

Resource MakeResource(const CMimeMaps& mimeMaps, const std::string& href, const std::string& localPath,
                      const platform::DirectoryEntry& entry, bool collection)
{
    Resource resource;
    resource.href = href;
    resource.collection = collection;
    resource.displayName = entry.name;
    resource.length = collection ? 0 : entry.status.size;
    resource.modified = entry.status.modified;
    resource.created = CreationTime(localPath, entry.status.modified);
    resource.contentType = mimeMaps.FindMimeType(entry.name);
    // RFC 4918 15.6: the same tag as GET, so that a client sees a file change.
    if (!collection)
        resource.etag = CFileResponse::MakeETag(static_cast<int64_t>(entry.status.size), entry.status.modified,
                                                localPath);
    return resource;
}

void AppendProperty(platform::XmlNode& prop, const char* name, const std::string& text)
{
    platform::XmlNode element = prop.AppendElementNS(kDavNamespace, name);
    if (!text.empty())
        element.AppendText(text);
}

void AppendResponse(platform::XmlNode& root, const Resource& resource)
{
    platform::XmlNode response = root.AppendElementNS(kDavNamespace, "D:response");
    response.AppendElementNS(kDavNamespace, "D:href").AppendText(CDAVPropfindResponse::EscapeHref(resource.href));
    platform::XmlNode propstat = response.AppendElementNS(kDavNamespace, "D:propstat");
    propstat.AppendElementNS(kDavNamespace, "D:status").AppendText("HTTP/1.1 " + GetStatusText(200));
    platform::XmlNode prop = propstat.AppendElementNS(kDavNamespace, "D:prop");

    const bool known = resource.known;
    AppendProperty(prop, "D:creationdate", known ? CDAVPropfindResponse::FormatCreationDate(resource.created) : "");
    AppendProperty(prop, "D:displayname", known ? platform::Cp932ToUtf8(resource.displayName) : "");
    AppendProperty(prop, "D:getcontentlength",
                   known ? std::to_string(resource.collection ? 0 : resource.length) : "");
    AppendProperty(prop, "D:getcontenttype", known ? platform::Cp932ToUtf8(resource.contentType) : "");
    AppendProperty(prop, "D:getetag", known ? resource.etag : "");
    AppendProperty(prop, "D:getlastmodified", known ? FormatHttpDate(resource.modified) : "");
    // RFC 4918 15.9: clients tell folders by this element.
    platform::XmlNode resourceType = prop.AppendElementNS(kDavNamespace, "D:resourcetype");
    if (resource.collection)
        resourceType.AppendElementNS(kDavNamespace, "D:collection");
    AppendProperty(prop, "D:iscollection", resource.collection ? "1" : "0");
    AppendProperty(prop, "D:ishidden", "0");
}

}  // namespace

CDAVPropfindResponse::CDAVPropfindResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                                           int secure, const CIPv4Address& peer)
    : CNormalResponse(core, record, path), secure_(secure), peer_(peer)
{
    // A Forward entry exists but has nothing local to list; a refused path has no local path.
    if (path_.GetLocalPath().empty() || path_.Exists() == 0)
        ReplaceWithStatusPage(kFolderNotFound, 404);
}

CDAVPropfindResponse::~CDAVPropfindResponse() = default;

void CDAVPropfindResponse::Build()
{
    body_.clear();
    SetResponseCode(207);
    SetHeader("Content-Type", "text/xml; charset=\"utf-8\"");
    SetHeader("DAV", "1");

    std::vector<Resource> resources;
    Walk(TrimOws(request_.GetHeader("Depth", "1")), resources);
    body_ = MakeDocument(resources);
}

void CDAVPropfindResponse::Walk(const std::string& depth, std::vector<Resource>& resources)
{
    const std::shared_ptr<const CMimeMaps> maps = core_->GetMimeMaps();
    const CMimeMaps& mimeMaps = *maps;
    const std::string& localPath = path_.GetLocalPath();
    std::string href = request_.GetObject();

    if (!path_.IsDirectory()) {
        // The file by its own status, never by a search: '*' and '?' are plain characters
        // in names here.
        platform::DirectoryEntry entry;
        if (platform::GetFileStatus(localPath, entry.status)) {
            entry.name = localPath.substr(localPath.rfind('/') + 1);
            resources.push_back(MakeResource(mimeMaps, href, localPath, entry, IsFolder(entry.status)));
        }
        SetHeader("Content-Location", EscapeHref(href));
        return;
    }

    if (href.empty() || href.back() != '/')
        href += '/';
    // RFC 9110 8.7: Content-Location is a URI reference, written as the target's href.
    SetHeader("Content-Location", EscapeHref(href));

    const std::vector<platform::DirectoryEntry> entries = ReadFolder(localPath);
    // A folder whose search gives no entry for itself (it vanished, or cannot be read)
    // is still the target: it gets a resource without properties.
    if (entries.empty() || entries.front().name != ".") {
        Resource self;
        self.href = href;
        self.collection = true;
        self.known = false;
        resources.push_back(self);
    }
    for (const platform::DirectoryEntry& entry : entries) {
        if (entry.name == ".") {
            resources.push_back(MakeResource(mimeMaps, href, localPath, entry, true));
            continue;
        }
        if (depth == "0")
            continue;
        if (IsFolder(entry.status)) {
            const std::string childFolder = localPath + entry.name + "/";
            const std::string childHref = href + entry.name + "/";
            resources.push_back(MakeResource(mimeMaps, childHref, childFolder, entry, true));
            std::string entryNode = path_.GetEntry().GetPrefix();
            if (depth == "infinity" && MayDescend(childHref, entryNode))
                WalkTree(mimeMaps, childFolder, childHref, entryNode, resources);
        } else {
            resources.push_back(MakeResource(mimeMaps, href + entry.name, localPath + entry.name, entry, false));
        }
    }
}

void CDAVPropfindResponse::WalkTree(const CMimeMaps& mimeMaps, const std::string& folder, const std::string& href,
                                    const std::string& entry, std::vector<Resource>& resources) const
{
    for (const platform::DirectoryEntry& found : ReadFolder(folder)) {
        if (found.name == ".")
            continue;
        if (IsFolder(found.status)) {
            const std::string childFolder = folder + found.name + "/";
            const std::string childHref = href + found.name + "/";
            resources.push_back(MakeResource(mimeMaps, childHref, childFolder, found, true));
            std::string childEntry = entry;
            if (MayDescend(childHref, childEntry))
                WalkTree(mimeMaps, childFolder, childHref, childEntry, resources);
        } else {
            resources.push_back(MakeResource(mimeMaps, href + found.name, folder + found.name, found, false));
        }
    }
}

bool CDAVPropfindResponse::MayDescend(const std::string& href, std::string& entry) const
{
    // The entry serving the parent matches the folder's URL too, so one always does.
    const CRequestPath folder(href, path_.GetTargetHost(), path_.GetSettingsSnapshot());
    const std::string serving = folder.GetEntry().GetPrefix();
    if (serving == entry)
        return true;
    if (folder.Entry().enableWebDav.Read() == 0 || !MayEnter(request_, folder, secure_, peer_))
        return false;
    entry = serving;
    return true;
}

int64_t CDAVPropfindResponse::GetContentLength() { return static_cast<int64_t>(body_.size()); }

int CDAVPropfindResponse::GetSendData(CByteBuffer& buffer)
{
    buffer.AssignString(body_);
    const int length = buffer.GetLength();
    body_.clear();
    return length;
}

std::string CDAVPropfindResponse::MakeDocument(const std::vector<Resource>& resources)
{
    try {
        platform::XmlDocument document;
        platform::XmlNode root = document.AppendElementNS(kDavNamespace, "D:multistatus");
        for (const Resource& resource : resources)
            AppendResponse(root, resource);
        return document.Serialize(kDeclaration);
    } catch (const std::exception& e) {
        char message[256];
        std::snprintf(message, sizeof message, kXmlFailed, e.what());
        throw CServerFatalException{message};
    }
}

std::string CDAVPropfindResponse::EscapeHref(const std::string& href) { return EscapeUrlUtf8(href); }

std::string CDAVPropfindResponse::FormatCreationDate(int64_t time)
{
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm utc {};
    if (static_cast<int64_t>(t) != time || ::gmtime_r(&t, &utc) == nullptr)
        return "";
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0)
        return "";
    return text;
}
