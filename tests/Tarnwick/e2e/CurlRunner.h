#pragma once
// The command-line client /usr/bin/curl as a child process, so that end-to-end tests talk
// to the server with a real HTTP/TLS stack. Every run is bounded: at its limit curl is
// killed and the result says so.

#include "ChildProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace servertest {

// What one run of curl left behind (signal: the one that ended it, if any).
using CurlResult = testsupport::ChildResult;

// One curl process, started by the constructor. Its arguments follow "-q" (no .curlrc),
// "--noproxy *" and "-sS" (no progress meter, errors still on stderr), so the caller's
// settings alone decide what is sent. The rest is that of testsupport::ChildProcess:
// stdin on /dev/null or the file `input`, output into unnamed files, killed and reaped
// when it goes.
class CurlRunner : public testsupport::ChildProcess {
public:
    // Throws std::runtime_error when the process cannot be started.
    explicit CurlRunner(const std::vector<std::string>& args, const std::string& input = "");
};

// Runs curl to its end, at most `limit`, its stdin read from the file `input` when one is
// named.
CurlResult RunCurl(const std::vector<std::string>& args, std::chrono::milliseconds limit = std::chrono::seconds(20),
                   const std::string& input = "");

}  // namespace servertest
