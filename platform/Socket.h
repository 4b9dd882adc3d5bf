#pragma once
// The stream sockets the server and its tools use: IPv4 TCP and local (Unix) streams, as
// plain descriptors. An IPv4 address is 32 bits in network byte order (CIPv4Address's
// GetAddress); a port is a plain number. Unless said otherwise a function returns -1 with
// errno set on failure, and a call interrupted by a signal is resumed, not failed.
//
// Every function is one system call, or the few that one step of a connection's life
// needs: the server's request path counts them.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The step of OpenTcpListener that failed.
enum class ListenStep { Create, Bind, Listen };

// A TCP socket (close-on-exec) bound to `port` at `address` and listening with `backlog`.
// It may take the address of an old socket's connections in TIME_WAIT, so that a restart
// does not fail on them. With deferAcceptSeconds above 0 the system holds back a
// connection that has sent nothing for up to that long (where it can; elsewhere the
// option is ignored). The connections it accepts have Nagle's delay off (so that the last
// segment of an answer does not wait for the acknowledgement of the one before) and tell
// with each receive what was left behind it (ReceiveSome's `left`): options they take
// over from the listener, set on it once. The descriptor, or -1 with errno and *failedAt
// set, nothing left open; a port outside 1..65535 fails at Bind with EINVAL.
int OpenTcpListener(uint32_t address, int port, int backlog, int deferAcceptSeconds, ListenStep* failedAt);

// An unconnected TCP socket, close-on-exec.
int OpenTcpSocket();
// Connects `fd` to `address`:`port`, blocking: 0 or -1.
int ConnectTcp(int fd, uint32_t address, int port);
// The address of `host`: its dotted text when it is one, else the name service's first
// IPv4 address for it. False when neither gives one. Blocks as long as the name service.
bool ResolveIPv4(const std::string& host, uint32_t* address);
// The name a reverse lookup gives `address`, or empty when there is none (a numeric form
// is never passed off as a name). Blocks as long as the name service. Thread-safe.
std::string LookUpIPv4Name(uint32_t address);
// The IPv4 address of the first interface that is up and not loopback; else loopback's;
// else 0.
uint32_t GetLocalInterfaceIPv4();

// Takes a connection from listen socket `fd`, blocking when `fd` blocks: its descriptor
// (close-on-exec, with the options OpenTcpListener gives its connections) with the peer's
// address in *peer (0 when the system gives no IPv4 address), or -1.
int AcceptTcp(int fd, uint32_t* peer);
// After AcceptTcp failed with `error`: true when only that connection or that moment
// failed (an aborted connection, descriptors or memory short), so the listen socket is
// still good.
bool IsTransientAcceptError(int error);
// The address of a connected socket's peer; 0 when the system cannot tell.
uint32_t GetPeerIPv4(int fd);
// The address a connected socket's own end is bound to; 0 when the system cannot tell.
uint32_t GetLocalIPv4(int fd);
// The port of that end; 0 when the system cannot tell.
int GetLocalPort(int fd);

// True when `fd` becomes readable (bytes, the end of stream or an error waiting) within
// `microseconds`; 0 or less only looks. `ended`, when given, tells whether the peer's end
// of stream, a hang-up or an error was among what was waiting when the wait returned.
bool WaitReadable(int fd, int64_t microseconds, bool* ended = nullptr);
// Waits up to `ms` until one of `fds` is readable or reports a hang-up or error; sets
// (*ready)[i] for each such. The count of those, or -1 (*ready then all false).
int WaitAnyReadable(const std::vector<int>& fds, std::vector<bool>* ready, int ms);
// True when `fd` reports an error (a pending one, or an invalid descriptor).
bool HasSocketError(int fd);

// One send of up to `length` bytes, never raising SIGPIPE: the count sent or -1.
int SendSome(int fd, const void* bytes, int length);
// What ReceiveSome returns when it may not wait, or its wait ran out, and nothing has come.
constexpr int kNothingReceived = -2;
// What was waiting behind the bytes of a receive.
enum class LeftBehind {
    Unknown,  // no bytes came, or the connection does not tell
    Nothing,  // neither more bytes nor the peer's end of stream
    More,     // more bytes, or the end of stream
};
// One receive of up to `length` bytes: the count, 0 at the peer's end of stream, or -1.
// Without `wait` it returns at once, kNothingReceived when nothing has come; with it, it
// waits as long as SetReceiveTimeout allows (for ever by default). `left`, when given,
// tells what was waiting behind the bytes: known on a connection that OpenTcpListener's
// socket accepted.
int ReceiveSome(int fd, void* buffer, int length, bool wait, LeftBehind* left = nullptr);
// How long a ReceiveSome that waits may wait for its first byte; 0 or less: for ever.
// False when the system refuses.
bool SetReceiveTimeout(int fd, int64_t microseconds);
// Sends up to `length` bytes of the file `fileFd` from `offset` by the system, without
// copying them through this process: the bytes sent (fewer only when the file ends first)
// or -1. `sent` is set to the bytes sent either way, before a failure included.
int64_t SendFileRange(int fd, int fileFd, int64_t offset, int64_t length, int64_t& sent);
// While corked, what is sent is held back until it fills a whole segment; uncorking
// sends the rest at once. Failures are ignored: only the segmenting suffers.
void SetCorked(int fd, bool on);

// Ends the sending side; the peer sees the end of stream and receiving goes on.
void ShutdownSending(int fd);
// Switches whether calls on `fd` wait (the default) or return at once when they would
// block; false when the system refuses.
bool SetSocketBlocking(int fd, bool blocking);
// ShutdownSending, then discards what has come and up to `maxBytes` more that is already
// there, without waiting: closing with received bytes unread makes the system reset the
// connection instead of ending it.
void ShutdownSendingAndDrain(int fd, int64_t maxBytes);
// Ends both directions, so that a call blocked on `fd` in another thread returns; the
// descriptor stays open.
void InterruptSocket(int fd);
void CloseSocket(int fd);

// A blocking stream connected to the local (Unix) socket at `path`, close-on-exec: the
// descriptor or -1 (ENAMETOOLONG when the path does not fit an address).
int ConnectLocalStream(const std::string& path);

}  // namespace platform
