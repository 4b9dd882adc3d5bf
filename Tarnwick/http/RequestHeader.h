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

enum class RequestHeaderScan {
    Incomplete,  // no end yet; more bytes may complete it
    Complete,    // the empty line was found
    Malformed,   // a NUL byte, or a CR not followed by LF, before the end
};

// Looks through the first `size` bytes of a request for the CR LF CR LF that ends its
// header. Complete sets `length` to the header's size including those four bytes; bytes
// after them (a body) are not examined. RFC 9112 2.2 lets a recipient reject a bare CR,
// and a NUL has no place in a header; both make the header Malformed as soon as they
// arrive. A CR as the last byte is not yet bare: its LF may follow.
RequestHeaderScan ScanRequestHeader(const char* bytes, std::size_t size, std::size_t& length);

// Waits for a whole request header on `socket`, receives exactly it and returns it; adds
// its length to `receivedBytes`. The wait polls, so a time-out, a closed peer or a stop
// request (as `state` reports them) ends it within one poll interval. `connection` is
// armed with the watchdog's default time-out for the whole wait and is disarmed on every
// way out; its OnTimeout is expected to abort `socket`. `state` must poll `connection`
// and `socket`.
//
// Throws CServerFatalException:
// - "異常なヘッダーを受信しました": a malformed header, or more than kMaxRequestHeaderBytes
//   waiting without its end;
// - "ヘッダー受信中に" + the state text ("タイムアウトしました", "切断しました",
//   "中断しました"): the connection ended before the header was complete;
// - "ヘッダー受信中に切断もしくはネットワークエラーが発生しました": the socket failed.
std::string ReceiveHeader(CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                          int64_t& receivedBytes);
