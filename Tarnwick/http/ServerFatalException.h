#pragma once
// A request cannot go on. Thrown by value. The message is the page text the client sees;
// the detail, when a system call failed, names the file and the system's reason for the
// administrator and goes only to the request's Info text and the system log.

#include <cstring>
#include <string>
#include <utility>

struct CServerFatalException {
    explicit CServerFatalException(std::string text, std::string why = {})
        : message(std::move(text)), detail(std::move(why))
    {
    }

    std::string message;
    std::string detail;   // "path: reason", or empty when no system call is to blame
    int systemError = 0;  // the errno of that call; 0 when there is none

    // The failure of a system call on `path`; `err` is its errno, taken before anything
    // else could change it.
    static CServerFatalException SystemError(std::string message, const std::string& path, int err)
    {
        CServerFatalException failure(std::move(message), path + ": " + std::strerror(err));
        failure.systemError = err;
        return failure;
    }

    // The text for the Info leaf and the system log: the message, then the detail if any.
    std::string Describe() const { return detail.empty() ? message : message + " (" + detail + ")"; }
};
