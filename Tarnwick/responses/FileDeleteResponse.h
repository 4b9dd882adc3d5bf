#pragma once
// DELETE: removes the file, or the whole folder tree, at the path; 204 without a body.
//
// A symbolic link is removed as itself and never entered, whether the path names it or
// the tree holds it, so nothing outside the tree is removed. A folder's entries are
// removed by their names as stored, those that no listing can show included.

#include "http/NormalResponse.h"

#include <cstdint>
#include <string>

class CByteBuffer;

class CFileDeleteResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response.
    // Names a status page as its replacement, 404 when nothing exists at the path or it has
    // no local path (a refused path, a Forward entry), 403 when it is a path entry's folder
    // or holds one (CRequestPath::HoldsEntryFolder).
    CFileDeleteResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);

    void BeginReceive() override {}
    void ReceiveData(CByteBuffer&) override {}
    // Sets 204 and removes the target. A folder's files and subfolders are removed one by
    // one, failures passed over; throws CServerFatalException when the folder itself, or
    // the file, cannot be removed (a tree that fails half-way keeps what was left).
    void Build() override;
    int64_t GetContentLength() override { return 0; }
    // No body: sets the buffer's length to 0 and returns 0.
    int GetSendData(CByteBuffer& buffer) override;

    // Removes what is at `localPath` as Build does: a link or file itself, a folder with
    // its tree. Throws CServerFatalException when the file or the folder itself remains.
    static void Remove(const std::string& localPath);
    // Removes the real folder `nativeFolder` (in the file system's spelling, NativePath)
    // with its tree, failures inside passed over: false, with errno at the reason, when
    // the folder itself remains.
    static bool RemoveTree(const std::string& nativeFolder);
};
