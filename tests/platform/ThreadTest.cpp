#include "Thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using platform::ThreadHandle;

// Guard space asked for in the tests: any multiple of the page size will do.
constexpr size_t kTestGuardBytes = size_t{64} << 10;
// Every wait of these tests ends by then.
constexpr auto kWaitLimit = std::chrono::seconds(10);

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<bool> release{true};  // the thread returns once this is true
    char* stackLow = nullptr;
    size_t stackBytes = 0;
    bool stackKnown = false;
    bool localOnStack = false;
};

void* RunProbe(void* param)
{
    Probe* const probe = static_cast<Probe*>(param);
    char local = 0;
    probe->stackKnown = platform::GetCurrentThreadStack(probe->stackLow, probe->stackBytes);
    probe->localOnStack = probe->stackKnown && &local >= probe->stackLow && &local < probe->stackLow + probe->stackBytes;
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (!probe->release.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    probe->ran = true;
    return nullptr;
}

TEST(StartThread, RunsOnAStackOfTheDefaultSize)
{
    Probe probe;
    ThreadHandle handle{};
    ASSERT_EQ(platform::StartThread(handle, RunProbe, &probe, kTestGuardBytes, false), 0);
    platform::JoinThread(handle);
    EXPECT_TRUE(probe.ran);
    ASSERT_TRUE(probe.stackKnown);
    EXPECT_TRUE(probe.localOnStack);
    EXPECT_GT(platform::DefaultThreadStackBytes(), 0u);
    EXPECT_EQ(probe.stackBytes, platform::DefaultThreadStackBytes());
}

int OwnNiceValue() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); }

// A thread started by a thread of raised priority runs at the process's, not its creator's.
TEST(StartThread, RunsAtTheProcessPriorityWhateverTheCreators)
{
    struct Nice {
        int creator = 0;
        int started = 0;
        bool raised = false;
    } nice;
    ThreadHandle creator{};
    ASSERT_EQ(platform::StartThread(creator, [](void* param) -> void* {
                  Nice* const n = static_cast<Nice*>(param);
                  n->raised = ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), OwnNiceValue() - 1) == 0;
                  n->creator = OwnNiceValue();
                  ThreadHandle started{};
                  if (platform::StartThread(started, [](void* p) -> void* {
                          static_cast<Nice*>(p)->started = OwnNiceValue();
                          return nullptr;
                      }, n, kTestGuardBytes, false) == 0)
                      platform::JoinThread(started);
                  return nullptr;
              }, &nice, kTestGuardBytes, false), 0);
    platform::JoinThread(creator);
    if (!nice.raised)
        GTEST_SKIP() << "raising a thread's priority needs a privilege this process lacks";
    const int process = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    EXPECT_EQ(nice.creator, process - 1);
    EXPECT_EQ(nice.started, process);
}

TEST(TryJoinThread, JoinsOnlyAnEndedThread)
{
    Probe probe;
    probe.release = false;
    ThreadHandle handle{};
    ASSERT_EQ(platform::StartThread(handle, RunProbe, &probe, kTestGuardBytes, false), 0);
    EXPECT_FALSE(platform::TryJoinThread(handle));
    probe.release = true;
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    bool joined = false;
    while (!(joined = platform::TryJoinThread(handle)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(joined);
    EXPECT_TRUE(probe.ran);
}

TEST(StartThread, RunsADetachedThread)
{
    Probe probe;
    ThreadHandle handle{};
    ASSERT_EQ(platform::StartThread(handle, RunProbe, &probe, kTestGuardBytes, true), 0);
    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (!probe.ran && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(probe.ran);
}

TEST(ReleaseStackPages, ReleasedPagesReadAsZeros)
{
    constexpr size_t kPages = 4;
    const size_t page = platform::GetPageSize();
    ASSERT_GT(page, 0u);
    char* const region = static_cast<char*>(std::aligned_alloc(page, kPages * page));
    ASSERT_NE(region, nullptr);
    std::memset(region, 0x5A, kPages * page);
    // The middle pages only: the first and last stay as written. The probe of one page
    // finds the range's top page resident.
    platform::ReleaseStackPages(region + page, (kPages - 2) * page, page);
    const struct {
        const char* description;
        size_t offset;
        char value;
    } cases[] = {
        {"last byte before the range", page - 1, 0x5A},
        {"first byte of the range", page, 0},
        {"last byte of the range", (kPages - 1) * page - 1, 0},
        {"first byte after the range", (kPages - 1) * page, 0x5A},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(region[c.offset], c.value);
    }
    std::free(region);
}

}  // namespace
