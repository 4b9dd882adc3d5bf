#pragma once
// Bandwidth sharing and per-host limits. The manager (one per server core) knows every
// request in progress, divides the server-wide and per-host byte rates among the requests
// that are limiting their transfer at the moment, and keeps the traffic totals since the
// start and over the last hour. Each request holds a limiter, its entry in the manager,
// and paces every body transfer with a meter.
//
// Rates are bytes per second; a limit of 0 means no limit. Times are readings of the
// monotonic millisecond clock (platform::GetTickCount64); each operation that reads the
// clock has an overload taking that reading, for a caller's (or a test's) own time line.

#include "IPv4Address.h"
#include "thread/SpinLock.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class CConfigAccessor;

// Thread-safe: every operation holds the locks of what it reads or writes for its whole
// duration, except IsHostOverLimit while Basic::MaxOneHostConnect is 0, which then reads
// no table.
class CBandWidthManager {
public:
    // No limits, no requests, every total 0.
    CBandWidthManager();
    virtual ~CBandWidthManager();
    CBandWidthManager(const CBandWidthManager&) = delete;
    CBandWidthManager& operator=(const CBandWidthManager&) = delete;

    // Reads, through `settings` (the "Setting" accessor), the six limits in KiB per second
    // under "Limit" (Send:: and Recv:: MaxServerBandWidth, MaxOneHostBandWidth,
    // MaxOneConnectBandWidth; default 0), stored times 1024, and
    // Basic::MaxOneHostConnect (default 0). A value below 0 reads as 0 (no limit); a rate
    // above INT32_MAX bytes per second reads as INT32_MAX.
    void LoadSettings(const CConfigAccessor& settings);

    // The request table, keyed by the request's ThreadName (exact comparison). Update
    // overwrites the address and both flags of the entry with that key, or appends one.
    void UpdateEntry(const CIPv4Address& address, const std::string& key, int sendLimiting, int recvLimiting);
    // Removes the entry with that key; no entry, no change.
    void RemoveEntry(const std::string& key);

    // Entries from that address, whatever their flags.
    int CountHostRequests(const CIPv4Address& address) const;
    // Entries whose send (receive) flag is set; the Host forms only those from `address`.
    int CountSendLimited() const;
    int CountRecvLimited() const;
    int CountHostSendLimited(const CIPv4Address& address) const;
    int CountHostRecvLimited(const CIPv4Address& address) const;

    // The rate one limiting request from `address` may use now: the smallest of the server
    // limit shared among all limiting requests, the host limit shared among that host's
    // limiting requests, and the connection limit; a limit that is 0, or that no request
    // shares, is no candidate. 0 when there is none. A share is at least 1, so that a
    // limit spread over more requests than it has bytes never reads as "no limit".
    int32_t GetSendLimit(const CIPv4Address& address) const;
    int32_t GetRecvLimit(const CIPv4Address& address) const;

    // 1 when Basic::MaxOneHostConnect is above 0 and more entries than it come from
    // `address`. The asking request's own entry counts, so a limit of n admits n
    // requests from one address at a time.
    int IsHostOverLimit(const CIPv4Address& address) const;

    // The open connections, counted from the moment the core gives an accepted socket to a
    // worker until that socket is closed. OpenConnection counts one from `address` and
    // returns kAdmitted, or counts nothing and returns kServerFull when `maxConnections`
    // are open (a limit of 0 or less admits none) or kHostFull when
    // Basic::MaxOneHostConnect is above 0 and that many are open from `address`.
    // CloseConnection takes back one that OpenConnection admitted.
    enum Admission { kAdmitted, kServerFull, kHostFull };
    Admission OpenConnection(const CIPv4Address& address, int maxConnections);
    void CloseConnection(const CIPv4Address& address);
    int GetOpenConnections() const;
    int CountHostConnections(const CIPv4Address& address) const;

    // Accounts one finished request: adds to the totals since start and to the last hour.
    // Negative byte counts are taken as 0. Hour entries older than an hour are dropped
    // on the way, so the hour table never holds more than an hour of one-second entries.
    void AddTraffic(int64_t sent, int64_t received);
    void AddTraffic(int64_t sent, int64_t received, uint64_t nowMs);
    // Drops the traffic accounted more than 3600 s (whole seconds) before now from the
    // hour sums.
    void PurgeHour();
    void PurgeHour(uint64_t nowMs);

    // Requests accounted since construction (at most INT32_MAX) and their bytes.
    int GetAllConnected() const;
    int64_t GetAllRecvSize() const;
    int64_t GetAllSendSize() const;
    // PurgeHour, then the requests accounted in the last hour (at most INT32_MAX).
    int GetConnected1Hour();
    int GetConnected1Hour(uint64_t nowMs);
    // The bytes of the last hour as of the latest purge; these do not purge.
    int64_t GetRecvSize1Hour() const;
    int64_t GetSendSize1Hour() const;

private:
    struct RequestEntry {
        CIPv4Address address;
        std::string key;
        int sendLimiting;
        int recvLimiting;
    };
    // The traffic of the requests accounted within one second of the monotonic clock.
    struct HourBucket {
        uint64_t second;
        int64_t requests;
        int64_t sent;
        int64_t received;
    };
    struct DirectionLimits {
        int32_t server = 0;
        int32_t host = 0;
        int32_t connection = 0;
    };

