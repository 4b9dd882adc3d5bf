#include "http/RequestHeader.h"

#include "http/ConnectionState.h"
#include "http/ServerFatalException.h"
#include "net/TcpSocket.h"

#include "ByteScan.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

const char kMalformedHeader[] = "異常なヘッダーを受信しました";

namespace {

// Waiting for more bytes ends with their arrival or after this long, so that a stop or
// the watchdog is noticed between two looks.
constexpr int64_t kPollIntervalUs = 20000;

const char kLineTooLong[] = "リクエスト行が長すぎます";
const char kHeaderTooLarge[] = "リクエストヘッダーが大きすぎます";
const char kReceiving[] = "ヘッダー受信中に";
const char kNetworkError[] = "ヘッダー受信中に切断もしくはネットワークエラーが発生しました";

}  // namespace

RequestHeaderScan ScanRequestHeader(const char* bytes, std::size_t size, std::size_t& length)
{
    for (std::size_t i = 0; i < size; ++i) {
        // Past eight bytes at a time while none is NUL, CR or LF, which are below 0x0E.
        if (i + sizeof(uint64_t) <= size && !HoldsByteBelow(std::string_view(bytes + i, sizeof(uint64_t)), 0x0E)) {
            i += sizeof(uint64_t) - 1;
            continue;
        }
        if (bytes[i] == '\0' || (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')))
            return RequestHeaderScan::Malformed;
        if (bytes[i] != '\r')
            continue;
        if (i + 1 == size)
            return RequestHeaderScan::Incomplete;
        if (bytes[i + 1] != '\n')
            return RequestHeaderScan::Malformed;
        if (i >= 2 && bytes[i - 2] == '\r' && bytes[i - 1] == '\n') {
            length = i + 2;
            return RequestHeaderScan::Complete;
        }
    }
    return RequestHeaderScan::Incomplete;
}

void ReceiveHeader(CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection, int64_t& receivedBytes,
                   int timeLimitMs, std::string& header)
{
    connection.Arm(timeLimitMs > 0 ? timeLimitMs : 1);
    CTimeoutGuard guard(&connection);

    // The header is scanned in the socket's buffer until it is whole, so that a body sent
    // with it stays there. Bytes already buffered (the look that found the request, a
    // request sent behind the last one) are scanned before any receive.
    bool receive = socket.GetBufferedCount() == 0;
    for (;;) {
        if (receive && socket.Fill() < 0)
            throw CServerFatalException{kNetworkError};
        const char* const bytes = socket.GetBufferedBytes();
        const std::size_t n = static_cast<std::size_t>(std::min(socket.GetBufferedCount(), CTcpSocket::kMaxStringRead));
        std::size_t length = 0;
        const RequestHeaderScan scan = ScanRequestHeader(bytes, n, length);
        if (scan == RequestHeaderScan::Malformed)
            throw CRequestRefusal{400, kMalformedHeader};
        if (scan == RequestHeaderScan::Complete) {
            header.assign(bytes, length);
            socket.Discard(static_cast<int>(length));
            receivedBytes += static_cast<int64_t>(header.size());
            return;
        }
        if (!receive) {
            receive = true;  // one receive for the rest before any wait
            continue;
        }

        if (socket.GetBufferedCount() > kMaxRequestHeaderBytes) {
            if (std::string_view(bytes, n).find("\r\n") == std::string_view::npos)
                throw CRequestRefusal{414, kLineTooLong};
            throw CRequestRefusal{431, kHeaderTooLarge};
        }
        if (state.GetSocketStateText())
            throw CServerFatalException{kReceiving + state.GetText()};
        socket.ReadableWithin(kPollIntervalUs);
    }
}
