#include "responses/OptionsResponse.h"

#include "SettingsSchema.h"

namespace {

const char kAllMethods[] = "OPTIONS, GET, HEAD, DELETE, PUT, POST, COPY, MOVE, MKCOL, PROPFIND";

}  // namespace

COptionsResponse::COptionsResponse(CServerCore* core, CRequestRecord& record, const CRequestPath& path)
    : CNormalResponse(core, record, path)
{
}

COptionsResponse::~COptionsResponse() = default;

std::string COptionsResponse::AllowedMethods(bool asterisk, bool exists, bool enableWrite, bool enableWebDav)
{
    if (asterisk)
        return kAllMethods;
    std::string allow = "OPTIONS";
    if (exists)
        allow += ", GET, HEAD, POST";
    if (enableWrite)
        allow += exists ? ", DELETE, PUT, COPY, MKCOL, MOVE" : ", DELETE, PUT, COPY, MOVE";
    if (enableWebDav && exists)
        allow += ", PROPFIND";
    return allow;
}

void COptionsResponse::Build()
{
    SetResponseCode(200);
    SetHeader("Dav", "1");
    SetHeader("MS-Author-Via", "DAV");
    SetHeader("Public", kAllMethods);
    SetHeader(
        "Allow", AllowedMethods(request_.GetUrl() == "*", path_.Exists() != 0,
                                path_.Entry().enableWrite.Read() != 0,
                                path_.Entry().enableWebDav.Read() != 0));
}
