#pragma once
// Where the program lives. The server keeps its settings, logs and pages beside itself
// ("%ServerRoot%"); the environment variable TARNWICK_ROOT names another folder, so that a
// packaged binary can keep its data elsewhere and tests can give each run a fresh root.

#include <string>

namespace platform {

// With directoryOnly 0: the program file's full path. With 1: the server root with a
// trailing '/' (TARNWICK_ROOT when set and not empty, else the program's folder).
std::string GetModulePath(int directoryOnly);

}  // namespace platform
