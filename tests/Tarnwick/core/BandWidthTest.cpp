#include "core/BandWidth.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const CIPv4Address kHostA("10.0.0.1");
const CIPv4Address kHostB("10.0.0.2");

class BandWidthManagerTest : public testing::Test {
protected:
    // Loads the manager from settings with the given keys (under "Setting::") set.
    void Load(const std::vector<std::pair<std::string, int>>& values)
    {
        CConfigAccessor setting = tree_.GetAccessor("Setting");
        for (const auto& value : values)
            setting.SetInt(value.first, value.second);
        manager.LoadSettings(setting);
    }

    // Enters a request; the flags say whether it is limiting each direction.
    void Enter(const CIPv4Address& address, const std::string& key, int send, int recv)
    {
        manager.UpdateEntry(address, key, send, recv);
    }

    CBandWidthManager manager;

private:
    CConfigClass tree_;
};

// ---------------------------------------------------------------------------------------
// Settings and limits

struct SettingCase {
    const char* what;
    const char* key;
    int value;
    int32_t expectedSend;
    int32_t expectedRecv;
};

TEST_F(BandWidthManagerTest, EachSettingLimitsItsOwnDirectionInKibPerSecond)
{
    // One request from one host limiting both ways: each limit applies to it alone.
    const int32_t kMax = std::numeric_limits<int32_t>::max();
    const SettingCase cases[] = {
        {"send server", "Limit::Send::MaxServerBandWidth", 100, 102400, 0},
        {"send host", "Limit::Send::MaxOneHostBandWidth", 50, 51200, 0},
        {"send connection", "Limit::Send::MaxOneConnectBandWidth", 20, 20480, 0},
        {"receive server", "Limit::Recv::MaxServerBandWidth", 100, 0, 102400},
        {"receive host", "Limit::Recv::MaxOneHostBandWidth", 50, 0, 51200},
        {"receive connection", "Limit::Recv::MaxOneConnectBandWidth", 20, 0, 20480},
        {"1 KiB/s", "Limit::Send::MaxOneConnectBandWidth", 1, 1024, 0},
        {"0 is no limit", "Limit::Send::MaxServerBandWidth", 0, 0, 0},
        {"negative is no limit", "Limit::Send::MaxServerBandWidth", -5, 0, 0},
        {"largest that fits", "Limit::Recv::MaxOneConnectBandWidth", 2097151, 0, 2097151 * 1024},
        {"beyond 2^31 bytes clamps", "Limit::Recv::MaxOneConnectBandWidth", 2097152, 0, kMax},
        {"far beyond clamps", "Limit::Send::MaxServerBandWidth", kMax, kMax, 0},
    };
    for (const SettingCase& c : cases) {
        CBandWidthManager fresh;
        CConfigClass tree;
        CConfigAccessor setting = tree.GetAccessor("Setting");
        setting.SetInt(c.key, c.value);
        fresh.LoadSettings(setting);
        fresh.UpdateEntry(kHostA, "Thread_0001", 1, 1);
        EXPECT_EQ(c.expectedSend, fresh.GetSendLimit(kHostA)) << c.what;
        EXPECT_EQ(c.expectedRecv, fresh.GetRecvLimit(kHostA)) << c.what;
    }
}

TEST_F(BandWidthManagerTest, AllLimitsZeroMeansNoLimit)
{
    Load({});
    Enter(kHostA, "Thread_0001", 1, 1);
    Enter(kHostA, "Thread_0002", 1, 1);
    EXPECT_EQ(0, manager.GetSendLimit(kHostA));
    EXPECT_EQ(0, manager.GetRecvLimit(kHostA));
    CTransferMeter meter(1000);
    EXPECT_EQ(0, meter.GetWaitTime(manager.GetSendLimit(kHostA), 32768, 1000));
}

TEST_F(BandWidthManagerTest, ServerLimitIsSharedAmongTheLimitingRequestsOnly)
{
    Load({{"Limit::Send::MaxServerBandWidth", 100}});
    Enter(kHostA, "Thread_0001", 1, 0);
    Enter(kHostB, "Thread_0002", 1, 0);
    Enter(kHostB, "Thread_0003", 0, 1);  // not sending under a limit: no share
    EXPECT_EQ(51200, manager.GetSendLimit(kHostA));
    EXPECT_EQ(51200, manager.GetSendLimit(kHostB));
}

