#include "thread/WorkerThread.h"

#include "../ServerTestSupport.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using servertest::WaitUntil;
using namespace std::chrono_literals;

// A worker whose work the test supplies.
class FunctionWorker : public CWorkerThread {
public:
    explicit FunctionWorker(std::function<void(FunctionWorker&)> work) : work_(std::move(work)) {}
    ~FunctionWorker() override { StopAndWait(); }
    void CallStopAndWait() { StopAndWait(); }

protected:
    void Run() override { work_(*this); }

private:
    std::function<void(FunctionWorker&)> work_;
};

// A worker whose Run loops until asked to stop, as every server thread does.
class LoopingWorker : public CWorkerThread {
public:
    ~LoopingWorker() override { StopAndWait(); }
    std::atomic<int> passes{0};

protected:
    void Run() override
    {
        while (!IsStopRequested()) {
            ++passes;
            std::this_thread::sleep_for(1ms);
        }
    }
};

std::string DebugLogPath() { return servertest::ServerRoot() + "Debuglog.txt"; }

// One frame of a walk as deep as `levels` frames of a page each, as a walk through nested
// folders goes; gives the address of a byte in the deepest frame.
__attribute__((noinline)) uintptr_t TouchDeepFrames(int levels)
{
    volatile char page[4096];
    for (size_t i = 0; i < sizeof page; i += 64)
        page[i] = static_cast<char>(levels);
    const uintptr_t deepest =
        levels > 1 ? TouchDeepFrames(levels - 1) : reinterpret_cast<uintptr_t>(const_cast<char*>(&page[0]));
    page[0] = page[64];  // no tail call: this frame stays while the deeper ones run
    return deepest;
}

bool IsResident(uintptr_t address)
{
    const uintptr_t pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    unsigned char resident = 0;
    return ::mincore(reinterpret_cast<void*>(address & ~(pageSize - 1)), pageSize, &resident) == 0 &&
           (resident & 1) != 0;
}

std::string ReadDebugLog()
{
    std::ifstream file(DebugLogPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Every case runs on a thread of the worker's own and on one of the process's pool.
class WorkerThreadTest : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { std::remove(DebugLogPath().c_str()); }
    void TearDown() override { std::remove(DebugLogPath().c_str()); }
    static int StartWorker(CWorkerThread& worker) { return GetParam() ? worker.StartPooled() : worker.Start(); }
};

TEST_P(WorkerThreadTest, IsCreatedStoppedAndNotRunning)
{
    FunctionWorker worker([](FunctionWorker&) {});
    EXPECT_EQ(0, worker.IsRunning());
    EXPECT_EQ(0, worker.IsStopRequested());
}

TEST_P(WorkerThreadTest, RunningIsOneFromStartUntilRunReturns)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    FunctionWorker worker([released](FunctionWorker&) { released.wait_for(5s); });
    ASSERT_EQ(0, StartWorker(worker));
    EXPECT_EQ(1, worker.IsRunning());  // set before Start returns, not by the new thread
    release.set_value();
    EXPECT_TRUE(WaitUntil([&] { return worker.IsRunning() == 0; }));
}

TEST_P(WorkerThreadTest, StopAndWaitEndsALoopingRun)
{
    LoopingWorker worker;
    ASSERT_EQ(0, StartWorker(worker));
    ASSERT_TRUE(WaitUntil([&] { return worker.passes.load() > 0; }));
    worker.StopAndWait();
    EXPECT_EQ(1, worker.IsStopRequested());
    EXPECT_EQ(0, worker.IsRunning());
}

TEST_P(WorkerThreadTest, DestroyingARunningWorkerStopsAndWaitsForItsThread)
{
    auto worker = std::make_unique<LoopingWorker>();
    ASSERT_EQ(0, StartWorker(*worker));
    ASSERT_TRUE(WaitUntil([&] { return worker->passes.load() > 0; }));
    auto destroyed = std::async(std::launch::async, [&] { worker.reset(); });
    EXPECT_EQ(std::future_status::ready, destroyed.wait_for(5s));
}

TEST_P(WorkerThreadTest, DestroyingANeverStartedWorkerReturnsAtOnce)
{
    auto destroyed = std::async(std::launch::async, [] { FunctionWorker worker([](FunctionWorker&) {}); });
    EXPECT_EQ(std::future_status::ready, destroyed.wait_for(5s));
}

TEST_P(WorkerThreadTest, SecondStartOfOneObjectFails)
{
    FunctionWorker worker([](FunctionWorker& self) {
        while (!self.IsStopRequested())
            std::this_thread::sleep_for(1ms);
    });
    ASSERT_EQ(0, StartWorker(worker));
    EXPECT_EQ(-1, StartWorker(worker));
    worker.StopAndWait();
    EXPECT_EQ(0, worker.IsRunning());
}