    int32_t GetLimit(const CIPv4Address& address, const DirectionLimits& limits, int RequestEntry::*flag) const;
    int CountFlagged(const CIPv4Address* address, int RequestEntry::*flag) const;
    // The same two counts for a caller that holds every shard's lock.
    int CountFlaggedLocked(const CIPv4Address* address, int RequestEntry::*flag) const;
    int CountHostRequestsLocked(const CIPv4Address& address) const;
    void PurgeHourLocked(uint64_t nowSecond);

    // Every request enters the table and leaves it, and accounts its traffic: so that
    // requests do not wait for one another, the table is kept in shards by key, each
    // under a lock of its own, and the traffic under another.
    static constexpr size_t kRequestShards = 16;  // well above the cores serving at once
    static constexpr size_t kCacheLineBytes = 64;
    struct alignas(kCacheLineBytes) RequestShard {
        std::mutex lock;
        std::vector<RequestEntry> requests;  // in order of insertion
    };
    // Holds every shard's lock, for a count over the whole table.
    class AllShardsLock;

    RequestShard& ShardOf(const std::string& key);

    mutable std::mutex lock_;  // guards the limits and the open connections
    DirectionLimits send_;
    DirectionLimits recv_;
    // Written under lock_ too, but read without it where 0 lets a check skip the lock.
    std::atomic<int> maxOneHostConnect_{0};
    std::map<uint32_t, int> hostConnections_;  // open connections by address, none at 0
    int openConnections_ = 0;
    mutable std::array<RequestShard, kRequestShards> shards_;
    // Guards everything below; held for a few steps, by every request once.
    alignas(kCacheLineBytes) mutable CSpinLock trafficLock_;
    std::deque<HourBucket> hour_;          // oldest first, one bucket per second
    int64_t hourRequests_ = 0;
    int64_t hourSent_ = 0;
    int64_t hourReceived_ = 0;
    int64_t allRequests_ = 0;
    int64_t allSent_ = 0;
    int64_t allReceived_ = 0;
};

// A request's entry in the manager, from construction to destruction. Belongs to the
// request's thread; the manager must outlive it.
class CBandWidthLimiter {
public:
    // Enters the request with both flags off. `manager` is not owned.
    CBandWidthLimiter(CBandWidthManager* manager, const CIPv4Address& address, const std::string& key);
    // Removes the entry.
    virtual ~CBandWidthLimiter();
    CBandWidthLimiter(const CBandWidthLimiter&) = delete;
    CBandWidthLimiter& operator=(const CBandWidthLimiter&) = delete;

    // Switches the request's share of the limits on (nonzero) or off for one direction;
    // the flag it already has changes nothing and does not lock the manager.
    void SetSendLimiting(int flag);
    void SetRecvLimiting(int flag);
    // The rate this request may use now; 0 (no limit) while limiting is off.
    int32_t GetSendLimit() const;
    int32_t GetRecvLimit() const;
    // The manager's IsHostOverLimit for this request's address.
    int IsHostOverLimit() const;

private:
    CBandWidthManager* manager_;
    CIPv4Address address_;
    std::string key_;
    int sendLimiting_ = 0;
    int recvLimiting_ = 0;
};

// Paces one body transfer and measures its recent rate. For every chunk the owner asks
// GetWaitTime, waits that long, and calls AddSample once the chunk has moved (the wait
// may come before or after the move). Not locked: one owner thread.
class CTransferMeter {
public:
    // Samples at most kept; the rate covers only these, so it follows recent throughput.
    static constexpr size_t kMaxSamples = 20;

    CTransferMeter();
    explicit CTransferMeter(uint64_t nowMs);
    virtual ~CTransferMeter();

    // Milliseconds to wait before the chunk of `bytes` may count as moved at `limit` bytes
    // per second: 0 when limit or bytes is 0 or less. Each chunk is given bytes x 1000 /
    // limit ms after the previous one; time since the previous sample counts towards it,
    // and so does up to kMaxCarryOverMs by which earlier chunks ran late, so clock
    // granularity, oversleeping and the moves themselves do not slow the transfer below
    // the limit. The chunk is committed by the next AddSample; asking again before it
    // replaces the query.
    int64_t GetWaitTime(int32_t limit, int32_t bytes);
    int64_t GetWaitTime(int32_t limit, int32_t bytes, uint64_t nowMs);
    // Records the last queried byte count with the time since the previous sample (or
    // construction).
    void AddSample();
    void AddSample(uint64_t nowMs);
    // Bytes per second over the kept samples, truncated; 0 without samples. Samples that
    // cover 0 ms took less than the clock's 1 ms resolution and are counted as 1 ms.
    int64_t GetRate() const;

private:
    // Lateness that pacing makes up from earlier chunks: enough for clock ticks and sleep
    // overshoot, small enough that a stalled transfer cannot then burst for long.
    static constexpr int64_t kMaxCarryOverMs = 100;

    struct Sample {
        int64_t bytes;
        int64_t ms;
    };

    int64_t MicrosSinceOrigin(uint64_t nowMs) const;

    // A ring: no memory to allocate for the meter every body transfer makes.
    std::array<Sample, kMaxSamples> samples_{};
    size_t sampleCount_ = 0;
    size_t next_ = 0;  // the slot the next sample takes
    uint64_t origin_;    // the construction tick; pacing times count from it
    uint64_t lastTick_;  // construction, then each sample
    int64_t totalBytes_ = 0;
    int64_t totalMs_ = 0;
    int64_t pendingBytes_ = 0;
    // Pacing, in microseconds since origin_: the end of the time paid for by the committed
    // chunks, and that end including the chunk of the last query.
    int64_t paidUntilUs_ = 0;
    int64_t pendingPaidUntilUs_ = 0;
    bool pendingPaced_ = false;
};
