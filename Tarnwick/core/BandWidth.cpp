#include "core/BandWidth.h"

#include "Clock.h"
#include "ConfigAccessor.h"
#include "SettingsSchema.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>

namespace {

using Lock = std::lock_guard<std::mutex>;
using TrafficLock = std::lock_guard<CSpinLock>;

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// Traffic accounted more than this many seconds ago no longer counts as the last hour.
constexpr uint64_t kHourSeconds = 3600;

// Settings give KiB per second; 0 or less means no limit.
int32_t ReadRate(const CConfigAccessor& settings, const schema::NumberKey& key)
{
    const int64_t kib = key.Read(settings);
    if (kib <= 0)
        return 0;
    return static_cast<int32_t>(std::min(kib * 1024, kInt32Max));
}

int ClampToInt(int64_t value) { return static_cast<int>(std::min(value, kInt32Max)); }

}  // namespace

// ---------------------------------------------------------------------------------------
// CBandWidthManager

class CBandWidthManager::AllShardsLock {
public:
    explicit AllShardsLock(std::array<RequestShard, kRequestShards>& shards) : shards_(shards)
    {
        // Always in shard order, so that two counts cannot wait for each other.
        for (RequestShard& shard : shards_)
            shard.lock.lock();
    }
    ~AllShardsLock()
    {
        for (auto shard = shards_.rbegin(); shard != shards_.rend(); ++shard)
            shard->lock.unlock();
    }
    AllShardsLock(const AllShardsLock&) = delete;
    AllShardsLock& operator=(const AllShardsLock&) = delete;

private:
    std::array<RequestShard, kRequestShards>& shards_;
};

CBandWidthManager::CBandWidthManager() = default;

CBandWidthManager::~CBandWidthManager() = default;

void CBandWidthManager::LoadSettings(const CConfigAccessor& settings)
{
    Lock lock(lock_);
    send_.server = ReadRate(settings, schema::kSendServerBandWidth);
    send_.host = ReadRate(settings, schema::kSendHostBandWidth);
    send_.connection = ReadRate(settings, schema::kSendConnectBandWidth);
    recv_.server = ReadRate(settings, schema::kRecvServerBandWidth);
    recv_.host = ReadRate(settings, schema::kRecvHostBandWidth);
    recv_.connection = ReadRate(settings, schema::kRecvConnectBandWidth);
    maxOneHostConnect_.store(std::max(0, schema::kMaxOneHostConnect.Read(settings)), std::memory_order_relaxed);
}

void CBandWidthManager::UpdateEntry(const CIPv4Address& address, const std::string& key, int sendLimiting,
                                    int recvLimiting)
{
    RequestShard& shard = ShardOf(key);
    Lock lock(shard.lock);
    for (RequestEntry& entry : shard.requests) {
        if (entry.key == key) {
            entry.address = address;
            entry.sendLimiting = sendLimiting;
            entry.recvLimiting = recvLimiting;
            return;
        }
    }
    shard.requests.push_back({address, key, sendLimiting, recvLimiting});
}

void CBandWidthManager::RemoveEntry(const std::string& key)
{
    RequestShard& shard = ShardOf(key);
    Lock lock(shard.lock);
    auto found = std::find_if(shard.requests.begin(), shard.requests.end(),
                              [&key](const RequestEntry& entry) { return entry.key == key; });
    if (found != shard.requests.end())
        shard.requests.erase(found);
}

CBandWidthManager::RequestShard& CBandWidthManager::ShardOf(const std::string& key)
{
    return shards_[std::hash<std::string>()(key) % kRequestShards];
}

int CBandWidthManager::CountHostRequests(const CIPv4Address& address) const
{
    AllShardsLock lock(shards_);
    return CountHostRequestsLocked(address);
}

