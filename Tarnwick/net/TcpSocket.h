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
#include "Socket.h"
#include "thread/TimeoutWatcher.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CTcpSocket : public CTimeoutTarget {
public:
    // One receive takes at most this: a request body comes in few calls, and a whole
    // request header (kMaxRequestHeaderBytes) always fits.
    static constexpr int kReceiveBufferSize = 65536;
    // The string reads' buffer, which the header peek also sizes: above the largest
    // request header the server takes, so an accepted header is read in one piece.
    static constexpr int kLineBufferSize = 32767;
    // Largest string read: the line buffer less its terminating zero.
    static constexpr int kMaxStringRead = kLineBufferSize - 1;
    // How long a look that found no end of stream waiting (a receive that found nothing, a
    // wait that found bytes or nothing) stands for IsDisconnected: a request's
    // checks between its read and its answer take microseconds, and a peer that closes
    // during a longer answer must still be noticed by the next check.
    static constexpr uint64_t kQuietLookMs = 1;

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
    // Listens on `port` at `address` (0.0.0.0, the default: every interface); with
    // deferAcceptSeconds above 0 the system holds back connections that have sent nothing
    // for up to that long. 0 or -1 with the error text set.
    virtual int Listen(int port, const CIPv4Address& address = CIPv4Address(), int deferAcceptSeconds = 0);
    // 1 when buffered bytes wait or the socket becomes readable within `microseconds`.
    // The look is itself a receive into the buffer, waiting up to `microseconds` for the
    // first byte, so that the read which usually follows costs no further call; an end of
    // stream or a failure it meets is reported by the next Fill, as that Fill would have
    // found it. A wait is broken by Abort.
    virtual int DataAvailable(int64_t microseconds);
    // 1 when the socket becomes readable (data or end of stream) within `microseconds`.
    virtual int ReadableWithin(int64_t microseconds);
    // 1 when a socket that should be open is closed or reports an error.
    int HasError();

    // Reads are buffered: a Receive or Peek of n > 0 bytes that the buffer already holds
    // is answered from it; otherwise one Fill comes first. Receive takes the bytes, Peek
    // leaves them; either returns the count copied, or a negative failure with nothing
    // buffered.
    int Receive(void* dest, int n);
    // Reads up to `max` bytes (0 or above kMaxStringRead: kMaxStringRead) as text; the
    // text ends at an embedded zero byte. Returns the bytes taken or a negative failure.
    int ReceiveString(std::string& text, int max);
    int Peek(void* dest, int n);
    int PeekString(std::string& text);
    // Buffered byte count after one receive, or a negative failure with nothing buffered.
    int Available();
    // True once the peer has closed. One Fill is tried first, whatever is buffered, unless
    // a look found no end of stream waiting within kQuietLookMs and the socket has not
    // waited, sent, met an end or been handed over since: that look stands for this one.
    int IsDisconnected();
    // The new owner's first call once the socket has passed to its thread: the looks made
    // before stand no more, so that its first disconnect check looks at the line when it
    // is made, however quickly the socket came.
    void HandOver() { quietLook_ = false; }
    // Every byte or -1 with the error text set.
    int SendAll(const void* bytes, int length);
    int SendAll(const std::string& text);
    // Plain sockets (a secure one fails at once, sending nothing): sends up to `length` bytes of the file from `offset` by the system,
    // without copying them through this process. The bytes sent (fewer only when the file
    // ends first) or -1 with the error text set.
    int64_t SendFile(int fileHandle, int64_t offset, int64_t length);
    // The bytes the system has taken from this socket's sends (SendAll, SendFile) since it
    // was made, the part of a send that then failed included: what actually went out.
    // Owner only.
    int64_t GetBytesSent() const { return bytesSent_; }
    // While on, what is sent is held back until it fills a whole segment (TCP_CORK), so
    // that an answer written in several calls leaves in full segments; switching it off
    // sends the rest at once. Owner only; a closed socket ignores it.
    void SetCorked(bool on);
    // Owner only, on an open socket: ends the sending side, so that the peer sees the end
    // of the answer while this side may still read what it sends.
    void ShutdownSending();
    // Owner only: ShutdownSending, then drops what the peer has sent so far, up to about
    // `maxBytes`, without waiting and leaving the read buffer alone, so that a close
    // does not reset the connection over unread bytes.
    void ShutdownSendingAndDrop(int64_t maxBytes);

    // The peer's address as the connection was made (taken from the accept or connect,
    // asked of the system once after an Attach); 0.0.0.0 before a connection, after Close,
    // and when the system cannot tell. Owner only.
    CIPv4Address GetPeerAddress() const;
    // The address and port of the connection's own end, asked of the system at each call:
    // where the client reached this server, which listening on every interface has no one
    // address of its own. 0.0.0.0 and 0 when the system cannot tell. Owner only.
    CIPv4Address GetLocalAddress() const;
    int GetLocalPort() const;
    std::string GetErrorText() const;
    void SetErrorText(const std::string& text);
    // Owner only: `onClose` runs once, on the thread that closes the descriptor (Close or
    // destruction), just before it is closed and under the socket's lock, so it must not
    // use the socket; a later call replaces a hook not yet run.
    void SetCloseHook(std::function<void()> onClose);
    // Milliseconds for each armed call; 0 means the watchdog's default.
    void SetTimeout(int ms) { timeout_ = ms; }
    int GetTimeout() const { return timeout_; }
    bool IsOpen() const { return open_.load(); }
    int IsEndOfStream() const { return endOfStream_.load() ? 1 : 0; }
    int GetHandle() const { return fd_; }

    // Buffer operations (owner only).
    int GetBufferedCount() const { return count_; }
    // The buffered bytes in place, GetBufferedCount() of them; valid until the next read,
    // Take, Discard or Close.
    const char* GetBufferedBytes() const { return receiveBuffer_.get(); }
    int Take(void* dest, int n);
    // Drops up to `n` buffered bytes: the count dropped.
    int Discard(int n);
    int PeekBytes(void* dest, int n) const;

    // One receive into the free part of the buffer, taking only what is there: 0 (nothing
    // new, buffer full, or the end of stream seen now), a positive count, or -1 with the
    // error text set once the end was seen and nothing is buffered, or on a failure.
    int Fill();

