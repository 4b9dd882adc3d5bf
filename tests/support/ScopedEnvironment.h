#pragma once
// An environment variable changed for one scope, for tests of code that reads it.

#include <optional>
#include <string>

namespace testsupport {

// Sets `name` to `value` on construction (unsets it for a null `value`) and puts back the
// value it had, or its absence, on destruction. The environment is process-wide: not for
// use while another thread reads or writes it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value);
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// TZ for one scope, with the C library's zone read again on entry and on exit, so that
// local-time rules can be checked in a zone with daylight saving whatever the machine's is.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();

private:
    std::optional<ScopedEnvironment> tz_;
};

}  // namespace testsupport
