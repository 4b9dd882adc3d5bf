#pragma once
// The command-line client /usr/bin/curl as a child process, so that end-to-end tests talk
// to the server with a real HTTP/TLS stack. Every run is bounded: at its limit curl is
// killed and the result says so.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace servertest {

// What one run of curl left behind.
struct CurlResult {
    int exitCode = -1;      // curl's exit status; -1 when it did not exit by itself
    bool timedOut = false;  // killed at the limit
    std::string out;        // all it wrote to stdout
    std::string err;        // all it wrote to stderr
};

// One curl process, started by the constructor. Its arguments follow "-q" (no .curlrc),
// "--noproxy *" and "-sS" (no progress meter, errors still on stderr), so the caller's
// settings alone decide what is sent. stdin is /dev/null; stdout and stderr go to unnamed
// temporary files, so a chatty run never blocks on a full pipe.
class CurlRunner {
public:
    // Throws std::runtime_error when the process cannot be started.
    explicit CurlRunner(const std::vector<std::string>& args);
    // Kills and reaps a run that is still going.
    ~CurlRunner();
    CurlRunner(const CurlRunner&) = delete;
    CurlRunner& operator=(const CurlRunner&) = delete;

    // True once the process has ended (reaped); never blocks.
    bool HasEnded();
    // Waits at most `limit` for the end, killing curl at the limit; then gives what it
    // wrote. Later calls give the same result at once.
    CurlResult Wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
    bool killed_ = false;
    int outFd_ = -1;
    int errFd_ = -1;
};

// Runs curl to its end, at most `limit`.
CurlResult RunCurl(const std::vector<std::string>& args,
                   std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace servertest
