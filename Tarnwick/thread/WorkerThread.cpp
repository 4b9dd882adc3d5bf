#include "thread/WorkerThread.h"

#include "Semaphore.h"
#include "Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// Inaccessible space below each stack, larger than any one frame of the server (64 KiB
// read buffers), so that an overflow faults instead of writing past it. A stack that went
// deep touched a page within this much below the part that stays resident.
constexpr size_t kGuardBytes = size_t{256} << 10;
// The top of a pooled thread's stack stays resident from one work to the next: what a
// request's calls use, so the next one does not fault it in again. Deeper pages go back
// to the system.
constexpr size_t kResidentBytes = size_t{128} << 10;
// Room for the calls that release the deeper pages, below the frame that makes them.
constexpr size_t kReleaseCallRoom = size_t{64} << 10;
// A pooled thread looks for deep pages to release at most this often while it works, and
// once it has waited this long for work: the look is a system call, which a connection
// that never goes deep should not pay each time, and a deep walk's pages stay resident
// no longer than this.
constexpr std::chrono::milliseconds kDeepPageCheckInterval{1000};
// Idle pooled threads kept: more than the connections a server usually serves at once
// (Basic::MaxConnect, 50 by default); one that finishes beyond them ends. The pool never
// holds more threads than were busy at once, which the connection limit bounds.
constexpr size_t kMaxIdleThreads = 256;
// A pooled thread that waited this long for work was made for a burst that has passed: it
// ends, and its stack and its share of the heap go back to the system, so that the
// process does not keep the size of its busiest moment for ever.
constexpr std::chrono::milliseconds kIdleThreadLifetime{10000};

// Threads take the process's default stack size (from the stack limit, 8 MiB as a rule):
// walks through folders (DELETE, COPY, MOVE, PROPFIND) recurse once per folder level, as
// deep as the path length limit allows, so threads keep the depth they have always had.
int CreateThread(platform::ThreadHandle& handle, platform::ThreadEntry entry, void* param, bool detached)
{
    return platform::StartThread(handle, entry, param, kGuardBytes, detached);
}

// Called by a pooled thread at the end of each work, so that a deep walk's stack pages do
// not stay resident in every thread of the pool; `low` is its stack's lowest usable byte.
void ReleaseDeepPages(char* low, size_t stackBytes)
{
    if (stackBytes <= kResidentBytes)
        return;
    const uintptr_t pageMask = ~(static_cast<uintptr_t>(platform::GetPageSize()) - 1);
    uintptr_t high = reinterpret_cast<uintptr_t>(low) + stackBytes - kResidentBytes;
    // Never the frames in use, however much of the top the thread's own data takes.
    const uintptr_t frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    high = std::min(high, (frame - kReleaseCallRoom) & pageMask);
    if (high <= reinterpret_cast<uintptr_t>(low))
        return;
    platform::ReleaseStackPages(low, high - reinterpret_cast<uintptr_t>(low), kGuardBytes);
}

// A thread of the pool: it runs one object's work at a time and waits, parked, for the next.
// It is handed work through a semaphore of its own: a woken thread that had to take a lock
// would queue behind every other start and end. Shared by the thread and whoever hands it
// work, so that it outlives a post that comes after the thread has seen its work and ended.
struct PoolThread {
    platform::CSemaphore wake;
    // Written by the one that hands work (the thread is then out of the idle list, so no
    // one else), read by the thread once the post has woken it.
    CWorkerThread* work = nullptr;
    bool exit = false;
    size_t stackBytes = 0;  // the default stack size it was made with
};

void Hand(const std::shared_ptr<PoolThread>& thread, CWorkerThread* work, bool exit)
{
    thread->work = work;
    thread->exit = exit;
    thread->wake.Post();
}

// The idle threads, all made with the current default stack size. Never destroyed: a
// parked thread waits on it until the process ends.
struct ThreadPool {
    std::mutex lock;
    std::condition_variable released;  // an object's work has let go of it
    std::vector<std::shared_ptr<PoolThread>> idle;
    size_t stackBytes = 0;
    std::atomic<std::chrono::milliseconds::rep> idleLifetimeMs{kIdleThreadLifetime.count()};
};