TEST_F(BandWidthManagerTest, ConnectionLimitWinsWhenSmallerThanTheShare)
{
    Load({{"Limit::Send::MaxServerBandWidth", 100}, {"Limit::Send::MaxOneConnectBandWidth", 20}});
    Enter(kHostA, "Thread_0001", 1, 0);
    Enter(kHostB, "Thread_0002", 1, 0);
    EXPECT_EQ(20480, manager.GetSendLimit(kHostA));
    EXPECT_EQ(20480, manager.GetSendLimit(kHostB));
}

TEST_F(BandWidthManagerTest, HostLimitIsSharedAmongThatHostsLimitingRequests)
{
    Load({{"Limit::Recv::MaxOneHostBandWidth", 90}, {"Limit::Recv::MaxServerBandWidth", 1000}});
    Enter(kHostA, "Thread_0001", 0, 1);
    Enter(kHostA, "Thread_0002", 0, 1);
    Enter(kHostA, "Thread_0003", 0, 1);
    Enter(kHostB, "Thread_0004", 0, 1);
    EXPECT_EQ(90 * 1024 / 3, manager.GetRecvLimit(kHostA));
    EXPECT_EQ(90 * 1024, manager.GetRecvLimit(kHostB));
}

TEST_F(BandWidthManagerTest, HostWithoutLimitingRequestSkipsTheHostCandidate)
{
    Load({{"Limit::Send::MaxOneHostBandWidth", 10}});
    Enter(kHostA, "Thread_0001", 1, 0);
    Enter(kHostB, "Thread_0002", 0, 1);  // limits receiving only
    EXPECT_EQ(0, manager.CountHostSendLimited(kHostB));
    EXPECT_EQ(0, manager.GetSendLimit(kHostB));
    EXPECT_EQ(10240, manager.GetSendLimit(kHostA));
}

TEST_F(BandWidthManagerTest, ShareOfATinyLimitAmongManyRequestsNeverReadsAsNoLimit)
{
    Load({{"Limit::Send::MaxServerBandWidth", 1}});
    for (int i = 0; i < 1025; ++i)
        Enter(CIPv4Address(static_cast<uint32_t>(0x0A000000 + i)), "Thread_" + std::to_string(i), 1, 0);
    EXPECT_EQ(1, manager.GetSendLimit(kHostA));
}

TEST_F(BandWidthManagerTest, SharesFollowRequestsThatStartAndStopLimiting)
{
    Load({{"Limit::Send::MaxServerBandWidth", 300}});
    Enter(kHostA, "Thread_0001", 1, 0);
    EXPECT_EQ(307200, manager.GetSendLimit(kHostA));
    Enter(kHostB, "Thread_0002", 1, 0);
    Enter(kHostB, "Thread_0003", 1, 0);
    EXPECT_EQ(102400, manager.GetSendLimit(kHostA));
    Enter(kHostB, "Thread_0002", 0, 0);
    EXPECT_EQ(153600, manager.GetSendLimit(kHostA));
    manager.RemoveEntry("Thread_0003");
    EXPECT_EQ(307200, manager.GetSendLimit(kHostA));
}

// ---------------------------------------------------------------------------------------
// Request table

TEST_F(BandWidthManagerTest, UpdateOverwritesTheEntryWithExactlyThatKey)
{
    Enter(kHostA, "Thread_0001", 1, 0);
    Enter(kHostB, "Thread_0001", 0, 1);  // same key: moved to host B, flags replaced
    Enter(kHostA, "thread_0001", 1, 1);  // differs in case: a second entry
    EXPECT_EQ(1, manager.CountHostRequests(kHostA));
    EXPECT_EQ(1, manager.CountHostRequests(kHostB));
    EXPECT_EQ(1, manager.CountSendLimited());
    EXPECT_EQ(2, manager.CountRecvLimited());
    EXPECT_EQ(0, manager.CountHostSendLimited(kHostB));
    EXPECT_EQ(1, manager.CountHostRecvLimited(kHostB));
}

