#pragma once
// The process's signal set-up.

namespace platform {

// Once, before any thread: a write to a peer that has gone fails with EPIPE instead of
// ending the process.
void IgnoreBrokenPipe();

}  // namespace platform