ThreadPool& Pool()
{
    static ThreadPool* const pool = new ThreadPool;
    return *pool;
}

}  // namespace

CWorkerThread::~CWorkerThread() { StopAndWait(); }

int CWorkerThread::Start()
{
    if (joinable_)
        return -1;  // one thread per object
    running_.Set(1);
    if (CreateThread(thread_, &CWorkerThread::Entry, this, false) != 0) {
        running_.Set(0);
        return -1;
    }
    joinable_ = true;
    return 0;
}

int CWorkerThread::StartPooled()
{
    if (joinable_)
        return -1;
    const size_t stackBytes = platform::DefaultThreadStackBytes();
    if (stackBytes == 0)
        return -1;
    running_.Set(1);
    ThreadPool& pool = Pool();
    std::shared_ptr<PoolThread> idle;
    std::vector<std::shared_ptr<PoolThread>> stale;
    {
        std::lock_guard<std::mutex> lock(pool.lock);
        released_ = false;
        if (stackBytes != pool.stackBytes) {
            // The default has changed: the idle threads are of no more use.
            stale.swap(pool.idle);
            pool.stackBytes = stackBytes;
        } else if (!pool.idle.empty()) {
            idle = std::move(pool.idle.back());
            pool.idle.pop_back();
            joinable_ = pooled_ = true;
        }
    }
    for (const std::shared_ptr<PoolThread>& thread : stale)
        Hand(thread, nullptr, true);
    // Out of the idle list, the thread is this object's alone.
    if (idle) {
        Hand(idle, this, false);
        return 0;
    }
    std::shared_ptr<PoolThread> thread;
    try {
        thread = std::make_shared<PoolThread>();
    } catch (const std::bad_alloc&) {
        running_.Set(0);
        return -1;
    }
    thread->stackBytes = stackBytes;
    Hand(thread, this, false);  // waiting for it when it starts
    // The new thread's own reference, which it lets go as it ends.
    auto* const own = new (std::nothrow) std::shared_ptr<PoolThread>(thread);
    platform::ThreadHandle handle;
    if (!own || CreateThread(handle, &CWorkerThread::PoolEntry, own, true) != 0) {
        delete own;
        running_.Set(0);
        return -1;
    }
    joinable_ = pooled_ = true;
    return 0;
}

void* CWorkerThread::PoolEntry(void* param)
{
    const std::unique_ptr<std::shared_ptr<PoolThread>> own(static_cast<std::shared_ptr<PoolThread>*>(param));
    const std::shared_ptr<PoolThread> thread = *own;
    char* stackLow = nullptr;
    size_t stackBytes = 0;
    platform::GetCurrentThreadStack(stackLow, stackBytes);
    // Whether a work has run since the last look for deep pages, and when the next look is due.
    bool unchecked = false;
    auto nextCheck = std::chrono::steady_clock::now();
    auto releaseDeepPages = [&] {
        if (stackLow)
            ReleaseDeepPages(stackLow, stackBytes);
        unchecked = false;
        nextCheck = std::chrono::steady_clock::now() + kDeepPageCheckInterval;
    };
    ThreadPool& pool = Pool();
    for (;;) {
        // A thread that waits for work after some ran looks for deep pages first.
        bool woken = unchecked && thread->wake.WaitUntil(nextCheck);
        if (unchecked && !woken)
            releaseDeepPages();
        if (!woken)
            woken = thread->wake.WaitFor(std::chrono::milliseconds(pool.idleLifetimeMs.load()));
        if (!woken) {
            // Idle past its lifetime. A start that has just taken it from the idle list
            // hands it work at once; otherwise nobody can reach it any more.
            std::lock_guard<std::mutex> lock(pool.lock);
            const auto listed = std::find(pool.idle.begin(), pool.idle.end(), thread);
            if (listed == pool.idle.end())
                continue;
            pool.idle.erase(listed);
            break;
        }
        CWorkerThread* const work = thread->work;
        if (!work)
            break;
        Entry(work);
        unchecked = true;
        if (std::chrono::steady_clock::now() >= nextCheck)
            releaseDeepPages();
        bool parked = false;
        {
            std::lock_guard<std::mutex> lock(pool.lock);
            // The last touch of the object: its owner may destroy it from here on.
            work->released_ = true;
            parked = thread->stackBytes == pool.stackBytes && pool.idle.size() < kMaxIdleThreads;
            if (parked)
                pool.idle.push_back(thread);
        }
        pool.released.notify_all();
        if (!parked)
            break;
    }
    return nullptr;
}