int CBandWidthManager::CountHostRequestsLocked(const CIPv4Address& address) const
{
    int count = 0;
    for (const RequestShard& shard : shards_)
        count += static_cast<int>(std::count_if(shard.requests.begin(), shard.requests.end(),
                                                [&address](const RequestEntry& entry) { return entry.address == address; }));
    return count;
}

int CBandWidthManager::CountFlagged(const CIPv4Address* address, int RequestEntry::*flag) const
{
    AllShardsLock lock(shards_);
    return CountFlaggedLocked(address, flag);
}

int CBandWidthManager::CountFlaggedLocked(const CIPv4Address* address, int RequestEntry::*flag) const
{
    int count = 0;
    for (const RequestShard& shard : shards_) {
        for (const RequestEntry& entry : shard.requests) {
            if (entry.*flag && (address == nullptr || entry.address == *address))
                ++count;
        }
    }
    return count;
}

int CBandWidthManager::CountSendLimited() const { return CountFlagged(nullptr, &RequestEntry::sendLimiting); }

int CBandWidthManager::CountRecvLimited() const { return CountFlagged(nullptr, &RequestEntry::recvLimiting); }

int CBandWidthManager::CountHostSendLimited(const CIPv4Address& address) const
{
    return CountFlagged(&address, &RequestEntry::sendLimiting);
}

int CBandWidthManager::CountHostRecvLimited(const CIPv4Address& address) const
{
    return CountFlagged(&address, &RequestEntry::recvLimiting);
}

int32_t CBandWidthManager::GetLimit(const CIPv4Address& address, const DirectionLimits& limits,
                                    int RequestEntry::*flag) const
{
    Lock limitsLock(lock_);
    AllShardsLock lock(shards_);
    int32_t smallest = 0;
    auto consider = [&smallest](int32_t candidate) {
        if (smallest == 0 || candidate < smallest)
            smallest = candidate;
    };
    const int all = CountFlaggedLocked(nullptr, flag);
    if (limits.server != 0 && all != 0)
        consider(std::max<int32_t>(1, limits.server / all));
    const int host = CountFlaggedLocked(&address, flag);
    if (limits.host != 0 && host != 0)
        consider(std::max<int32_t>(1, limits.host / host));
    if (limits.connection != 0)
        consider(limits.connection);
    return smallest;
}

int32_t CBandWidthManager::GetSendLimit(const CIPv4Address& address) const
{
    return GetLimit(address, send_, &RequestEntry::sendLimiting);
}

int32_t CBandWidthManager::GetRecvLimit(const CIPv4Address& address) const
{
    return GetLimit(address, recv_, &RequestEntry::recvLimiting);
}

int CBandWidthManager::IsHostOverLimit(const CIPv4Address& address) const
{
    // Without a limit, as most servers run, the request table need not be locked at all.
    if (maxOneHostConnect_.load(std::memory_order_relaxed) <= 0)
        return 0;
    AllShardsLock lock(shards_);
    const int limit = maxOneHostConnect_.load(std::memory_order_relaxed);
    return limit > 0 && CountHostRequestsLocked(address) > limit ? 1 : 0;
}

CBandWidthManager::Admission CBandWidthManager::OpenConnection(const CIPv4Address& address, int maxConnections)
{
    Lock lock(lock_);
    if (openConnections_ >= maxConnections)
        return kServerFull;
    const auto found = hostConnections_.find(address.GetAddress());
    const int hostLimit = maxOneHostConnect_.load(std::memory_order_relaxed);
    if (hostLimit > 0 && found != hostConnections_.end() && found->second >= hostLimit)
        return kHostFull;
    ++hostConnections_[address.GetAddress()];
    ++openConnections_;
    return kAdmitted;
}

void CBandWidthManager::CloseConnection(const CIPv4Address& address)
{
    Lock lock(lock_);
    const auto found = hostConnections_.find(address.GetAddress());
    if (found == hostConnections_.end())
        return;
    if (--found->second == 0)
        hostConnections_.erase(found);
    --openConnections_;
}

