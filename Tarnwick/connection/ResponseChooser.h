#pragma once
// The choice of the answer to a parsed request: the first check or chooser that decides
// gives the response. The body framing (400), a control byte in the path (400), a ".."
// segment in the path of a write (400), the access checks (AccessCheck.h), the method
// dispatch, the path's redirect (301), its directory listing, CGI, SSI, and the file, in
// this order.

#include <memory>

class CBandWidthLimiter;
class CConnectionState;
class CIPv4Address;
class CRequestPath;
class CRequestRecord;
class CResponse;
class CServerCore;
struct RequestTransfer;

class CResponseChooser {
public:
    // Nothing is owned; all outlive the chooser and the responses it makes, which keep
    // `record`, `path` and `connection`. `secure` and `peer` are the socket's. The choice
    // takes the body's framing into `transfer`; one that leaves the connection unusable (a
    // refused framing, a body too large to take) marks it to close after the answer.
    CResponseChooser(CServerCore* core, CRequestRecord& record, const CRequestPath& path,
                     const CBandWidthLimiter& limiter, bool secure, const CIPv4Address& peer,
                     CConnectionState& connection, RequestTransfer& transfer);
    CResponseChooser(const CResponseChooser&) = delete;
    CResponseChooser& operator=(const CResponseChooser&) = delete;

    // The answer, never null; the caller owns it. When the chosen response's constructor
    // named a replacement, that one is given instead, and when the chosen response reads a
    // body whose announced length is above its GetMaxBody, 413. Throws
    // CServerFatalException for a WebDAV method that is not served, and what making a
    // response throws.
    std::unique_ptr<CResponse> Choose();

private:
    // Choose without the constructor's replacement.
    std::unique_ptr<CResponse> FirstToDecide();
    // Null, or the answer that refuses the body's framing (closing after it).
    std::unique_ptr<CResponse> CheckBodyFraming();
    // The response for a method that is not a plain read (OPTIONS, PROPFIND, and the
    // writes where the path's options enable them); null for every other method. Throws
    // CServerFatalException for a WebDAV method that is not served.
    std::unique_ptr<CResponse> DispatchMethod();
    // The next two only for an existing path whose options enable SSI/CGI.
    // A CCGIResponse when a CGI entry of the settings serves the path's file; null
    // otherwise. Sets ScriptCommand.
    std::unique_ptr<CResponse> CheckCGI();
    // A CSSIResponse when the path's extension is listed under SSI; null otherwise.
    std::unique_ptr<CResponse> CheckSSI();

    CServerCore* core_;
    CRequestRecord& record_;
    const CRequestPath& path_;
    const CBandWidthLimiter& limiter_;
    const bool secure_;
    const CIPv4Address& peer_;
    CConnectionState& connection_;
    RequestTransfer& transfer_;
};
