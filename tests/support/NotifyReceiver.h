#pragma once
// The service manager's end of a notification socket (NOTIFY_SOCKET), for tests of code
// that reports its state to it.

#include <optional>
#include <string>

namespace testsupport {

// A datagram socket bound for the object's lifetime. Not copyable.
class NotifyReceiver {
public:
    // A notification that has not come by then is not coming.
    static constexpr int kWaitMs = 5000;

    // Bound to a fresh abstract name of this process. Throws std::runtime_error, naming
    // the address and the reason, when no socket can be bound; so does the other.
    NotifyReceiver();
    // Bound to `address` in NOTIFY_SOCKET's form: a '/' path or an '@' abstract name.
    explicit NotifyReceiver(const std::string& address);
    ~NotifyReceiver();
    NotifyReceiver(const NotifyReceiver&) = delete;
    NotifyReceiver& operator=(const NotifyReceiver&) = delete;

    // The address in NOTIFY_SOCKET's form; lives as long as this object.
    const std::string& Address() const { return address_; }

    // The next datagram, or nullopt when none came within `waitMs`.
    std::optional<std::string> Receive(int waitMs = kWaitMs);

private:
    std::string address_;
    int fd_ = -1;
};

}  // namespace testsupport
