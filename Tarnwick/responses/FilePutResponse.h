#pragma once
// PUT (the request body becomes the file at the path) and MKCOL (a new folder at the path).
// Neither answer has a body.
//
// PUT writes the body to a file without a name in the target's folder, which Build, called
// once the whole body has arrived, names with a hidden temporary name and renames over the
// target: an upload that fails or is cut short leaves the old file as it was and, even when
// the server is killed, no file behind. Where the file system has no unnamed files the body
// goes to the hidden temporary file from the start, which is removed when the response is
// destroyed without having been built.
// The target is replaced by the rename, never written through: a symbolic link at the
// target is replaced by the new file, not followed.
//
// MKCOL answers 201 only when it created the folder (with any missing folders above
// it); RFC 4918 9.3.1: 405 when something already exists at the path, 409 when a file
// stands where a folder must be, 403 when the system refuses, else 500.

#include "http/NormalResponse.h"

#include "File.h"

#include <cstdint>
#include <string>

class CByteBuffer;

class CFilePutResponse : public CNormalResponse {
public:
    // `core` is not owned; it, `record` (the request's) and `path` outlive the response.
    // Names a status page as its replacement, 404 when the path has no local path (a
    // refused path, a Forward entry): nothing is ever written there.
    CFilePutResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);
    // Closes the temporary file and removes it when Build has not put it in place.
    ~CFilePutResponse() override;

    // Sets 201. MKCOL creates the folder and keeps the outcome for Build. PUT opens the
    // temporary file; throws CServerFatalException with the open-failure text when the
    // target is a folder or its folder is missing or not writable.
    void BeginReceive() override;
    // PUT: appends the chunk to the temporary file; throws CServerFatalException when the
    // write fails. Ignored otherwise (the body of a MKCOL is discarded).
    void ReceiveData(CByteBuffer& chunk) override;
    bool ReadsBody() const override { return request_.GetMethod() == "PUT"; }
    // PUT: flushes the temporary file to disk and renames it over the target, which keeps
    // the permission bits of a file it replaces; throws CServerFatalException when that
    // fails (the old file is left as it was). MKCOL: names a status page as its replacement
    // when the folder was not created.
    void Build() override;
    int64_t GetContentLength() override { return 0; }
    // No body: sets the buffer's length to 0 and returns 0.
    int GetSendData(CByteBuffer& buffer) override;

private:
    void MakeCollection();
    void OpenTemporaryFile();

    platform::CReplaceWriter writer_;
    int opened_ = 0;            // 1 once BeginReceive opened the temporary file for PUT
    bool full_ = false;         // the storage took no more of the body; the rest is read, not kept
    int collectionCode_ = 0;    // MKCOL: the status to answer instead of 201, or 0
    std::string collectionInfo_;
};