TEST_P(WorkerThreadTest, StopAndWaitOnItsOwnThreadOnlyAsks)
{
    std::atomic<bool> returned{false};
    FunctionWorker worker([&](FunctionWorker& self) {
        self.CallStopAndWait();
        returned = true;
    });
    ASSERT_EQ(0, StartWorker(worker));
    EXPECT_TRUE(WaitUntil([&] { return worker.IsRunning() == 0; }));
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(1, worker.IsStopRequested());
}

// A thread that asked for its own stop is no longer joinable; its owner must still not
// free the object under it.
TEST_P(WorkerThreadTest, DestroyingWaitsForAThreadThatStoppedItself)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> finished{false};
    auto worker = std::make_unique<FunctionWorker>([&, released](FunctionWorker& self) {
        self.CallStopAndWait();
        released.wait_for(5s);
        finished = true;
    });
    ASSERT_EQ(0, StartWorker(*worker));
    ASSERT_TRUE(WaitUntil([&] { return worker->IsStopRequested() == 1; }));
    auto destroyed = std::async(std::launch::async, [&] { worker.reset(); });
    EXPECT_EQ(std::future_status::timeout, destroyed.wait_for(50ms));
    release.set_value();
    ASSERT_EQ(std::future_status::ready, destroyed.wait_for(5s));
    EXPECT_TRUE(finished.load());
}

struct EscapeCase {
    const char* what;
    std::function<void()> thrower;
    std::string line;
};

TEST_P(WorkerThreadTest, AnExceptionEndsOnlyItsThreadWithOneDebugLogLine)
{
    const EscapeCase cases[] = {
        {"out of memory", [] { throw std::bad_alloc(); }, "メモリ不足により、処理スレッドが停止しました。"},
        {"a library exception", [] { throw std::runtime_error("x"); },
         "サーバ内部の未処理MFC例外により、処理スレッドが停止しました。"},
        {"anything else", [] { throw 42; }, "サーバ内部の未処理例外により、処理スレッドが停止しました。"},
    };
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(DebugLogPath().c_str());
        FunctionWorker worker([&c](FunctionWorker&) { c.thrower(); });
        ASSERT_EQ(0, StartWorker(worker));
        ASSERT_TRUE(WaitUntil([&] { return worker.IsRunning() == 0; }));
        // The narrow literal holds the CP932 bytes the file must hold.
        EXPECT_EQ(c.line + "\n", ReadDebugLog());
    }
}

TEST_P(WorkerThreadTest, RunThatReturnsWritesNothing)
{
    FunctionWorker worker([](FunctionWorker&) {});
    ASSERT_EQ(0, StartWorker(worker));
    ASSERT_TRUE(WaitUntil([&] { return worker.IsRunning() == 0; }));
    EXPECT_EQ("", ReadDebugLog());
}

// Folder walks recurse once per folder level: threads keep the process's default stack.
TEST_P(WorkerThreadTest, RunHasThreeQuartersOfTheDefaultStack)
{
    pthread_attr_t defaults;
    size_t stackBytes = 0;
    ASSERT_EQ(0, ::pthread_getattr_default_np(&defaults));
    ::pthread_attr_getstacksize(&defaults, &stackBytes);
    ::pthread_attr_destroy(&defaults);
    constexpr size_t kFrameBytes = size_t{256} << 10;
    const int depth = static_cast<int>(stackBytes / 4 * 3 / kFrameBytes);
    ASSERT_GT(depth, 1);
    std::atomic<int> reached{0};
    std::function<void(int)> descend = [&](int level) {
        volatile char frame[kFrameBytes];
        for (size_t i = 0; i < kFrameBytes; i += 4096)
            frame[i] = static_cast<char>(level);
        if (level < depth)
            descend(level + 1);
        if (frame[0] == static_cast<char>(level) && level > reached.load())
            reached = level;
    };
    FunctionWorker worker([&](FunctionWorker&) { descend(1); });
    ASSERT_EQ(0, StartWorker(worker));
    ASSERT_TRUE(WaitUntil([&] { return worker.IsRunning() == 0; }));
    EXPECT_EQ(depth, reached.load());
}

// Pooled threads are kept for reuse; no two live workers may share one stack, neither on
// fresh threads nor on those the round before gave back.
TEST_P(WorkerThreadTest, WorkersAliveAtOnceRunOnSeparateStacksRoundAfterRound)
{
    constexpr int kWorkers = 16;
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        std::atomic<bool> release{false};
        std::vector<std::atomic<uintptr_t>> frames(kWorkers);
        std::vector<std::unique_ptr<FunctionWorker>> workers;
        for (int i = 0; i < kWorkers; ++i) {
            workers.push_back(std::make_unique<FunctionWorker>([&, i](FunctionWorker&) {
                frames[static_cast<size_t>(i)] = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
                WaitUntil([&] { return release.load(); });
            }));
            ASSERT_EQ(0, StartWorker(*workers.back()));
        }
        ASSERT_TRUE(WaitUntil([&] {
            return std::all_of(frames.begin(), frames.end(), [](const std::atomic<uintptr_t>& f) { return f.load() != 0; });
        }));
        std::set<uintptr_t> distinct;
        for (const std::atomic<uintptr_t>& frame : frames)
            distinct.insert(frame.load());
        EXPECT_EQ(static_cast<size_t>(kWorkers), distinct.size());
        release = true;
        workers.clear();
    }
}

