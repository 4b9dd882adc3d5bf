#pragma once
// The answer to the WebDAV method PROPFIND (RFC 4918 9.1): "207 Multi-Status" with a
// multistatus document listing the target and, by the Depth header, the folder's
// entries, each with one fixed set of properties. The request body is not read: every
// PROPFIND is answered as an allprop request.
//
// Listings leave out hidden entries (names starting with '.') and names holding a byte
// below 0x20 or 0x7F (no request can name them, and XML cannot carry them). A symbolic
// link to a folder below the target is listed as a file and never entered, so a walk
// stays inside the target's tree and cannot loop. A folder whose URL another path entry
// serves is listed, but entered only when this request may enter that entry's folder and
// the entry has WebDAV on: a walk shows nothing that a PROPFIND of the folder would refuse.

#include "http/NormalResponse.h"

#include "IPv4Address.h"

#include <cstdint>
#include <string>
#include <vector>

class CByteBuffer;
class CMimeMaps;

class CDAVPropfindResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response;
    // `secure` and `peer` are the connection's, for the access rules of other entries.
    // Names a status page as its replacement, 404 when the path names nothing or has no
    // local path (a refused path, a Forward entry).
    CDAVPropfindResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, int secure,
                         const CIPv4Address& peer);
    ~CDAVPropfindResponse() override;

    void BeginReceive() override {}
    // The client's propfind document is discarded.
    void ReceiveData(CByteBuffer&) override {}
    // Walks the target by its Depth ("0": the target alone; "infinity": the whole tree;
    // anything else or none: the target and its direct entries; a file is always alone),
    // sets 207, Content-Type, DAV and Content-Location (the target's href), and builds the
    // body. Throws CServerFatalException when the document cannot be built.
    void Build() override;
    // The length of the body not yet handed over: 0 before Build and after GetSendData.
    int64_t GetContentLength() override;
    // Replaces the buffer's content with the whole body and returns its length, once; then
    // 0 with an empty buffer.
    int GetSendData(CByteBuffer& buffer) override;

    // --- the document, pure ----------------------------------------------------------

    // One D:response of the document.
    struct Resource {
        std::string href;  // CP932 URL path, unescaped; a folder's ends in '/'
        bool collection = false;
        // False for a folder whose own entry could not be read: only the collection
        // properties are given, the others are empty.
        bool known = true;
        std::string displayName;  // CP932
        uint64_t length = 0;      // bytes; written as 0 for a collection
        int64_t created = 0;      // seconds since 1970 UTC
        int64_t modified = 0;     // seconds since 1970 UTC
        std::string contentType;
        std::string etag;  // the entity tag GET sends for a file; "" for a collection
    };

    // The multistatus document in UTF-8, one D:response per resource in order, no white
    // space between elements. Throws CServerFatalException when the XML layer fails.
    static std::string MakeDocument(const std::vector<Resource>& resources);
    // The href as written: EscapeUrlUtf8, UTF-8 percent-escaped to plain ASCII.
    static std::string EscapeHref(const std::string& href);
    // "%Y-%m-%dT%H:%M:%SZ" in UTC (RFC 4918 15.1, RFC 3339); "" when the time has no
    // calendar date.
    static std::string FormatCreationDate(int64_t time);

private:
    // Appends the target and, by `depth`, what lies below it.
    void Walk(const std::string& depth, std::vector<Resource>& resources);
    // Appends everything below a folder of the entry whose node is `entry`, each folder's
    // contents right after its own resource. `folder` and `href` end in '/'.
    void WalkTree(const CMimeMaps& mimeMaps, const std::string& folder, const std::string& href,
                  const std::string& entry, std::vector<Resource>& resources) const;
    // Whether the walk may go into the folder at `href`, a folder below one of the entry
    // whose node is `entry`: yes when that entry serves it too; when another one does, only
    // when this request may enter that one's folder (MayEnter) and it has WebDAV on, and
    // `entry` becomes its node.
    bool MayDescend(const std::string& href, std::string& entry) const;

    std::string body_;
    int secure_;
    CIPv4Address peer_;
};
