#pragma once
// An accepted HTTPS connection: the TcpSocket with its transfers and readiness carried
// through a TLS connection. Every library call on the connection is made under the
// socket's own lock; the watchdog only shuts the descriptor down.

#include "net/TcpSocket.h"

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

    // The whole handshake must be over within this, whatever Basic::TimeOut says: a client
    // that trickles its handshake would otherwise hold a connection slot for the full
    // time-out, and an honest one needs a few round trips.
    static constexpr int kHandshakeTimeoutMs = 10000;

    // The server side of the TLS handshake, armed with kHandshakeTimeoutMs (or the
    // socket's time-out when that is shorter): 0 or -1 (also when one was begun before).
    int Handshake();
    // One step of the handshake on a descriptor that does not wait: 1 once it is done, 0
    // while it waits for the client, -1 when it failed. Receives then report what does
    // not wait as nothing come, until the descriptor waits again.
    int HandshakeStep();
    bool IsHandshakeDone() const { return handshakeDone_; }

protected:
    int RawSend(int handle, const void* bytes, int length, int flags) override;
    int RawReceive(int handle, void* buffer, int length, int flags) override;
    // Reads when the connection is readable, armed: a record may be only partly there.
    int ReceiveWaiting(void* buffer, int length) override;

private:
    void ShutdownConnection();
    // The TLS connection over the descriptor, made once: false when it cannot be.
    bool BeginConnection();

    std::recursive_mutex sslLock_;
    CSSLContext* context_;  // not owned
    ssl_st* ssl_ = nullptr;
    int active_ = 0;
    bool handshakeDone_ = false;
};
