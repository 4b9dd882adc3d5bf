#include "http/Response.h"

#include "core/ServerCore.h"

#include <charconv>
#include <string_view>

namespace {

// "timeout=<seconds>, max=<requests>" (RFC 2068 19.7.1.1) into `text`; gives its length.
std::size_t FormatKeepAlive(char (&text)[64], int seconds, int requests)
{
    char* at = text;
    const auto put = [&](std::string_view part) {
        for (char c : part)
            *at++ = c;
    };
    put("timeout=");
    at = std::to_chars(at, text + sizeof text, seconds).ptr;
    put(", max=");
    at = std::to_chars(at, text + sizeof text, requests).ptr;
    return static_cast<std::size_t>(at - text);
}

}  // namespace

CResponse::CResponse(CServerCore* core, CRequestRecord& record) : core_(core), record_(record)
{
    SetDefaultHeaders();
}

CConfigAccessor CResponse::GetResponseInfo()
{
    record_.PublishResponse();
    return record_.GetThreadView().GetSubAccessor("ResponseInfo");
}

void CResponse::SetDefaultHeaders()
{
    // A response reads the request's headers from RequestInfo, which that makes: a
    // request refused before its header was parsed still shows an empty one.
    record_.MakeRequestNode();
    const std::string server = core_->GetServerSignature();
    const CCoreSettings& settings = core_->GetCoreSettings();
    const bool keepAliveOn = settings.EnableKeepAlive() != 0 && record_.GetRequest().AsksKeepAlive();

    CResponseInfo& answer = Answer();
    answer.SetCode(200);
    answer.SetHeader("Server", server);
    // The moment the request began, not the moment the answer goes out.
    answer.SetHeader("Date", record_.GetStartGmt());
    answer.SetHeader("Content-Type", "text/html");
    if (keepAliveOn) {
        char keepAlive[64];
        const std::size_t length = FormatKeepAlive(keepAlive, settings.KeepAliveTime(), settings.MaxKeepAlive());
        answer.SetHeader("Keep-Alive", std::string_view(keepAlive, length));
        answer.SetHeader("Connection", "Keep-Alive");
    } else {
        answer.SetHeader("Connection", "Close");
    }
}

std::string BuildHeaderText(const CResponseInfo& answer)
{
    std::string header;
    answer.AppendHeaderText(header);
    return header;
}
