#include "Signals.h"

#include <csignal>

namespace platform {

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
