#include "responses/FilePutResponse.h"

#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"

#include "ByteBuffer.h"
#include "FilePath.h"

#include "FileIo.h"
#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

const char kOpenFailed[] =
    "ファイルのオープンに失敗しました、サーバー上のファイルは、使用中のためロックされている可能性があります";

// Names left behind by a crashed run are skipped; this many taken in a row is no
// coincidence but a folder that refuses new files.
constexpr int kTempNameAttempts = 100;

// A hidden name, so that listings never show an upload in progress.
std::string NextTempName()
{
    return ".twput" + platform::UniqueTempSuffix();
}

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

CFilePutResponse::CFilePutResponse(CServerCore* core, const CConfigAccessor& threadView,
                                   const CHttpRequest& request, const CRequestPath& path)
    : CNormalResponse(core, threadView, request, path)
{
    if (path_.GetLocalPath().empty())
        throw new CSystemResponse(core_, threadView_, kFileNotFound, 404, kNoDetail);
}

CFilePutResponse::~CFilePutResponse()
{
    CloseFile();
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
}

void CFilePutResponse::CloseFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void CFilePutResponse::BeginReceive()
{
    SetResponseCode(201);
    const std::string& method = request_.GetMethod();
    if (method == "MKCOL")
        MakeCollection();
    else if (method == "PUT")
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

    const std::string folder = platform::NativePath(GetParentDirectory(localPath));
    fd_ = platform::OpenUnnamedFile(folder, 0666);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR))
        OpenNamedTemporaryFile(folder);
    if (fd_ < 0)
        throw CServerFatalException::SystemError(kOpenFailed, GetParentDirectory(localPath), errno);

    // The new contents take the place of the old; its permissions stay.
    struct stat old {};
    if (exists && !existing.isLink && ::stat(platform::NativePath(localPath).c_str(), &old) == 0 &&
        S_ISREG(old.st_mode))
        ::fchmod(fd_, old.st_mode & 07777);
    opened_ = 1;
}

void CFilePutResponse::OpenNamedTemporaryFile(const std::string& folder)
{
    for (int attempt = 0; attempt < kTempNameAttempts && fd_ < 0; ++attempt) {
        const std::string candidate = folder + NextTempName();
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd_ >= 0)
            tempPath_ = candidate;
        else if (errno != EEXIST)
            break;
    }
}

void CFilePutResponse::NameTemporaryFile()
{
    // A name is needed because a link never replaces a file; the rename that follows does.
    const std::string folder = platform::NativePath(GetParentDirectory(path_.GetLocalPath()));
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const std::string candidate = folder + NextTempName();
        if (platform::LinkUnnamedFile(fd_, candidate)) {
            tempPath_ = candidate;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw CServerFatalException::SystemError(kFileFailed, GetParentDirectory(path_.GetLocalPath()), errno);
}

void CFilePutResponse::ReceiveData(CByteBuffer& chunk)
{
    if (opened_ != 1)
        return;
    const char* data = chunk.GetData();
    const int32_t length = chunk.GetLength();
    for (int32_t done = 0; done < length;) {
        const ssize_t put = ::write(fd_, data + done, static_cast<size_t>(length - done));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            throw CServerFatalException::SystemError(kFileFailed, path_.GetLocalPath(), errno);
        }
        done += static_cast<int32_t>(put);
    }
}

void CFilePutResponse::Build()
{
    if (collectionCode_ != 0)
        throw new CSystemResponse(core_, threadView_, collectionInfo_, collectionCode_, kNoDetail);
    if (opened_ != 1)
        return;
    // On disk before the rename, so that a crash leaves the old file or the whole new one.
    const std::string& target = path_.GetLocalPath();
    if (::fsync(fd_) != 0)
        throw CServerFatalException::SystemError(kFileFailed, target, errno);
    if (tempPath_.empty())
        NameTemporaryFile();
    const int closed = ::close(fd_);
    const int closeError = errno;
    fd_ = -1;
    if (closed != 0)
        throw CServerFatalException::SystemError(kFileFailed, target, closeError);
    if (::rename(tempPath_.c_str(), platform::NativePath(target).c_str()) != 0)
        throw CServerFatalException::SystemError(kFileFailed, target, errno);
    tempPath_.clear();
    opened_ = 0;
}

int CFilePutResponse::GetSendData(CByteBuffer& buffer)
{
    buffer.SetLength(0);
    return 0;
}
