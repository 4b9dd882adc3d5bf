#pragma once
// The server's one socket class: a blocking IPv4 TCP socket with its own 64 KiB receive
// buffer, a line buffer for string reads, a Japanese last-error text, and a deadline that
// arms the watchdog around every call that can block.
//
// A socket belongs to one thread (its owner). Another thread may only Abort it (the
// watchdog through OnTimeout, a listener set stopping its accept threads): that shuts the
// connection down and marks the socket closed, but the descriptor is closed by the owner,
// because Linux hands a closed number to the next open at once.

#include "IPv4Address.h"
#include "TimeoutWatcher.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CTcpSocket : public CTimeoutTarget {
public:
    static constexpr int kReceiveBufferSize = 65536;
    static constexpr int kLineBufferSize = 32767;
    // Largest string read: the line buffer less its terminating zero.
    static constexpr int kMaxStringRead = kLineBufferSize - 1;

    CTcpSocket();
    ~CTcpSocket() override;

    // Closes the socket from the watchdog thread; the error text becomes "タイムアウトしました".
    void OnTimeout() override;

    virtual int IsSecure() const { return 0; }
    // Owner only. Harmless when already closed.
    virtual void Close();
    // Any thread: shuts the connection down and marks the socket closed, which makes a
    // blocked call on it fail. The owner's Close still releases the descriptor.
    void Abort();
    // 0, -1 (start-up failed, socket or connect failed), -2 (unknown host, refused).
    virtual int Connect(const std::string& host, int port);
    // Takes ownership of an open descriptor, closing the current one first.
    virtual int Attach(int handle);
    // 1 with a new connection in `into`; 0 when block is 0 and nothing waits; -1 on failure.
    // A transient failure (aborted connection, out of descriptors) leaves this socket open.
    virtual int Accept(CTcpSocket* into, int block);
    // Create, Bind, listen; 0 or -1 with the error text set.
    virtual int Listen(int port);
    // 1 when buffered bytes wait or the socket becomes readable within `microseconds`.
    virtual int DataAvailable(int64_t microseconds);
    // 1 when the socket becomes readable (data or end of stream) within `microseconds`.
    virtual int ReadableWithin(int64_t microseconds);
    // 1 when a socket that should be open is closed or reports an error.
    int HasError();

    int Receive(void* dest, int n);
    // Reads up to `max` bytes (0 or above kMaxStringRead: kMaxStringRead) as text; the
    // text ends at an embedded zero byte. Returns the bytes taken or a negative failure.
    int ReceiveString(std::string& text, int max);
    int Peek(void* dest, int n);
    int PeekString(std::string& text);
    // Buffered byte count after one receive, or a negative failure with nothing buffered.
    int Available();
    // True once the peer has closed (one receive is tried first).
    int IsDisconnected();
    // Every byte or -1 with the error text set.
    int SendAll(const void* bytes, int length);
    int SendAll(const std::string& text);

    CIPv4Address GetPeerAddress() const;
    std::string GetErrorText() const;
    void SetErrorText(const std::string& text);
    // Milliseconds for each armed call; 0 means the watchdog's default.
    void SetTimeout(int ms) { timeout_ = ms; }
    int GetTimeout() const { return timeout_; }
    bool IsOpen() const { return open_.load(); }
    int IsEndOfStream() const { return endOfStream_.load() ? 1 : 0; }
    int GetHandle() const { return fd_; }

    // Buffer operations (owner only).
    int GetBufferedCount() const { return count_; }
    int Take(void* dest, int n);
    int PeekBytes(void* dest, int n) const;

    // One receive into the free part of the buffer: 0 (nothing new or buffer full), a
    // positive count, or -1 with the error text set.
    int Fill();

protected:
    virtual int Create();
    virtual int Bind(int port);
    // The transfer primitives; CSSLSocket carries them through its TLS connection.
    virtual int RawSend(int handle, const void* bytes, int length, int flags);
    virtual int RawReceive(int handle, void* buffer, int length, int flags);
    // The readiness test of the descriptor itself.
    int SocketReadableWithin(int64_t microseconds);

private:
    int PeekIntoLineBuffer(int max);

    mutable std::mutex stateLock_;  // guards fd_ against Abort and the error text
    int fd_ = -1;
    std::atomic<bool> open_{false};
    std::atomic<bool> endOfStream_{false};
    std::string errorText_;
    std::unique_ptr<char[]> lineBuffer_;
    std::unique_ptr<char[]> receiveBuffer_;
    int count_ = 0;
    int timeout_ = 0;
};

// The IPv4 address of the first interface that is up and not loopback; else loopback;
// else 0.0.0.0.
CIPv4Address GetLocalInterfaceAddress();