TEST_F(BandWidthManagerTest, HostRequestsCountWhateverTheirFlags)
{
    Enter(kHostA, "Thread_0001", 0, 0);
    Enter(kHostA, "Thread_0002", 1, 0);
    Enter(kHostA, "Thread_0003", 0, 1);
    Enter(kHostB, "Thread_0004", 1, 1);
    EXPECT_EQ(3, manager.CountHostRequests(kHostA));
    EXPECT_EQ(1, manager.CountHostRequests(kHostB));
    EXPECT_EQ(0, manager.CountHostRequests(CIPv4Address("10.0.0.3")));
    EXPECT_EQ(2, manager.CountSendLimited());
    EXPECT_EQ(1, manager.CountHostSendLimited(kHostA));
    EXPECT_EQ(1, manager.CountHostRecvLimited(kHostA));
}

TEST_F(BandWidthManagerTest, CountsAndSharesSpanEveryEntryOfAFullTable)
{
    // As many requests as a busy server has at once: the table keeps them apart by key,
    // and every count and share still covers all of them.
    Load({{"Limit::Send::MaxServerBandWidth", 120}, {"Limit::Send::MaxOneHostBandWidth", 60}});
    for (int i = 0; i < 120; ++i)
        Enter(i % 3 == 0 ? kHostA : kHostB, "Thread_" + std::to_string(i), i % 2, 0);
    EXPECT_EQ(40, manager.CountHostRequests(kHostA));
    EXPECT_EQ(80, manager.CountHostRequests(kHostB));
    EXPECT_EQ(60, manager.CountSendLimited());
    EXPECT_EQ(20, manager.CountHostSendLimited(kHostA));
    EXPECT_EQ(40, manager.CountHostSendLimited(kHostB));
    EXPECT_EQ(120 * 1024 / 60, manager.GetSendLimit(kHostA)) << "the server's share beats the host's";
    for (int i = 0; i < 120; ++i)
        if (i % 3 != 0)
            manager.RemoveEntry("Thread_" + std::to_string(i));
    EXPECT_EQ(0, manager.CountHostRequests(kHostB));
    EXPECT_EQ(20, manager.CountSendLimited());
    EXPECT_EQ(60 * 1024 / 20, manager.GetSendLimit(kHostA)) << "now the host's share is the smaller";
}

TEST_F(BandWidthManagerTest, RemovingAnUnknownKeyChangesNothing)
{
    Enter(kHostA, "Thread_0001", 1, 1);
    manager.RemoveEntry("Thread_0002");
    manager.RemoveEntry("THREAD_0001");
    EXPECT_EQ(1, manager.CountHostRequests(kHostA));
    manager.RemoveEntry("Thread_0001");
    EXPECT_EQ(0, manager.CountHostRequests(kHostA));
    manager.RemoveEntry("Thread_0001");
    EXPECT_EQ(0, manager.CountSendLimited());
}

// ---------------------------------------------------------------------------------------
// Limiter and the per-host request limit

TEST_F(BandWidthManagerTest, LimiterHoldsAnEntryForItsLifeWithFlagsOffAtFirst)
{
    Load({{"Limit::Send::MaxOneConnectBandWidth", 8}, {"Limit::Recv::MaxOneConnectBandWidth", 4}});
    {
        CBandWidthLimiter limiter(&manager, kHostA, "Thread_0001");
        EXPECT_EQ(1, manager.CountHostRequests(kHostA));
        EXPECT_EQ(0, manager.CountSendLimited());
        EXPECT_EQ(0, limiter.GetSendLimit());
        EXPECT_EQ(0, limiter.GetRecvLimit());

        limiter.SetSendLimiting(1);
        EXPECT_EQ(1, manager.CountSendLimited());
        EXPECT_EQ(0, manager.CountRecvLimited());
        EXPECT_EQ(8192, limiter.GetSendLimit());
        EXPECT_EQ(0, limiter.GetRecvLimit());

        limiter.SetSendLimiting(1);  // the flag it has: still one limited request
        EXPECT_EQ(1, manager.CountSendLimited());

        limiter.SetRecvLimiting(1);
        limiter.SetSendLimiting(0);  // keeps the receive flag
        EXPECT_EQ(0, manager.CountSendLimited());
        EXPECT_EQ(1, manager.CountRecvLimited());
        EXPECT_EQ(0, limiter.GetSendLimit());
        EXPECT_EQ(4096, limiter.GetRecvLimit());
    }
    EXPECT_EQ(0, manager.CountHostRequests(kHostA));
    EXPECT_EQ(0, manager.CountRecvLimited());
}

