#pragma once
// A control client in a process of its own, for tests of what the server does when a
// client's channel breaks while the client runs on, or when the client ends: it connects,
// asks for its object and then does what the test orders. The child uses nothing but
// system calls, since it is forked from a process with threads; it ends itself after a
// while should its test forget it.

#include <string>
#include <sys/types.h>

namespace testsupport {

class ForkedControlClient {
public:
    // Forks the client; when that failed, every call below fails or does nothing.
    explicit ForkedControlClient(const std::string& socketPath);
    // Ends it (End).
    ~ForkedControlClient();
    ForkedControlClient(const ForkedControlClient&) = delete;
    ForkedControlClient& operator=(const ForkedControlClient&) = delete;

    // Waits a bounded time until the client has its object; false when it did not get one.
    bool WaitBound();
    // Closes its connection without a word, as a broken channel does, and runs on.
    bool HangUp();
    // Ends the process and collects it; harmless when it has ended.
    void End();

private:
    // Waits a bounded time for the child's answer to an order.
    bool Answered();

    pid_t pid_ = -1;
    int orders_ = -1;
    int replies_ = -1;
};

}  // namespace testsupport
