#pragma once
// Reading one request header off a connection: the bytes up to and including the empty
// line that ends it (RFC 9112 2.1), with any body left in the socket for the response.

#include <cstddef>
#include <cstdint>
#include <string>

class CConnectionState;
class CTcpSocket;
class CTimeoutTarget;

// A client that has this many bytes waiting without having ended its header is refused:
// the header must fit in one peek of the socket's buffer.
constexpr int kMaxRequestHeaderBytes = 32000;

// A request header must be whole this long after its connection was ready (for a later
// request on a kept-alive connection: after its first byte), however long Basic::TimeOut
// is: a client that trickles its header holds a connection slot meanwhile, and a few dozen
// of them would lock every other client out.
constexpr int kRequestHeaderDeadlineMs = 10000;

// A request refused for its header before any response object exists; thrown by value.
// The request driver answers it with `code` and closes the connection.
// The Info text of a request refused for the form of its header, by the reader or the parser.
extern const char kMalformedHeader[];

struct CRequestRefusal {
    int code;
    std::string info;  // the reason, also the request's Info text
};

enum class RequestHeaderScan {
    Incomplete,  // no end yet; more bytes may complete it
    Complete,    // the empty line was found
    Malformed,   // a NUL byte, a CR not followed by LF or an LF not after a CR, before the end
};

// Looks through the first `size` bytes of a request for the CR LF CR LF that ends its
// header. Complete sets `length` to the header's size including those four bytes; bytes
// after them (a body) are not examined. RFC 9112 2.2 lets a recipient reject a bare CR,
// and a NUL has no place in a header; both make the header Malformed as soon as they
// arrive. A CR as the last byte is not yet bare: its LF may follow. A bare LF is Malformed
// too: every later reader of the header splits lines at CR LF only, so a line end that
// some recipient would see where these do not (RFC 9112 2.2) is refused here, once.
RequestHeaderScan ScanRequestHeader(const char* bytes, std::size_t size, std::size_t& length);

// Waits for a whole request header on `socket`, receives exactly it into `header`
// (replacing what it held); adds its length to `receivedBytes`. The wait polls, so a time-out, a closed peer or a stop
// request (as `state` reports them) ends it within one poll interval. `connection` is
// armed with `timeLimitMs` (at least 1) for the whole wait, however the bytes trickle in,
// and is disarmed on every way out; its OnTimeout is expected to abort `socket`. `state`
// must poll `connection` and `socket`.
//
// Throws CRequestRefusal:
// - 400 "異常なヘッダーを受信しました": a malformed header;
// - 414 (no line end yet, RFC 9112 3) or 431 (RFC 6585 5): more than
//   kMaxRequestHeaderBytes waiting without the header's end.
// Throws CServerFatalException:
// - "ヘッダー受信中に" + the state text ("タイムアウトしました", "切断しました",
//   "中断しました"): the connection ended before the header was complete;
// - "ヘッダー受信中に切断もしくはネットワークエラーが発生しました": the socket failed.
void ReceiveHeader(CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection, int64_t& receivedBytes,
                   int timeLimitMs, std::string& header);