size_t CWorkerThread::CountIdlePooledThreads()
{
    std::lock_guard<std::mutex> lock(Pool().lock);
    return Pool().idle.size();
}

std::chrono::milliseconds CWorkerThread::SetIdleThreadLifetime(std::chrono::milliseconds lifetime)
{
    return std::chrono::milliseconds(Pool().idleLifetimeMs.exchange(lifetime.count()));
}

void CWorkerThread::Stop() { stopRequested_.Set(1); }

void CWorkerThread::StopAndWait()
{
    Stop();
    // A thread cannot wait for its own end: it only asks, and its owner joins it later.
    if (threadId_.load() == std::this_thread::get_id())
        return;
    if (!joinable_)
        return;
    if (pooled_) {
        ThreadPool& pool = Pool();
        std::unique_lock<std::mutex> lock(pool.lock);
        pool.released.wait(lock, [&] { return released_; });
    } else {
        platform::JoinThread(thread_);
    }
    joinable_ = false;
}

bool CWorkerThread::TryJoin()
{
    if (!joinable_)
        return true;
    if (pooled_) {
        std::lock_guard<std::mutex> lock(Pool().lock);
        if (!released_)
            return false;
    } else if (!platform::TryJoinThread(thread_)) {
        return false;
    }
    joinable_ = false;
    return true;
}

std::vector<std::unique_ptr<CWorkerThread>> CWorkerThread::RemoveJoined(std::vector<std::unique_ptr<CWorkerThread>>& workers)
{
    std::vector<CWorkerThread*> ended;
    for (const auto& worker : workers) {
        if (!worker->IsRunning())
            ended.push_back(worker.get());
    }
    if (ended.empty())
        return {};
    {
        std::lock_guard<std::mutex> lock(Pool().lock);
        for (CWorkerThread*& worker : ended) {
            if (worker->joinable_ && worker->pooled_) {
                if (!worker->released_) {
                    worker = nullptr;
                    continue;
                }
                worker->joinable_ = false;
            }
        }
    }
    for (CWorkerThread*& worker : ended) {
        if (worker && !worker->TryJoin())  // an own thread, or one not pooled
            worker = nullptr;
    }
    std::sort(ended.begin(), ended.end());
    const auto joined = std::stable_partition(workers.begin(), workers.end(), [&](const std::unique_ptr<CWorkerThread>& worker) {
        return !std::binary_search(ended.begin(), ended.end(), worker.get());
    });
    std::vector<std::unique_ptr<CWorkerThread>> removed(std::make_move_iterator(joined),
                                                        std::make_move_iterator(workers.end()));
    workers.erase(joined, workers.end());
    return removed;
}

namespace {

std::atomic<CWorkerThread::FailureReport> failureReport{nullptr};

void ReportFailure(const char* text)
{
    if (CWorkerThread::FailureReport report = failureReport.load())
        report(text);
}

}  // namespace

void CWorkerThread::SetFailureReport(FailureReport report)
{
    failureReport.store(report);
}

void* CWorkerThread::Entry(void* param)
{
    CWorkerThread* const self = static_cast<CWorkerThread*>(param);
    self->threadId_ = std::this_thread::get_id();
    try {
        self->Run();
    } catch (const std::bad_alloc&) {
        ReportFailure("メモリ不足により、処理スレッドが停止しました。");
    } catch (const std::exception&) {
        ReportFailure("サーバ内部の未処理MFC例外により、処理スレッドが停止しました。");
    } catch (...) {
        ReportFailure("サーバ内部の未処理例外により、処理スレッドが停止しました。");
    }
    self->running_.Set(0);
    return nullptr;
}
