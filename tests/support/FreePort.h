#pragma once
// Loopback ports and sockets for tests that run servers.

#include <string>
#include <sys/types.h>

namespace testsupport {

// A loopback port that was free a moment ago (bound to 127.0.0.1:0 and released).
int PickFreePort();

// A blocking TCP connection to 127.0.0.1:port, -1 on failure. Receives and sends time out
// after `timeoutMs`, so a test never hangs on a server that does not answer.
int ConnectLoopback(int port, int timeoutMs = 5000);

// Sends `request` on a fresh connection and reads the answer up to the server's end of the
// stream (each read bounded as by ConnectLoopback); "" when nothing could be exchanged.
std::string HttpExchange(int port, const std::string& request);

// A loopback port that stays taken while it matters: this object listens on it.
class BusyPort {
public:
    BusyPort();
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

}  // namespace testsupport
