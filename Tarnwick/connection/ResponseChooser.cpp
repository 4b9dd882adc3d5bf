#include "connection/ResponseChooser.h"

#include "connection/ResponsePipeline.h"

#include "FilePath.h"
#include "http/AccessCheck.h"
#include "http/RequestPath.h"
#include "http/RequestRecord.h"
#include "http/ServerFatalException.h"
#include "http/SystemResponse.h"
#include "responses/CGIProgram.h"
#include "responses/CGIResponse.h"
#include "responses/DavPropfindResponse.h"
#include "responses/DirectoryResponse.h"
#include "responses/FileDeleteResponse.h"
#include "responses/FileMoveResponse.h"
#include "responses/FilePutResponse.h"
#include "responses/FileResponse.h"
#include "responses/OptionsResponse.h"
#include "responses/SSIResponse.h"

#include "CRuntime.h"

CResponseChooser::CResponseChooser(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                                   const CBandWidthLimiter& limiter, bool secure, const CIPv4Address& peer,
                                   CConnectionState& connection, RequestTransfer& transfer)
    : core_(core),
      record_(record),
      path_(path),
      limiter_(limiter),
      secure_(secure),
      peer_(peer),
      connection_(connection),
      transfer_(transfer)
{
}

std::unique_ptr<CResponse> CResponseChooser::Choose()
{
    std::unique_ptr<CResponse> chosen = FirstToDecide();
    // A response whose constructor found that it cannot answer has named the one that does.
    if (std::unique_ptr<CResponse> replacement = chosen->TakeReplacement())
        return replacement;
    // Refused before a byte of it is read; a chunked body is measured as it comes.
    if (chosen->ReadsBody() && transfer_.bodyLength > chosen->GetMaxBody())
        return RefuseBody(core_, record_, transfer_, 413, kBodyTooLarge);
    return chosen;
}

std::unique_ptr<CResponse> CResponseChooser::FirstToDecide()
{
    if (std::unique_ptr<CResponse> refusal = CheckBodyFraming())
        return refusal;
    const CHttpRequest& request = record_.GetRequest();
    if (request.PathHoldsControlByte() || path_.HoldsControlByte())
        return std::make_unique<CSystemResponse>(core_, record_, kMalformedUrl, 400, kNoDetail);
    // The object collapses "/a/b/.." to "/a/b/" rather than resolve it: a write would change
    // what the client did not name.
    if (request.IsWrite() && request.PathHoldsDotDot())
        return std::make_unique<CSystemResponse>(core_, record_, kMalformedUrl, 400, kNoDetail);
    if (std::unique_ptr<CResponse> refusal = CheckAccess(core_, record_, path_, limiter_, secure_ ? 1 : 0, peer_))
        return refusal;
    if (std::unique_ptr<CResponse> response = DispatchMethod())
        return response;
    if (path_.IsRedirect()) {
        auto redirect = std::make_unique<CSystemResponse>(
            core_, record_, path_.GetRedirectLocation() + " に移動してください", 301, kNoDetail);
        redirect->SetHeader("Location", path_.GetRedirectLocation());
        return redirect;
    }
    if (path_.IsDirectory())
        return std::make_unique<CDirectoryResponse>(core_, record_, path_);
    // Read once for both: most requests are for plain files on paths that run nothing.
    if (path_.Exists() && path_.Entry().enableSsiCgi.Read() != 0) {
        if (std::unique_ptr<CResponse> response = CheckCGI())
            return response;
        if (std::unique_ptr<CResponse> response = CheckSSI())
            return response;
    }
    return std::make_unique<CFileResponse>(core_, record_, path_);
}

std::unique_ptr<CResponse> CResponseChooser::CheckBodyFraming()
{
    const BodyFraming& framing = record_.GetRequest().GetBodyFraming();
    transfer_.bodyLength = framing.contentLength;
    transfer_.chunked = framing.chunked;
    if (framing.refusal == 0)
        return nullptr;
    // A body that is not read leaves the connection at an unknown place in the stream.
    transfer_.closeAfterResponse = true;
    return std::make_unique<CSystemResponse>(core_, record_, framing.reason, framing.refusal, kNoDetail);
}

std::unique_ptr<CResponse> CResponseChooser::DispatchMethod()
{
    const HttpMethod method = record_.GetRequest().GetMethodKind();
    if (method == HttpMethod::Options)
        return std::make_unique<COptionsResponse>(core_, record_, path_);
    // Each option is read only for the methods it governs: a plain read needs neither.
    const bool propfind = method == HttpMethod::Propfind;
    if ((propfind || method == HttpMethod::Proppatch || method == HttpMethod::Lock || method == HttpMethod::Unlock) &&
        path_.Entry().enableWebDav.Read() != 0) {
        if (propfind)
            return std::make_unique<CDAVPropfindResponse>(core_, record_, path_, secure_, peer_);
        throw CServerFatalException{"サポートしていません"};
    }
    const bool put = method == HttpMethod::Put || method == HttpMethod::Mkcol;
    const bool remove = method == HttpMethod::Delete;
    if (!record_.GetRequest().IsWrite())
        return nullptr;
    if (path_.Entry().enableWrite.Read() == 0)
        return nullptr;
    if (put)
        return std::make_unique<CFilePutResponse>(core_, record_, path_);
    if (remove)
        return std::make_unique<CFileDeleteResponse>(core_, record_, path_);
    return std::make_unique<CFileMoveResponse>(core_, record_, path_, connection_);
}

std::unique_ptr<CResponse> CResponseChooser::CheckCGI()
{
    const CHttpRequest& request = record_.GetRequest();
    const std::string command = MakeCommandLine(core_, path_.GetLocalPath(), request.GetQueryDecoded());
    if (command.empty())
        return nullptr;
    record_.SetScriptCommand(command);
    return std::make_unique<CCGIResponse>(core_, record_, path_, connection_);
}

std::unique_ptr<CResponse> CResponseChooser::CheckSSI()
{
    const std::string extension = GetFileExtension(path_.GetLocalPath());
    for (const std::string& listed : path_.Settings().SsiExtensions())
        if (platform::_mbsicmp(extension, listed) == 0)
            return std::make_unique<CSSIResponse>(core_, record_, path_, connection_);
    return nullptr;
}
