#pragma once
// COPY and MOVE of the file or folder at the path to the target that the Destination
// header names; 201 when the target is new, 204 when it replaced one, without a body.
//
// A Destination must name the host the request was sent to (its Host header, or without
// one the address and port the client reached); its path is looked up on this server,
// under the host of the request, and resolved like any request path, so it stays inside
// a path entry's folder. Source and target must belong to path entries with the same
// LocalPath. The target's folder must exist. With "Overwrite: F" an existing target is
// left as it is; otherwise it is replaced: a folder (or anything a folder replaces) is
// removed first, a file or link over a file or link is put in place by one rename. A COPY
// with "Depth: 0" makes a folder's copy without its members.
//
// COPY keeps each file's modification time and recreates a folder's empty subfolders; a
// symbolic link, named by the path or met in a folder, is copied as a link and never
// entered, and a COPY never writes through a link in the target tree, so nothing outside
// the entry's folder is read or touched. A COPY onto the file itself is refused. A
// folder's copy takes every entry by its name as stored, those that no listing can show
// included; it is made under a hidden name beside the target and put in its place only
// once whole, so a copy that fails leaves the target as it was.

#include "http/NormalResponse.h"

#include <cstdint>
#include <string>

class CByteBuffer;
class CConnectionState;

class CFileMoveResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response;
    // `connection` is read here only, for the address the client reached. Names a status
    // page as its replacement, 404 when nothing exists at the path or it has no local path
    // (a refused path, a Forward entry), 403 for a MOVE of a path entry's folder or of one
    // that holds it (CRequestPath::HoldsEntryFolder).
    CFileMoveResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path, const CConnectionState& connection);

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Copies or moves, and sets 201 or 204. Names a status page as its replacement, 500 for
    // an unusable Destination; 400 when its decoded path holds a control byte (a NUL
    // included), a character Shift-JIS cannot hold, a '\' or a ".." segment; 502 when it
    // names another host, or the target is not served or belongs to an entry with another
    // LocalPath (or to none with a local path); 403 when the target's entry hides its name
    // (HidesPath), when source and target are one file (same device and inode) or one lies
    // inside the other, or when an existing target holds a path entry's folder
    // (CRequestPath::HoldsEntryFolder); 409 when the target's folder is missing; 412 for
    // an existing target under "Overwrite: F"; 507 when the storage has no room for a
    // folder's copy. Throws CServerFatalException when a file-system step fails.
    void Build() override;
    int64_t GetContentLength() override { return 0; }
    // No body: sets the buffer's length to 0 and returns 0.
    int GetSendData(CByteBuffer& buffer) override;

    // The path part of a Destination header value, not yet decoded: false for a value of 7
    // bytes or fewer. The text after the first "://" loses its host, keeping the text from
    // its first '/' on, or "/" when it has none (RFC 3986 3.3: an empty path is the root);
    // a value without "://" keeps the text from its first '/' on, or all of it.
    static bool GetDestinationPath(const std::string& destination, std::string& path);

private:
    // Copies the file, link or (when `folder`) folder at the local path `from` to the local
    // path `to`, which a file or link replaces by a rename; `replacesWhole`: what `to`
    // holds goes first. Throws CServerFatalException when a step fails.
    void Copy(const std::string& from, const std::string& to, bool folder, bool replacesWhole);
    // Copies the folder `from` to `to` (local paths) aside, then puts the copy in place of
    // what `to` held; on failure nothing of the copy is left. Without "Depth: 0" with its
    // members.
    void CopyFolder(const std::string& from, const std::string& to, bool members);
    // Makes the copy; `from` and `to` are in the file system's spelling and end in '/'.
    void CopyTree(const std::string& from, const std::string& to, bool members);

    std::string localAddress_;  // dotted, of the connection's own end
    int localPort_;
};