TEST_F(BandWidthManagerTest, ThirdRequestFromOneHostIsOverALimitOfTwo)
{
    Load({{"Basic::MaxOneHostConnect", 2}});
    CBandWidthLimiter first(&manager, kHostA, "Thread_0001");
    auto second = std::make_unique<CBandWidthLimiter>(&manager, kHostA, "Thread_0002");
    CBandWidthLimiter other1(&manager, kHostB, "Thread_0003");
    CBandWidthLimiter other2(&manager, kHostB, "Thread_0004");
    EXPECT_EQ(0, first.IsHostOverLimit());
    EXPECT_EQ(0, other1.IsHostOverLimit());

    CBandWidthLimiter third(&manager, kHostA, "Thread_0005");
    EXPECT_EQ(1, third.IsHostOverLimit());
    EXPECT_EQ(0, other2.IsHostOverLimit());

    second.reset();
    EXPECT_EQ(0, third.IsHostOverLimit());
}

// Loads a manager of a table's row with Basic::MaxOneHostConnect alone.
void LoadHostLimit(CBandWidthManager& manager, int limit)
{
    CConfigClass tree;
    CConfigAccessor setting = tree.GetAccessor("Setting");
    setting.SetInt("Basic::MaxOneHostConnect", limit);
    manager.LoadSettings(setting);
}

struct HostLimitCase {
    const char* what;
    int limit;
    int requests;
    int expected;
};

TEST_F(BandWidthManagerTest, HostLimitBoundaries)
{
    const HostLimitCase cases[] = {
        {"0 is no limit", 0, 100, 0}, {"negative is no limit", -1, 3, 0}, {"one of one", 1, 1, 0},
        {"two of one", 1, 2, 1},      {"n - 1 of n", 5, 4, 0},           {"n of n", 5, 5, 0},
        {"n + 1 of n", 5, 6, 1},
    };
    for (const HostLimitCase& c : cases) {
        CBandWidthManager fresh;
        LoadHostLimit(fresh, c.limit);
        for (int i = 0; i < c.requests; ++i)
            fresh.UpdateEntry(kHostA, "Thread_" + std::to_string(i), 0, 0);
        EXPECT_EQ(c.expected, fresh.IsHostOverLimit(kHostA)) << c.what;
    }
}

struct AdmissionCase {
    const char* what;
    int maxConnect;
    int maxOneHost;
    int openFromA;  // admitted from kHostA beforehand
    int openFromB;
    CBandWidthManager::Admission expectedForA;
};

TEST_F(BandWidthManagerTest, AConnectionIsAdmittedBelowBothLimits)
{
    using M = CBandWidthManager;
    const AdmissionCase cases[] = {
        {"empty server", 2, 0, 0, 0, M::kAdmitted},
        {"server n - 1 of n", 3, 0, 1, 1, M::kAdmitted},
        {"server n of n", 2, 0, 1, 1, M::kServerFull},
        {"server limit 0", 0, 0, 0, 0, M::kServerFull},
        {"host n - 1 of n", 10, 2, 1, 5, M::kAdmitted},
        {"host n of n", 10, 2, 2, 0, M::kHostFull},
        {"other host's count is its own", 10, 1, 0, 3, M::kAdmitted},
        {"host limit 0 is none", 10, 0, 9, 0, M::kAdmitted},
        {"server full first", 2, 1, 1, 1, M::kServerFull},
    };
    for (const AdmissionCase& c : cases) {
        CBandWidthManager fresh;
        LoadHostLimit(fresh, c.maxOneHost);
        for (int i = 0; i < c.openFromA; ++i)
            fresh.OpenConnection(kHostA, 100);
        for (int i = 0; i < c.openFromB; ++i)
            fresh.OpenConnection(kHostB, 100);
        EXPECT_EQ(c.expectedForA, fresh.OpenConnection(kHostA, c.maxConnect)) << c.what;
    }
}