int CBandWidthManager::GetOpenConnections() const
{
    Lock lock(lock_);
    return openConnections_;
}

int CBandWidthManager::CountHostConnections(const CIPv4Address& address) const
{
    Lock lock(lock_);
    const auto found = hostConnections_.find(address.GetAddress());
    return found == hostConnections_.end() ? 0 : found->second;
}

void CBandWidthManager::AddTraffic(int64_t sent, int64_t received)
{
    AddTraffic(sent, received, platform::GetTickCount64());
}

void CBandWidthManager::AddTraffic(int64_t sent, int64_t received, uint64_t nowMs)
{
    sent = std::max<int64_t>(0, sent);
    received = std::max<int64_t>(0, received);
    const uint64_t second = nowMs / 1000;
    TrafficLock lock(trafficLock_);
    PurgeHourLocked(second);
    allRequests_ += 1;
    allSent_ += sent;
    allReceived_ += received;
    hourRequests_ += 1;
    hourSent_ += sent;
    hourReceived_ += received;
    // A reading behind the newest bucket joins it, so the buckets stay in time order.
    if (!hour_.empty() && hour_.back().second >= second) {
        hour_.back().requests += 1;
        hour_.back().sent += sent;
        hour_.back().received += received;
    } else {
        hour_.push_back({second, 1, sent, received});
    }
}

void CBandWidthManager::PurgeHour() { PurgeHour(platform::GetTickCount64()); }

void CBandWidthManager::PurgeHour(uint64_t nowMs)
{
    TrafficLock lock(trafficLock_);
    PurgeHourLocked(nowMs / 1000);
}

void CBandWidthManager::PurgeHourLocked(uint64_t nowSecond)
{
    // Written as a difference: second + 3600 could overflow near the clock's end.
    while (!hour_.empty() && hour_.front().second < nowSecond && nowSecond - hour_.front().second > kHourSeconds) {
        const HourBucket& oldest = hour_.front();
        hourRequests_ -= oldest.requests;
        hourSent_ -= oldest.sent;
        hourReceived_ -= oldest.received;
        hour_.pop_front();
    }
}

int CBandWidthManager::GetAllConnected() const
{
    TrafficLock lock(trafficLock_);
    return ClampToInt(allRequests_);
}

int64_t CBandWidthManager::GetAllRecvSize() const
{
    TrafficLock lock(trafficLock_);
    return allReceived_;
}

int64_t CBandWidthManager::GetAllSendSize() const
{
    TrafficLock lock(trafficLock_);
    return allSent_;
}

int CBandWidthManager::GetConnected1Hour() { return GetConnected1Hour(platform::GetTickCount64()); }

int CBandWidthManager::GetConnected1Hour(uint64_t nowMs)
{
    TrafficLock lock(trafficLock_);
    PurgeHourLocked(nowMs / 1000);
    return ClampToInt(hourRequests_);
}

int64_t CBandWidthManager::GetRecvSize1Hour() const
{
    TrafficLock lock(trafficLock_);
    return hourReceived_;
}

int64_t CBandWidthManager::GetSendSize1Hour() const
{
    TrafficLock lock(trafficLock_);
    return hourSent_;
}

// ---------------------------------------------------------------------------------------
// CBandWidthLimiter

CBandWidthLimiter::CBandWidthLimiter(CBandWidthManager* manager, const CIPv4Address& address, const std::string& key)
    : manager_(manager), address_(address), key_(key)
{
    manager_->UpdateEntry(address_, key_, 0, 0);
}

CBandWidthLimiter::~CBandWidthLimiter() { manager_->RemoveEntry(key_); }

// A request that keeps its flag changes nothing in the table, so the manager's lock is
// not taken for it: most requests never switch limiting on.
void CBandWidthLimiter::SetSendLimiting(int flag)
{
    if (flag == sendLimiting_)
        return;
    sendLimiting_ = flag;
    manager_->UpdateEntry(address_, key_, sendLimiting_, recvLimiting_);
}

