#pragma once
// An accepted HTTPS connection: the TcpSocket with its transfers and readiness carried
// through a TLS connection. Every library call on the connection is made under the
// socket's own lock; the watchdog only shuts the descriptor down.

#include "TcpSocket.h"

#include <mutex>

class CSSLContext;
struct ssl_st;

class CSSLSocket : public CTcpSocket {
public:
    // The context must outlive the socket.
    explicit CSSLSocket(CSSLContext* context);
    ~CSSLSocket() override;

    int IsSecure() const override { return 1; }
    // Sends the TLS close_notify while the descriptor is still open, then closes it.
    void Close() override;
    int Attach(int handle) override;
    int ReadableWithin(int64_t microseconds) override;
    // Only looks, whatever the wait: a receive may block on a record half come.
    int DataAvailable(int64_t microseconds) override;

    // The server side of the TLS handshake, armed with the socket's time-out so that a
    // client that never speaks cannot hold the connection: 0 or -1.
    int Handshake();

protected:
    int RawSend(int handle, const void* bytes, int length, int flags) override;
    int RawReceive(int handle, void* buffer, int length, int flags) override;
    // Reads when the connection is readable, armed: a record may be only partly there.
    int ReceiveWaiting(void* buffer, int length) override;

private:
    void ShutdownConnection();

    std::recursive_mutex sslLock_;
    CSSLContext* context_;  // not owned
    ssl_st* ssl_ = nullptr;
    int active_ = 0;
};