TEST_F(BandWidthManagerTest, AClosedConnectionFreesItsSlots)
{
    Load({{"Basic::MaxOneHostConnect", 1}});
    ASSERT_EQ(CBandWidthManager::kAdmitted, manager.OpenConnection(kHostA, 2));
    ASSERT_EQ(CBandWidthManager::kAdmitted, manager.OpenConnection(kHostB, 2));
    EXPECT_EQ(2, manager.GetOpenConnections());
    EXPECT_EQ(1, manager.CountHostConnections(kHostA));
    EXPECT_EQ(CBandWidthManager::kServerFull, manager.OpenConnection(kHostA, 2));

    manager.CloseConnection(kHostA);
    EXPECT_EQ(1, manager.GetOpenConnections());
    EXPECT_EQ(0, manager.CountHostConnections(kHostA));
    EXPECT_EQ(CBandWidthManager::kAdmitted, manager.OpenConnection(kHostA, 2));
    manager.CloseConnection(CIPv4Address("10.0.0.9"));  // never admitted: no change
    EXPECT_EQ(2, manager.GetOpenConnections());
}

// ---------------------------------------------------------------------------------------
// Traffic totals and the last hour

constexpr uint64_t kStartMs = 5000000250;  // an arbitrary tick, mid-second

TEST_F(BandWidthManagerTest, TrafficCountsSinceStartAndInTheLastHour)
{
    EXPECT_EQ(0, manager.GetAllConnected());
    EXPECT_EQ(0, manager.GetConnected1Hour(kStartMs));
    manager.AddTraffic(1000, 200, kStartMs);
    manager.AddTraffic(30, 4, kStartMs + 10);
    manager.AddTraffic(-5, 0, kStartMs + 20);  // no bytes, one request
    EXPECT_EQ(3, manager.GetAllConnected());
    EXPECT_EQ(1030, manager.GetAllSendSize());
    EXPECT_EQ(204, manager.GetAllRecvSize());
    EXPECT_EQ(3, manager.GetConnected1Hour(kStartMs + 30));
    EXPECT_EQ(1030, manager.GetSendSize1Hour());
    EXPECT_EQ(204, manager.GetRecvSize1Hour());
}


struct HourCase {
    const char* what;
    uint64_t laterMs;
    int expected;
};

TEST_F(BandWidthManagerTest, TrafficLeavesTheHourOnceMoreThan3600WholeSecondsHavePassed)
{
    // kStartMs lies 250 ms into its second; the hour counts whole seconds.
    const HourCase cases[] = {
        {"at once", 0, 1},
        {"3599 s later", 3599000, 1},
        {"3600 s later", 3600000, 1},
        {"last ms of the 3600th second", 3600749, 1},
        {"first ms of the 3601st second", 3600750, 0},
        {"a day later", 86400000, 0},
    };
    for (const HourCase& c : cases) {
        CBandWidthManager fresh;
        fresh.AddTraffic(500, 60, kStartMs);
        EXPECT_EQ(c.expected, fresh.GetConnected1Hour(kStartMs + c.laterMs)) << c.what;
        EXPECT_EQ(c.expected * 500, fresh.GetSendSize1Hour()) << c.what;
        EXPECT_EQ(c.expected * 60, fresh.GetRecvSize1Hour()) << c.what;
        EXPECT_EQ(1, fresh.GetAllConnected()) << c.what;
    }
}

TEST_F(BandWidthManagerTest, HourSumsReturnToTheirPreviousValuesWhenAnEntryExpires)
{
    manager.AddTraffic(100, 10, kStartMs);
    manager.AddTraffic(5000, 600, kStartMs + 1800000);
    EXPECT_EQ(2, manager.GetConnected1Hour(kStartMs + 3600000));
    EXPECT_EQ(5100, manager.GetSendSize1Hour());

    EXPECT_EQ(1, manager.GetConnected1Hour(kStartMs + 3601000));
    EXPECT_EQ(5000, manager.GetSendSize1Hour());
    EXPECT_EQ(600, manager.GetRecvSize1Hour());

    EXPECT_EQ(0, manager.GetConnected1Hour(kStartMs + 1800000 + 3601000));
    EXPECT_EQ(0, manager.GetSendSize1Hour());
    EXPECT_EQ(0, manager.GetRecvSize1Hour());
    EXPECT_EQ(2, manager.GetAllConnected());
    EXPECT_EQ(5100, manager.GetAllSendSize());
    EXPECT_EQ(610, manager.GetAllRecvSize());
}

