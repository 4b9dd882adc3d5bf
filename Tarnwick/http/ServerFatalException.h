#pragma once
// A request cannot go on. Thrown by value; the message becomes the request's Info text.

#include <string>

struct CServerFatalException {
    std::string message;
};
