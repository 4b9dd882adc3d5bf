#pragma once
// The base of every answer that works on a resolved path (files, folders, writes, OPTIONS,
// CGI, SSI, PROPFIND): the response base plus the request and its resolved path. The
// pipeline slots stay pure; each concrete response supplies them.
//
// Such a response refuses (a missing file, a method it does not serve) or defers to a
// status page (304) by naming that page as its replacement and returning at once.

#include "http/HttpRequest.h"
#include "http/RequestPath.h"
#include "http/Response.h"
#include "http/SystemResponse.h"

#include <string>

class CNormalResponse : public CResponse {
public:
    // `core` is not owned and outlives the response; so do `record` (the request's, whose
    // parsed request the response answers) and `path`, the request's resolved path.
    CNormalResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path);
    ~CNormalResponse() override;

protected:
    // Names a new status page (`code`, reason `info`, plain-text `detail`) as the answer in
    // this response's place (CResponse::TakeReplacement) and gives it back for headers of
    // its own. Only in the constructor or Build, which then return at once.
    CSystemResponse& ReplaceWithStatusPage(const std::string& info, int code, const std::string& detail = kNoDetail);

    const CHttpRequest& request_;
    const CRequestPath& path_;
};