TEST_F(BandWidthManagerTest, PurgeHourDropsOldTrafficFromTheSizes)
{
    manager.AddTraffic(100, 10, kStartMs);
    manager.PurgeHour(kStartMs + 4000000);
    EXPECT_EQ(0, manager.GetSendSize1Hour());
    EXPECT_EQ(0, manager.GetRecvSize1Hour());
    EXPECT_EQ(100, manager.GetAllSendSize());
}

TEST_F(BandWidthManagerTest, HourCountsMatchEveryRequestOfTheLastHourOverTwoHours)
{
    // Each second s brings s % 3 + 1 requests of s + 1 bytes sent and 1 received; the
    // expected sums of a window are differences of running totals.
    const int kSeconds = 7300;
    std::vector<int64_t> requestsUpTo(kSeconds + 1, 0);
    std::vector<int64_t> sentUpTo(kSeconds + 1, 0);
    for (int s = 0; s < kSeconds; ++s) {
        const int64_t requests = s % 3 + 1;
        const uint64_t secondMs = kStartMs + static_cast<uint64_t>(s) * 1000;
        for (int64_t r = 0; r < requests; ++r)
            manager.AddTraffic(s + 1, 1, secondMs + static_cast<uint64_t>(r) * 100);
        requestsUpTo[s + 1] = requestsUpTo[s] + requests;
        sentUpTo[s + 1] = sentUpTo[s] + requests * (s + 1);

        const int oldestKept = s >= 3600 ? s - 3600 : 0;
        const int64_t expectedRequests = requestsUpTo[s + 1] - requestsUpTo[oldestKept];
        ASSERT_EQ(expectedRequests, manager.GetConnected1Hour(secondMs + 500)) << "second " << s;
        ASSERT_EQ(sentUpTo[s + 1] - sentUpTo[oldestKept], manager.GetSendSize1Hour()) << "second " << s;
        ASSERT_EQ(expectedRequests, manager.GetRecvSize1Hour()) << "second " << s;
    }
    EXPECT_EQ(requestsUpTo[kSeconds], manager.GetAllConnected());
    EXPECT_EQ(sentUpTo[kSeconds], manager.GetAllSendSize());
}

TEST_F(BandWidthManagerTest, TrafficStampedBehindTheNewestIsKeptUntilTheNewestExpires)
{
    manager.AddTraffic(1, 1, kStartMs + 5000);
    manager.AddTraffic(2, 2, kStartMs);  // an older reading than the last one
    EXPECT_EQ(2, manager.GetConnected1Hour(kStartMs + 3601000));
    EXPECT_EQ(3, manager.GetSendSize1Hour());
    EXPECT_EQ(0, manager.GetConnected1Hour(kStartMs + 5000 + 3601000));
}

TEST_F(BandWidthManagerTest, ConcurrentRequestsAreAllAccounted)
{
    const int kThreads = 4;
    const int kRequests = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this, t] {
            const CIPv4Address address(static_cast<uint32_t>(0x0A000001 + t));
            for (int i = 0; i < kRequests; ++i) {
                const std::string key = "Thread_" + std::to_string(t * kRequests + i);
                manager.UpdateEntry(address, key, i % 2, 1);
                manager.GetSendLimit(address);
                manager.AddTraffic(2, 3);
                manager.RemoveEntry(key);
            }
        });
    }
    for (int i = 0; i < 200; ++i)
        manager.GetConnected1Hour();
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(kThreads * kRequests, manager.GetAllConnected());
    EXPECT_EQ(2 * kThreads * kRequests, manager.GetAllSendSize());
    EXPECT_EQ(3 * kThreads * kRequests, manager.GetAllRecvSize());
    EXPECT_EQ(0, manager.CountRecvLimited());
}

// ---------------------------------------------------------------------------------------
// Transfer meter