TEST_P(WorkerThreadTest, AJoinedWorkerCanBeStartedAgain)
{
    std::atomic<int> runs{0};
    FunctionWorker worker([&](FunctionWorker&) { ++runs; });
    ASSERT_EQ(0, StartWorker(worker));
    worker.StopAndWait();
    ASSERT_EQ(0, StartWorker(worker));
    worker.StopAndWait();
    EXPECT_EQ(2, runs.load());
    EXPECT_EQ(0, worker.IsRunning());
}

TEST_P(WorkerThreadTest, TryJoinTellsWhetherRunHasLetGo)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    FunctionWorker worker([released](FunctionWorker&) { released.wait_for(5s); });
    EXPECT_TRUE(worker.TryJoin()) << "nothing started, nothing to wait for";
    ASSERT_EQ(0, StartWorker(worker));
    EXPECT_FALSE(worker.TryJoin());
    release.set_value();
    EXPECT_TRUE(WaitUntil([&] { return worker.TryJoin(); }));
    EXPECT_EQ(0, worker.IsRunning());
    EXPECT_TRUE(worker.TryJoin());
}

TEST_P(WorkerThreadTest, RemoveJoinedTakesOutOnlyTheEndedWorkers)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<std::unique_ptr<CWorkerThread>> workers;
    for (int i = 0; i < 4; ++i) {
        const bool ends = i % 2 == 0;
        workers.push_back(std::make_unique<FunctionWorker>([ends, released](FunctionWorker&) {
            if (!ends)
                released.wait_for(5s);
        }));
        ASSERT_EQ(0, StartWorker(*workers.back()));
    }
    CWorkerThread* const waiting[] = {workers[1].get(), workers[3].get()};
    EXPECT_TRUE(WaitUntil([&] {
        CWorkerThread::RemoveJoined(workers);
        return workers.size() == 2;
    }));
    ASSERT_EQ(2u, workers.size());
    EXPECT_EQ(waiting[0], workers[0].get());
    EXPECT_EQ(waiting[1], workers[1].get());
    release.set_value();
    EXPECT_TRUE(WaitUntil([&] {
        CWorkerThread::RemoveJoined(workers);
        return workers.empty();
    }));
}

INSTANTIATE_TEST_SUITE_P(OwnAndPooledThreads, WorkerThreadTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Pooled" : "Own"; });

TEST(PooledWorkerThreadTest, AnIdleThreadServesTheNextWorker)
{
    pthread_t first{}, second{};
    FunctionWorker a([&](FunctionWorker&) { first = ::pthread_self(); });
    ASSERT_EQ(0, a.StartPooled());
    a.StopAndWait();
    FunctionWorker b([&](FunctionWorker&) { second = ::pthread_self(); });
    ASSERT_EQ(0, b.StartPooled());
    b.StopAndWait();
    EXPECT_TRUE(::pthread_equal(first, second)) << "the thread the first worker left was reused";
}

// A pooled thread whose work went deep (a walk through nested folders) gives the deep
// stack pages back to the system, so that every thread of the pool does not keep them.
TEST(PooledWorkerThreadTest, ADeepWalksStackPagesGoBack)
{
    // Far below the top of the stack that stays resident from one work to the next.
    constexpr int kLevels = 512;
    uintptr_t deepest = 0;
    FunctionWorker worker([&](FunctionWorker&) { deepest = TouchDeepFrames(kLevels); });
    ASSERT_EQ(0, worker.StartPooled());
    worker.StopAndWait();
    ASSERT_NE(deepest, 0u);
    EXPECT_TRUE(WaitUntil([&] { return !IsResident(deepest); }));
}

// A thread that waits for work past its lifetime leaves the pool and ends; the next worker
// gets a new one.
TEST(PooledWorkerThreadTest, AnIdleThreadEndsAfterItsLifetime)
{
    const auto before = CWorkerThread::SetIdleThreadLifetime(50ms);
    FunctionWorker worker([](FunctionWorker&) {});
    ASSERT_EQ(0, worker.StartPooled());
    worker.StopAndWait();
    EXPECT_TRUE(WaitUntil([] { return CWorkerThread::CountIdlePooledThreads() == 0; }));
    CWorkerThread::SetIdleThreadLifetime(before);
    bool ran = false;
    FunctionWorker next([&](FunctionWorker&) { ran = true; });
    ASSERT_EQ(0, next.StartPooled());
    next.StopAndWait();
    EXPECT_TRUE(ran);
}

}  // namespace
