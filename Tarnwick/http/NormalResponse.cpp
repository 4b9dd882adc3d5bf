#include "http/NormalResponse.h"

#include <memory>
#include <utility>

CNormalResponse::CNormalResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CResponse(core, record), request_(record.GetRequest()), path_(path)
{
}

CNormalResponse::~CNormalResponse() = default;

CSystemResponse& CNormalResponse::ReplaceWithStatusPage(const std::string& info, int code, const std::string& detail)
{
    auto page = std::make_unique<CSystemResponse>(core_, record_, info, code, detail);
    CSystemResponse& named = *page;
    ReplaceWith(std::move(page));
    return named;
}
