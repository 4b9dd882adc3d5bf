#include "net/SslSocket.h"

#include "net/SslContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>

CSSLSocket::CSSLSocket(CSSLContext* context) : context_(context) {}

CSSLSocket::~CSSLSocket()
{
    Disarm();
    Close();
}

void CSSLSocket::ShutdownConnection()
{
    std::lock_guard<std::recursive_mutex> lock(sslLock_);
    if (!ssl_)
        return;
    if (active_ && IsOpen()) {
        Arm(GetTimeout());
        SSL_shutdown(ssl_);
        Disarm();
    }
    active_ = 0;
    SSL_free(ssl_);  // frees the BIO too
    ssl_ = nullptr;
    ERR_clear_error();
}

void CSSLSocket::Close()
{
    ShutdownConnection();
    CTcpSocket::Close();
}

int CSSLSocket::Attach(int handle)
{
    ShutdownConnection();
    return CTcpSocket::Attach(handle);
}

bool CSSLSocket::BeginConnection()
{
    if (ssl_)
        return true;
    // Made under the context's lock: the listeners may be making the context again.
    ssl_ = context_->NewConnection();
    if (!ssl_)
        return false;
    BIO* bio = BIO_new_socket(GetHandle(), BIO_NOCLOSE);
    if (!bio)
        return false;
    SSL_set_bio(ssl_, bio, bio);
    active_ = 1;
    return true;
}

int CSSLSocket::Handshake()
{
    std::lock_guard<std::recursive_mutex> lock(sslLock_);
    if (!IsOpen() || ssl_ || !BeginConnection())
        return -1;
    const int timeout = GetTimeout();
    Arm(timeout > 0 ? std::min(timeout, kHandshakeTimeoutMs) : kHandshakeTimeoutMs);
    const int rc = SSL_accept(ssl_);
    Disarm();
    if (rc <= 0) {
        active_ = 0;  // no close_notify for a connection that never was
        ERR_clear_error();
        return -1;
    }
    handshakeDone_ = true;
    return 0;
}

int CSSLSocket::HandshakeStep()
{
    std::lock_guard<std::recursive_mutex> lock(sslLock_);
    if (handshakeDone_)
        return 1;
    if (!IsOpen() || !BeginConnection() || !active_)
        return -1;
    const int rc = SSL_accept(ssl_);
    if (rc == 1) {
        handshakeDone_ = true;
        return 1;
    }
    const int err = SSL_get_error(ssl_, rc);
    ERR_clear_error();
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
        return 0;
    active_ = 0;
    return -1;
}

int CSSLSocket::RawSend(int, const void* bytes, int length, int)
{
    std::lock_guard<std::recursive_mutex> lock(sslLock_);
    if (!active_)
        return -1;
    if (length == 0)
        return 0;
    const char* p = static_cast<const char*>(bytes);
    int left = length;
    while (left > 0) {
        const int n = SSL_write(ssl_, p, left);
        if (n <= 0 || SSL_get_error(ssl_, n) != SSL_ERROR_NONE) {
            ERR_clear_error();
            return -1;
        }
        p += n;
        left -= n;
    }
    return length;
}

int CSSLSocket::RawReceive(int, void* buffer, int length, int)
{
    std::lock_guard<std::recursive_mutex> lock(sslLock_);
    if (!active_)
        return -1;
    const int n = SSL_read(ssl_, buffer, length);
    if (n > 0)
        return n;
    const int err = SSL_get_error(ssl_, n);
    ERR_clear_error();
    // Only on a descriptor that does not wait: a record not whole yet.
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
        return kNothingWaiting;
    return err == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

int CSSLSocket::ReadableWithin(int64_t microseconds)
{
    {
        std::lock_guard<std::recursive_mutex> lock(sslLock_);
        if (!active_)
            return 0;
        // Bytes decrypted, or records read off the descriptor with the last ones and not
        // yet decrypted: no readiness of the descriptor shows either.
        if (SSL_pending(ssl_) > 0 || SSL_has_pending(ssl_) == 1)
            return 1;
    }
    return SocketReadableWithin(microseconds);
}

int CSSLSocket::DataAvailable(int64_t microseconds)
{
    return GetBufferedCount() > 0 ? 1 : ReadableWithin(microseconds);
}

int CSSLSocket::ReceiveWaiting(void* buffer, int length)
{
    if (ReadableWithin(0) != 1)
        return kNothingWaiting;
    Arm(GetTimeout());
    const int n = RawReceive(GetHandle(), buffer, length, 0);
    Disarm();
    return n;
}
