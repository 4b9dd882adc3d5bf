#pragma once
// Loopback ports and sockets for tests that run servers.

#include <string>
#include <sys/types.h>

namespace testsupport {

// A loopback port that was free a moment ago (bound to 127.0.0.1:0 and released).
int PickFreePort();

// The process listening on a Unix stream socket (its credentials at listen), -1 when none.
pid_t ListeningProcess(const std::string& socketPath);

}  // namespace testsupport
