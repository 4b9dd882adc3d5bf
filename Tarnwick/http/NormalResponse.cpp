#include "http/NormalResponse.h"

CNormalResponse::CNormalResponse(CServerCore* core, const CConfigAccessor& threadView,
                                 const CHttpRequest& request, const CRequestPath& path)
    : CResponse(core, threadView), request_(request), path_(path)
{
}

CNormalResponse::~CNormalResponse() = default;
