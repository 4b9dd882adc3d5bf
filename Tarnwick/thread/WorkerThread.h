#pragma once
// The base of every thread the server starts for itself: it owns the thread, its stop and
// running flags, and runs the work through one entry that catches whatever escapes, so
// that an exception ends only its own work and is reported (SetFailureReport). Connections
// run on threads that the process keeps for reuse, so that a thread per connection makes
// no thread once as many as connections at once have been made.

#include "CriticalSection.h"
#include "Thread.h"
#include "thread/LockedValue.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

class CWorkerThread {
public:
    CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;
    // Waits for the thread. A derived class must call StopAndWait in its own destructor,
    // because its Stop and its members are gone by the time this one runs.
    virtual ~CWorkerThread();

    // Where the text of an exception that ended a thread's work goes. This layer knows no
    // log file, so the program points it at its debug log at start; until then the text
    // is lost.
    using FailureReport = void (*)(const char* text);
    static void SetFailureReport(FailureReport report);

    // Starts Run on a new thread: 0, or -1 when no thread could be made (running stays 0).
    int Start();
    // The same on a thread of the process's pool: an idle one when one waits, else a new
    // one that joins the pool once Run has returned. For objects made at a high rate (a
    // thread per connection), which then neither make nor end a thread each. Run must
    // leave the thread as it found it (priority, signal mask). Joining (StopAndWait,
    // TryJoin) waits for Run's end rather than the thread's.
    int StartPooled();
    // How many of the pool's threads wait for work now.
    static size_t CountIdlePooledThreads();
    // For tests: how long a pooled thread may wait for work before it ends; applies from
    // the threads' next wait. Gives the previous lifetime back.
    static std::chrono::milliseconds SetIdleThreadLifetime(std::chrono::milliseconds lifetime);
    // Asks Run to return; does not wait.
    virtual void Stop();
    int IsStopRequested() const { return stopRequested_.Get(); }
    int IsRunning() const { return running_.Get(); }
    // Stop, then wait until the thread has ended. Called on the thread itself it only
    // asks, since a thread cannot wait for its own end; the object must then not be
    // destroyed on that thread.
    void StopAndWait();
    // Joins the thread if it has ended, without waiting: true when there is no thread
    // left to wait for (never started, already joined, or joined now). Owner only. The
    // running flag drops just before the thread ends, so an owner reaping workers whose
    // flag dropped asks this rather than stalling in StopAndWait.
    bool TryJoin();
    // TryJoin for each of `workers` whose running flag has dropped, under one hold of the
    // pool's lock; moves those joined out of `workers` (the others keep their order) and
    // returns them, for the caller to destroy outside a lock of its own. Owner of every
    // one of them only.
    static std::vector<std::unique_ptr<CWorkerThread>> RemoveJoined(std::vector<std::unique_ptr<CWorkerThread>>& workers);

protected:
    // The thread's work; loops until IsStopRequested.
    virtual void Run() = 0;

    // Guards the derived class's own data.
    platform::CCriticalSection dataLock_;

private:
    static void* Entry(void* self);
    static void* PoolEntry(void* thread);

    CLockedValue stopRequested_;
    CLockedValue running_;
    // From a successful Start until the thread is joined; used by the owner only.
    platform::ThreadHandle thread_{};
    bool joinable_ = false;
    // Started by StartPooled; released_ (under the pool's lock) once its pooled thread has
    // let go of this object.
    bool pooled_ = false;
    bool released_ = false;
    // Set by the thread itself, so that it never depends on when Start stores thread_.
    std::atomic<std::thread::id> threadId_{};
};
