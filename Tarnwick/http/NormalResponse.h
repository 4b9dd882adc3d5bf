#pragma once
// The base of every answer that works on a resolved path (files, folders, writes, OPTIONS,
// CGI, SSI, PROPFIND): the response base plus the request and its resolved path, both
// copied. The pipeline slots stay pure; each concrete response supplies them.

#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/Response.h"

class CNormalResponse : public CResponse {
public:
    // `core` is not owned and outlives the response; `threadView` is the request's node.
    CNormalResponse(CServerCore* core, const CConfigAccessor& threadView, const CHttpRequest& request,
                    const CRequestPath& path);
    ~CNormalResponse() override;

protected:
    CHttpRequest request_;
    CRequestPath path_;
};
