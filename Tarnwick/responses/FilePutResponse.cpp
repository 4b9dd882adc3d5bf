#include "responses/FilePutResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "FilePath.h"
#include "UrlCoding.h"

#include "FileIo.h"
#include "FileSystem.h"

#include <cerrno>

namespace {

const char kOpenFailed[] =
    "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります";

// A hidden name, so that listings never show an upload in progress.
const char kTempPrefix[] = ".twput";

// RFC 4918 9.3.1.
int CollectionFailureCode(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return 403;
    case EEXIST:
    case ENOENT:
    case ENOTDIR:
        return 409;  // a file stands where a folder of the path must be
    default:
        return 500;
    }
}

}  // namespace

CFilePutResponse::CFilePutResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CNormalResponse(core, record, path)
{
    if (path_.GetLocalPath().empty()) {
        ReplaceWithStatusPage(kFileNotFound, 404);
        return;
    }
    // A read may take '\' for '/'; a write would make a file of another name.
    if (HoldsBackslashSeparator(GetUrlPath(request_.GetUrl())))
        ReplaceWithStatusPage(kMalformedUrl, 400);
}

CFilePutResponse::~CFilePutResponse() = default;

void CFilePutResponse::BeginReceive()
{
    SetResponseCode(201);
    const HttpMethod method = request_.GetMethodKind();
    if (method == HttpMethod::Mkcol)
        MakeCollection();
    else if (method == HttpMethod::Put)
        OpenTemporaryFile();
}

void CFilePutResponse::MakeCollection()
{
    const std::string& localPath = path_.GetLocalPath();
    // A dangling link counts as there: creating the folder would go wherever it points.
    platform::FileStatus status;
    if (platform::GetFileStatus(WithoutTrailingSlash(localPath), status)) {
        collectionCode_ = 405;
        collectionInfo_ = kAlreadyExists;
        return;
    }
    errno = 0;
    const int created = CreateDirectoryPath(localPath);
    if (created == 1)
        return;
    if (created == 0) {
        // Another request made it in the meantime.
        collectionCode_ = 405;
        collectionInfo_ = kAlreadyExists;
        return;
    }
    collectionCode_ = CollectionFailureCode(errno);
    collectionInfo_ = kDirectoryFailed;
}

void CFilePutResponse::OpenTemporaryFile()
{
    const std::string& localPath = path_.GetLocalPath();
    platform::FileStatus existing;
    const bool exists = platform::GetFileStatus(WithoutTrailingSlash(localPath), existing);
    // A folder cannot take a body, nor can a name written as a folder.
    if (localPath.back() == '/' || (exists && existing.kind == platform::PathKind::Directory))
        throw CServerFatalException::SystemError(kOpenFailed, localPath, EISDIR);

    const std::string folder = GetParentDirectory(localPath);
    if (!writer_.Begin(platform::NativePath(localPath), platform::NativePath(folder) + kTempPrefix, 0666))
        throw CServerFatalException::SystemError(kOpenFailed, folder, errno);
    // The new contents take the place of the old; its permissions stay.
    if (exists && !existing.isLink && existing.kind == platform::PathKind::File)
        writer_.File().SetPermissions(existing.permissions);
    opened_ = 1;
}

void CFilePutResponse::ReceiveData(CByteBuffer& chunk)
{
    if (opened_ != 1 || full_)
        return;
    if (writer_.Write(chunk.GetData(), chunk.GetLength()))
        return;
    // The rest of the body is still read, so that the answer can say why and the
    // connection stays in step.
    if (!platform::IsOutOfSpace(errno))
        throw CServerFatalException::SystemError(kFileFailed, path_.GetLocalPath(), errno);
    full_ = true;
}

void CFilePutResponse::Build()
{
    if (collectionCode_ != 0) {
        ReplaceWithStatusPage(collectionInfo_, collectionCode_);
        return;
    }
    if (opened_ != 1)
        return;
    // The writer's destructor removes the temporary file; the old file stays. RFC 4918
    // 11.5: 507 for want of room.
    if (full_) {
        ReplaceWithStatusPage(kNoSpace, 507);
        return;
    }
    const std::string& target = path_.GetLocalPath();
    const platform::CReplaceWriter::Step failed = writer_.Finish();
    if (failed == platform::CReplaceWriter::Step::Write && platform::IsOutOfSpace(errno)) {
        ReplaceWithStatusPage(kNoSpace, 507);
        return;
    }
    if (failed == platform::CReplaceWriter::Step::Name)
        throw CServerFatalException::SystemError(kFileFailed, GetParentDirectory(target), errno);
    if (failed != platform::CReplaceWriter::Step::Done || !writer_.Commit(true))
        throw CServerFatalException::SystemError(kFileFailed, target, errno);
    opened_ = 0;
}

int CFilePutResponse::GetSendData(CByteBuffer& buffer)
{
    buffer.SetLength(0);
    return 0;
}
