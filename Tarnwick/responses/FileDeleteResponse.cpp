#include "responses/FileDeleteResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "FileList.h"
#include "FilePath.h"

#include "FileIo.h"
#include "FileSystem.h"

#include <cerrno>

CFileDeleteResponse::CFileDeleteResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CNormalResponse(core, record, path)
{
    if (path_.GetLocalPath().empty() || path_.Exists() == 0) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    if (path_.HoldsEntryFolder())
        ReplaceWithStatusPage(kEntryFolder, 403);
}

void CFileDeleteResponse::Build()
{
    SetResponseCode(204);
    Remove(path_.GetLocalPath());
}

void CFileDeleteResponse::Remove(const std::string& localPath)
{
    // A link to a folder looks like a folder; its contents belong to someone else.
    const std::string named = WithoutTrailingSlash(localPath);
    platform::FileStatus status;
    if (platform::GetFileStatus(named, status) && !status.isLink && status.kind == platform::PathKind::Directory) {
        if (!RemoveTree(platform::NativePath(named)))
            throw CServerFatalException::SystemError(kDirectoryFailed, named, errno);
        return;
    }
    if (!platform::DeleteFile(named))
        throw CServerFatalException::SystemError(kFileFailed, named, errno);
}

bool CFileDeleteResponse::RemoveTree(const std::string& nativeFolder)
{
    const std::string folder = WithoutTrailingSlash(nativeFolder) + '/';
    // A link would be followed by the listing: what it points at is not the tree's.
    platform::FileStatus status;
    if (!platform::GetNativeStatus(WithoutTrailingSlash(nativeFolder), status))
        return false;
    if (status.isLink || status.kind != platform::PathKind::Directory) {
        errno = ENOTDIR;
        return false;
    }
    // CFileList lists links as files and never enters them.
    CFileList files;
    files.ScanFiles(folder + "*.*", true);
    for (int i = 0; i < files.GetCount(); ++i)
        platform::DeleteNativeFile(files.GetAt(i));
    CFileList folders;
    folders.AddDirectories(folder + "*.*");
    for (int i = 0; i < folders.GetCount(); ++i)
        platform::RemoveNativeDirectory(folders.GetAt(i));
    return platform::RemoveNativeDirectory(folder);
}

int CFileDeleteResponse::GetSendData(CByteBuffer& buffer)
{
    buffer.SetLength(0);
    return 0;
}