struct WaitCase {
    const char* what;
    int32_t limit;
    int32_t bytes;
    uint64_t sinceStartMs;
    int64_t expected;
};

TEST(BandWidthTransferMeterTest, WaitTimeIsTheChunksTimeLessWhatHasPassed)
{
    const int32_t kMax = std::numeric_limits<int32_t>::max();
    const WaitCase cases[] = {
        {"no limit", 0, 65536, 0, 0},
        {"negative limit", -1024, 65536, 0, 0},
        {"no bytes", 1024, 0, 0, 0},
        {"negative bytes", 1024, -1, 0, 0},
        {"2 KiB at 1 KiB/s at once", 1024, 2048, 0, 2000},
        {"half a second passed", 1024, 2048, 500, 1500},
        {"1 ms short", 1024, 2048, 1999, 1},
        {"exactly the time passed", 1024, 2048, 2000, 0},
        {"more than the time passed", 1024, 2048, 9000, 0},
        {"part of a millisecond rounds up", 3, 1, 0, 334},
        {"one byte per second", 1, 1, 0, 1000},
        {"largest chunk at the smallest limit", 1, kMax, 0, static_cast<int64_t>(kMax) * 1000},
        {"chunk under a microsecond", kMax, 1, 0, 0},
    };
    for (const WaitCase& c : cases) {
        CTransferMeter meter(10000);
        EXPECT_EQ(c.expected, meter.GetWaitTime(c.limit, c.bytes, 10000 + c.sinceStartMs)) << c.what;
    }
}

TEST(BandWidthTransferMeterTest, WaitRightAfterASampleIsTheWholeChunksTime)
{
    CTransferMeter meter(10000);
    EXPECT_EQ(2000, meter.GetWaitTime(1024, 2048, 10000));
    meter.AddSample(12000);
    EXPECT_EQ(2000, meter.GetWaitTime(1024, 2048, 12000));

    CTransferMeter unpaced(10000);
    unpaced.GetWaitTime(0, 4096, 10000);
    unpaced.AddSample(15000);
    EXPECT_EQ(2000, unpaced.GetWaitTime(1024, 2048, 15000));
}

TEST(BandWidthTransferMeterTest, AskingAgainBeforeTheSampleReplacesTheQuery)
{
    CTransferMeter meter(0);
    EXPECT_EQ(2000, meter.GetWaitTime(1024, 2048, 0));
    EXPECT_EQ(1000, meter.GetWaitTime(1024, 1024, 0));
    EXPECT_EQ(1000, meter.GetWaitTime(1024, 1024, 0));
    meter.AddSample(1000);
    EXPECT_EQ(1000, meter.GetWaitTime(1024, 1024, 1000));
}

TEST(BandWidthTransferMeterTest, PeerSlowerThanTheLimitIsNotHeldBack)
{
    CTransferMeter meter(0);
    uint64_t now = 0;
    for (int i = 0; i < 10; ++i) {
        now += 3000;  // each 1 KiB chunk takes 3 s to arrive at a 1 KiB/s limit
        EXPECT_EQ(0, meter.GetWaitTime(1024, 1024, now)) << "chunk " << i;
        meter.AddSample(now);
    }
}

TEST(BandWidthTransferMeterTest, LatenessMadeUpAfterAStallIsBounded)
{
    // 100 bytes at 10000 B/s: 10 ms a chunk.
    CTransferMeter meter(0);
    uint64_t now = 0;
    for (int i = 0; i < 10; ++i) {
        now += static_cast<uint64_t>(meter.GetWaitTime(10000, 100, now));
        meter.AddSample(now);
    }
    now += 10000;  // the peer stalls for 10 s
    int unpaced = 0;
    for (int i = 0; i < 100; ++i) {
        const int64_t wait = meter.GetWaitTime(10000, 100, now);
        if (wait == 0)
            ++unpaced;
        now += static_cast<uint64_t>(wait);
        meter.AddSample(now);
    }
    // At most 100 ms of lateness is made up, 10 chunks, besides the stalled one.
    EXPECT_LE(unpaced, 11);
    EXPECT_GE(unpaced, 1);
}

