#include "http/NormalResponse.h"

#include <memory>
#include <utility>

CNormalResponse::CNormalResponse(CServerCore* core, const CConfigAccessor& threadView,
                                 const CHttpRequest& request, const CRequestPath& path)
    : CResponse(core, threadView), request_(request), path_(path)
{
}

CNormalResponse::~CNormalResponse() = default;

CSystemResponse& CNormalResponse::ReplaceWithStatusPage(const std::string& info, int code, const std::string& detail)
{
    auto page = std::make_unique<CSystemResponse>(core_, threadView_, info, code, detail);
    CSystemResponse& named = *page;
    ReplaceWith(std::move(page));
    return named;
}
