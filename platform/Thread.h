#pragma once
// Threads with a chosen stack guard, in place of CreateThread, and the stack queries a
// thread that is kept for reuse needs to give deep stack pages back between its works.

#include <cstddef>

namespace platform {

// A thread that can be joined, from a successful StartThread until JoinThread or a true
// TryJoinThread; any value once it was detached.
using ThreadHandle = unsigned long;
using ThreadEntry = void* (*)(void* param);

// The stack size a new thread gets (from the stack limit, 8 MiB as a rule); 0 when it
// cannot be read.
size_t DefaultThreadStackBytes();

// Runs entry(param) on a new thread with a stack of the default size and `guardBytes` of
// inaccessible space below it, at the process's priority whatever its creator's. A detached thread cannot be joined; it lets go of its
// resources as it ends. 0 with `handle` set, or the error number of the failure.
int StartThread(ThreadHandle& handle, ThreadEntry entry, void* param, size_t guardBytes, bool detached);
// Waits for the thread's end.
void JoinThread(ThreadHandle handle);
// Joins the thread when it has ended, without waiting: true when it was joined now.
bool TryJoinThread(ThreadHandle handle);

// The calling thread's stack: its lowest usable byte and its size. False when the system
// does not say; then `low` and `bytes` are left as they were.
bool GetCurrentThreadStack(char*& low, size_t& bytes);
size_t GetPageSize();
// Gives the pages of [low, low + length) back to the system when any page of its top
// `probe` bytes is resident; they read as zeros when touched again. A stack grows down
// without skipping more than one frame, so a `probe` above the largest frame finds any
// use of the range. `low`, `length` and `probe` are multiples of the page size, and the
// range must hold nothing in use.
void ReleaseStackPages(char* low, size_t length, size_t probe);

}  // namespace platform
