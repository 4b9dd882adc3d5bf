#pragma once
// Loopback ports and sockets for tests that run servers.

#include <string>
#include <sys/types.h>

namespace testsupport {

// A blocking TCP connection to 127.0.0.1:port, -1 on failure. Receives and sends time out
// after `timeoutMs`, so a test never hangs on a server that does not answer.
int ConnectLoopback(int port, int timeoutMs = 5000);

// Sends `request` on a fresh connection and reads the answer up to the server's end of the
// stream (each read bounded as by ConnectLoopback); "" when nothing could be exchanged.
std::string HttpExchange(int port, const std::string& request);

// A loopback port the system chose, held for a server the test starts on it. This object
// keeps it bound, without listening and with SO_REUSEADDR, for its whole life: the system
// gives a bound port to no other bind of port 0 and to no outgoing connection, while a
// listener that also sets SO_REUSEADDR (every Tarnwick listener does) may still bind it
// as long as nothing listens on it. So nothing else can take the port between its choice
// and the server's bind, nor between a server's stop and its restart there.
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    // The port, -1 when none could be reserved.
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = -1;
};

// A loopback port that stays taken while it matters: this object listens on it.
class BusyPort {
public:
    // On a port the system chooses.
    BusyPort();
    // On the reserved port, which stays reserved after Release: a server that a test then
    // starts there finds it free, and nothing else can take it in between.
    explicit BusyPort(const ReservedPort& reserved);
    ~BusyPort() { Release(); }
    BusyPort(const BusyPort&) = delete;
    BusyPort& operator=(const BusyPort&) = delete;

    // The port, -1 when none could be taken.
    int Port() const { return port_; }
    void Release();

private:
    int fd_ = -1;
    int port_ = -1;
};

// The process listening on a Unix stream socket (its credentials at listen), -1 when none.
pid_t ListeningProcess(const std::string& socketPath);

// The open connections that a listener on a Unix stream socket has accepted or holds in
// its backlog (the system's table of Unix sockets names them by the listener's path).
int AcceptedConnections(const std::string& socketPath);

}  // namespace testsupport