protected:
    virtual int Create();
    // RawReceive's flag: return kNothingWaiting at once when nothing has come.
    static constexpr int kReceiveNow = 1;
    // The transfer primitives; CSSLSocket carries them through its TLS connection. A send
    // takes no flag (0).
    virtual int RawSend(int handle, const void* bytes, int length, int flags);
    virtual int RawReceive(int handle, void* buffer, int length, int flags);
    // The readiness test of the descriptor itself.
    int SocketReadableWithin(int64_t microseconds);
    // What ReceiveWaiting returns when no byte waits.
    static constexpr int kNothingWaiting = -2;
    // One receive of what the connection holds now: a positive count, 0 at the peer's end
    // of stream, -1 on failure, or kNothingWaiting. A plain socket never waits, and notes
    // in leftBehind_ what was waiting behind its bytes; a receive that can block (a TLS
    // record half come) is armed with the socket's time-out.
    virtual int ReceiveWaiting(void* buffer, int length);
    // Set by a plain socket's receives; Unknown before each.
    platform::LeftBehind leftBehind_ = platform::LeftBehind::Unknown;

private:
    int PeekIntoLineBuffer(int max);
    // The buffer of line reads, made at the first.
    char* LineBuffer();
    // Whether the last look that found no end of stream may stand for a disconnect check now.
    bool QuietLookStands() const;
    // Every receive and send of the buffered calls goes through these, so that the quiet
    // look is kept here alone: a receive that finds nothing waiting is a look, an end or a
    // failure ends one, and any send ends one.
    int ReceiveOnLine(void* buffer, int length);
    // A plain socket's receive that waits up to `microseconds` for its first byte, with
    // ReceiveWaiting's results; broken by Abort.
    int ReceiveWithin(void* buffer, int length, int64_t microseconds);
    int SendOnLine(const void* bytes, int length);
    // What a receive's result says about the end of stream: nothing come, or bytes with
    // nothing behind them, is a quiet look; an end, a failure, or bytes with more behind
    // them end one.
    void NoteReceived(int received);
    void NoteQuietLook();
    // The answer of a receive that DataAvailable made with the buffer empty, when it was
    // an end of stream (0) or a failure (-1): the next Fill reports it. kNoPending else.
    static constexpr int kNoPending = 1;

    mutable std::mutex stateLock_;  // guards fd_ against Abort and the error text
    int fd_ = -1;
    std::atomic<bool> open_{false};
    std::atomic<bool> endOfStream_{false};
    std::string errorText_;
    std::unique_ptr<char[]> lineBuffer_;
    std::unique_ptr<char[]> receiveBuffer_;
    int count_ = 0;
    int pending_ = kNoPending;
    // The tick of the last look that found no end of stream waiting, while it stands.
    bool quietLook_ = false;
    uint64_t quietLookTick_ = 0;
    int timeout_ = 0;
    int64_t bytesSent_ = 0;
    // The wait the descriptor's receives are given now (SO_RCVTIMEO); 0: for ever.
    int64_t receiveWaitUs_ = 0;
    std::function<void()> closeHook_;
    // The peer's address once known; peerKnown_ false until it is asked for or given.
    mutable CIPv4Address peer_;
    mutable bool peerKnown_ = false;
};

// The IPv4 address of the first interface that is up and not loopback; else loopback;
// else 0.0.0.0.
CIPv4Address GetLocalInterfaceAddress();

// Corks a socket for its life (CTcpSocket::SetCorked), so that every way out of a long
// answer uncorks it again.
class CSocketCork {
public:
    explicit CSocketCork(CTcpSocket& socket) : socket_(socket) { socket_.SetCorked(true); }
    ~CSocketCork() { socket_.SetCorked(false); }
    CSocketCork(const CSocketCork&) = delete;
    CSocketCork& operator=(const CSocketCork&) = delete;

private:
    CTcpSocket& socket_;
};