struct PacingCase {
    const char* what;
    int32_t limit;
    int32_t chunk;
    uint64_t moveMs;       // time the chunk itself takes on the socket
    uint64_t oversleepMs;  // how late each wait ends
    bool waitAfterMove;    // the driver moves first, then waits; either order must hold
};

// Moves chunks for a minute of simulated time as the request driver does; bytes per second.
double SimulatedRate(const PacingCase& c)
{
    const uint64_t kStart = 777000;
    const uint64_t kDurationMs = 60000;
    const int kMaxChunks = 2000000;  // bounds the loop should pacing fail altogether
    CTransferMeter meter(kStart);
    uint64_t now = kStart;
    int64_t bytes = 0;
    for (int i = 0; i < kMaxChunks && now - kStart < kDurationMs; ++i) {
        if (c.waitAfterMove)
            now += c.moveMs;
        const int64_t wait = meter.GetWaitTime(c.limit, c.chunk, now);
        if (wait > 0)
            now += static_cast<uint64_t>(wait) + c.oversleepMs;
        if (!c.waitAfterMove)
            now += c.moveMs;
        meter.AddSample(now);
        bytes += c.chunk;
    }
    if (now == kStart)
        return 1e300;
    return static_cast<double>(bytes) * 1000.0 / static_cast<double>(now - kStart);
}

TEST(BandWidthTransferMeterTest, PacedTransferRunsWithin20PercentOfItsLimit)
{
    const PacingCase cases[] = {
        {"chunk longer than a second", 1024, 2048, 0, 0, true},
        {"send chunks at 100 KiB/s", 102400, 32768, 5, 2, true},
        {"receive chunks at 50 KiB/s", 51200, 65536, 20, 3, true},
        {"wait before the move", 300000, 32768, 4, 1, false},
        {"a fraction of a millisecond per chunk lost", 3000000, 32768, 0, 0, true},
        {"chunk needs under 1 ms", 64 * 1024 * 1024, 32768, 0, 0, true},
        {"chunk needs under 1 ms, waits overshoot", 10000000, 4096, 0, 1, true},
        {"the move takes most of the chunk's time", 1000000, 32768, 25, 5, true},
        {"one byte per second", 1, 1, 0, 0, true},
        {"largest limit", std::numeric_limits<int32_t>::max(), 65536, 0, 1, true},
    };
    for (const PacingCase& c : cases) {
        const double rate = SimulatedRate(c);
        EXPECT_GE(rate, 0.8 * c.limit) << c.what;
        EXPECT_LE(rate, 1.2 * c.limit) << c.what;
    }
}

TEST(BandWidthTransferMeterTest, RateCoversTheLast20SamplesOnly)
{
    CTransferMeter meter(0);
    EXPECT_EQ(0, meter.GetRate());
    uint64_t now = 0;
    for (int i = 0; i < 5; ++i) {  // slow start: 1 byte a second
        meter.GetWaitTime(0, 1, now);
        now += 1000;
        meter.AddSample(now);
    }
    EXPECT_EQ(1, meter.GetRate());
    for (size_t i = 0; i < CTransferMeter::kMaxSamples; ++i) {
        meter.GetWaitTime(0, 1000, now);
        now += 100;
        meter.AddSample(now);
    }
    EXPECT_EQ(10000, meter.GetRate());
}

TEST(BandWidthTransferMeterTest, RateOverNoMeasurableTimeCountsOneMillisecond)
{
    CTransferMeter meter(500);
    meter.GetWaitTime(0, 4096, 500);
    meter.AddSample(500);
    EXPECT_EQ(4096000, meter.GetRate());

    CTransferMeter empty(500);
    empty.GetWaitTime(0, 0, 500);
    empty.AddSample(500);
    EXPECT_EQ(0, empty.GetRate());
}

TEST(BandWidthTransferMeterTest, ClockReadingBeforeTheLastSampleCountsAsNoTime)
{
    CTransferMeter meter(1000);
    meter.GetWaitTime(0, 1000, 1000);
    meter.AddSample(2000);
    meter.AddSample(1500);  // behind the last sample
    EXPECT_EQ(2000, meter.GetRate());
    EXPECT_EQ(1000, meter.GetWaitTime(1000, 1000, 2000));
}

}  // namespace
