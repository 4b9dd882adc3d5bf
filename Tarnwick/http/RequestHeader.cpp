#include "http/RequestHeader.h"

#include "http/ConnectionState.h"
#include "http/ServerFatalException.h"
#include "net/TcpSocket.h"

#include <cstdint>
#include <memory>
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

std::string ReceiveHeader(CTcpSocket& socket, CConnectionState& state, CTimeoutTarget& connection,
                          int64_t& receivedBytes, int timeLimitMs)
{
    connection.Arm(timeLimitMs > 0 ? timeLimitMs : 1);
    CTimeoutGuard guard(&connection);

    // The header is looked at in place until it is whole, so that a body sent with it
    // stays in the socket.
    const std::unique_ptr<char[]> peeked(new char[CTcpSocket::kMaxStringRead]);
    for (;;) {
        const int n = socket.Peek(peeked.get(), CTcpSocket::kMaxStringRead);
        if (n < 0)
            throw CServerFatalException{kNetworkError};

        std::size_t length = 0;
        const RequestHeaderScan scan = ScanRequestHeader(peeked.get(), static_cast<std::size_t>(n), length);
        if (scan == RequestHeaderScan::Malformed)
            throw CRequestRefusal{400, kMalformedHeader};
        if (scan == RequestHeaderScan::Complete) {
            std::string header;
            const int received = socket.ReceiveString(header, static_cast<int>(length));
            if (received < 0 || static_cast<std::size_t>(received) != length)
                throw CServerFatalException{kNetworkError};
            receivedBytes += static_cast<int64_t>(header.size());
            return header;
        }

        if (socket.Available() > kMaxRequestHeaderBytes) {
            if (std::string_view(peeked.get(), static_cast<std::size_t>(n)).find("\r\n") == std::string_view::npos)
                throw CRequestRefusal{414, kLineTooLong};
            throw CRequestRefusal{431, kHeaderTooLarge};
        }
        if (state.GetSocketStateText())
            throw CServerFatalException{kReceiving + state.GetText()};
        socket.ReadableWithin(kPollIntervalUs);
    }
}
