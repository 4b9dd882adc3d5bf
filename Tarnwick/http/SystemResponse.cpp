#include "http/SystemResponse.h"

#include "http/BuiltinPages.h"
#include "http/ServerFatalException.h"

#include "ByteBuffer.h"
#include "SettingsSchema.h"
#include "core/ServerCore.h"

#include <cstdio>

namespace {

// The leaves the server writes into the views a page is filled from, and the texts given
// to every page. A placeholder naming one of them that is still there stands for a value
// this request did not have (no Method in a header that could not be parsed) and shows as
// nothing; any other "%...%" belongs to the template (an escaped URL, "100%OFF%") and stays.
const char* const kServerNames[] = {
    // the request's thread node
    "ThreadName", "Info", "Protocol", "Host", "TargetHost", "ScriptCommand", "RecvSize", "SendSize", "Size",
    // RequestInfo
    "Method", "URL", "Object", "Version", "Query", "QueryDecoded", "User", "Passwd",
    // ResponseInfo
    "ResponseCode", "ResponseText", "CGIHeader",
    // ServerInfo
    "ServerName", "ServerVersion", "ServerSignature", "ServerRoot", "ServerAddress", "ServerHostName", "ServerPort",
    "CurrentConnection", "AllConnected", "AllRecvSize", "AllSendSize", "Connected1Hour", "RecvSize1Hour",
    "SendSize1Hour", "StopServer",
    // the page's own
    "Detail"};

}  // namespace

CSystemResponse::CSystemResponse(CServerCore* core, CRequestRecord& record, const std::string& info, int code,
                                 const std::string& detail)
    : CResponse(core, record), info_(info), detail_(detail), code_(code)
{
}

CSystemResponse::~CSystemResponse() = default;

void CSystemResponse::Build()
{
    SetResponseCode(code_);

    // The folder's name ends with '/' and passes the server's value filter.
    const std::string directory = schema::kHtmlFileDirectory.Read(core_->GetSettingAccessor());
    char name[32];
    std::snprintf(name, sizeof name, "Response_%03d.html", code_);
    if (page_.LoadFile(directory + name) != 0 && page_.LoadFile(directory + "Response_default.html") != 0 &&
        page_.LoadResource(kStatusPageResource) != 0) {
        throw CServerFatalException{
            "HTMLデータのロードに失敗しました、リソースが破壊されているか、システムエラーです"};
    }

    // Nothing filled in here is markup: the reason texts carry URLs and names from the
    // request.
    page_.Replace("Info", CHtmlTemplate::EscapeHtml(info_));
    page_.Replace("Detail", CHtmlTemplate::EscapeHtml(detail_));
    ExpandRequestPlaceholders(page_, core_, record_);
    for (const char* name : kServerNames)
        page_.Replace(name, "");
}

bool CSystemResponse::IsNotModified() const { return record_.Response().GetCode() == 304; }

int64_t CSystemResponse::GetContentLength() { return IsNotModified() ? 0 : page_.GetLength(); }

int CSystemResponse::GetSendData(CByteBuffer& buffer)
{
    if (IsNotModified() || sent_)
        return 0;
    if (page_.IsEmpty())
        throw CServerFatalException{"HTMLデータのロードに失敗しました、システムエラーです"};
    sent_ = 1;
    page_.CopyTo(buffer);
    return buffer.GetLength();
}

void ExpandRequestPlaceholders(CHtmlTemplate& page, CServerCore* core, const CRequestRecord& record)
{
    const auto expand = [&page](std::string_view key, std::string_view value) { page.ExpandLeaf(key, value); };
    record.VisitThreadLeaves(expand);
    page.ExpandFromView(core->GetInfoAccessor());
    record.GetRequest().VisitLeaves(expand);
    record.Response().VisitLeaves(expand);
}