void CBandWidthLimiter::SetRecvLimiting(int flag)
{
    if (flag == recvLimiting_)
        return;
    recvLimiting_ = flag;
    manager_->UpdateEntry(address_, key_, sendLimiting_, recvLimiting_);
}

int32_t CBandWidthLimiter::GetSendLimit() const { return sendLimiting_ ? manager_->GetSendLimit(address_) : 0; }

int32_t CBandWidthLimiter::GetRecvLimit() const { return recvLimiting_ ? manager_->GetRecvLimit(address_) : 0; }

int CBandWidthLimiter::IsHostOverLimit() const { return manager_->IsHostOverLimit(address_); }

// ---------------------------------------------------------------------------------------
// CTransferMeter

CTransferMeter::CTransferMeter() : CTransferMeter(platform::GetTickCount64()) {}

CTransferMeter::CTransferMeter(uint64_t nowMs) : origin_(nowMs), lastTick_(nowMs) {}

CTransferMeter::~CTransferMeter() = default;

int64_t CTransferMeter::MicrosSinceOrigin(uint64_t nowMs) const
{
    return nowMs > origin_ ? static_cast<int64_t>(nowMs - origin_) * 1000 : 0;
}

int64_t CTransferMeter::GetWaitTime(int32_t limit, int32_t bytes)
{
    return GetWaitTime(limit, bytes, platform::GetTickCount64());
}

int64_t CTransferMeter::GetWaitTime(int32_t limit, int32_t bytes, uint64_t nowMs)
{
    pendingBytes_ = bytes;
    pendingPaced_ = false;
    if (limit <= 0 || bytes <= 0)
        return 0;
    // Kept in microseconds: whole milliseconds per chunk would lose up to 1 ms each time,
    // and a chunk that needs less than 1 ms would not be paced at all.
    const int64_t needUs = static_cast<int64_t>(bytes) * 1000000 / limit;
    const int64_t nowUs = MicrosSinceOrigin(nowMs);
    const int64_t lastUs = MicrosSinceOrigin(lastTick_);
    const int64_t startUs = std::max(paidUntilUs_, lastUs - kMaxCarryOverMs * 1000);
    pendingPaidUntilUs_ = startUs + needUs;
    pendingPaced_ = true;
    const int64_t waitUs = pendingPaidUntilUs_ - nowUs;
    // Rounded up: the wait never ends before the chunk's time has passed.
    return waitUs > 0 ? (waitUs + 999) / 1000 : 0;
}

void CTransferMeter::AddSample() { AddSample(platform::GetTickCount64()); }

void CTransferMeter::AddSample(uint64_t nowMs)
{
    const int64_t elapsed = nowMs > lastTick_ ? static_cast<int64_t>(nowMs - lastTick_) : 0;
    lastTick_ = std::max(lastTick_, nowMs);
    // The oldest sample leaves once kMaxSamples are kept; its slot takes the new one.
    Sample& slot = samples_[next_];
    if (sampleCount_ == kMaxSamples) {
        totalBytes_ -= slot.bytes;
        totalMs_ -= slot.ms;
    } else {
        ++sampleCount_;
    }
    slot = {pendingBytes_, elapsed};
    next_ = (next_ + 1) % kMaxSamples;
    totalBytes_ += pendingBytes_;
    totalMs_ += elapsed;
    // An unpaced chunk pays nothing forward: pacing restarts from now.
    paidUntilUs_ = pendingPaced_ ? pendingPaidUntilUs_ : MicrosSinceOrigin(lastTick_);
    pendingPaced_ = false;
}

int64_t CTransferMeter::GetRate() const
{
    if (sampleCount_ == 0)
        return 0;
    const double ms = static_cast<double>(std::max<int64_t>(1, totalMs_));
    return static_cast<int64_t>(static_cast<double>(totalBytes_) / ms * 1000.0);
}
