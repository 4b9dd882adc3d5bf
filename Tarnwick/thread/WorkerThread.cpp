#include "thread/WorkerThread.h"

#include "Thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <iterator>
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
// It is handed work under a lock of its own: a woken thread that had to take the pool's
// lock would queue behind every other start and end.
struct PoolThread {
    std::mutex lock;  // taken inside the pool's lock, never around it
    std::condition_variable wake;
    CWorkerThread* work = nullptr;  // under `lock`
    bool exit = false;              // under `lock`
    size_t stackBytes = 0;          // the default stack size it was made with
};

// Notified under the thread's lock: once released, the thread may end and delete itself.
void Hand(PoolThread& thread, CWorkerThread* work, bool exit)
{
    std::lock_guard<std::mutex> lock(thread.lock);
    thread.work = work;
    thread.exit = exit;
    thread.wake.notify_one();
}

// The idle threads, all made with the current default stack size. Never destroyed: a
// parked thread waits on it until the process ends.
struct ThreadPool {
    std::mutex lock;
    std::condition_variable released;  // an object's work has let go of it
    std::vector<PoolThread*> idle;
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
    PoolThread* idle = nullptr;
    {
        std::lock_guard<std::mutex> lock(pool.lock);
        released_ = false;
        if (stackBytes != pool.stackBytes) {
            // The default has changed: the idle threads are of no more use.
            for (PoolThread* stale : pool.idle)
                Hand(*stale, nullptr, true);
            pool.idle.clear();
            pool.stackBytes = stackBytes;
        } else if (!pool.idle.empty()) {
            idle = pool.idle.back();
            pool.idle.pop_back();
            joinable_ = pooled_ = true;
        }
    }
    // Out of the idle list, the thread is this object's alone.
    if (idle) {
        Hand(*idle, this, false);
        return 0;
    }
    auto* const thread = new (std::nothrow) PoolThread;
    platform::ThreadHandle handle;
    if (thread) {
        thread->work = this;
        thread->stackBytes = stackBytes;
    }
    if (!thread || CreateThread(handle, &CWorkerThread::PoolEntry, thread, true) != 0) {
        delete thread;
        running_.Set(0);
        return -1;
    }
    joinable_ = pooled_ = true;
    return 0;
}

void* CWorkerThread::PoolEntry(void* param)
{
    PoolThread* const thread = static_cast<PoolThread*>(param);
    char* stackLow = nullptr;
    size_t stackBytes = 0;
    platform::GetCurrentThreadStack(stackLow, stackBytes);
    ThreadPool& pool = Pool();
    for (;;) {
        CWorkerThread* work = nullptr;
        bool woken = true;
        {
            std::unique_lock<std::mutex> own(thread->lock);
            const std::chrono::milliseconds lifetime(pool.idleLifetimeMs.load());
            woken = thread->wake.wait_for(own, lifetime, [&] { return thread->work != nullptr || thread->exit; });
            std::swap(work, thread->work);
        }
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
        if (!work)
            break;
        Entry(work);
        if (stackLow)
            ReleaseDeepPages(stackLow, stackBytes);
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
    delete thread;
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
