#pragma once
// An integer flag shared between threads (stop requests, running, timed out).

#include <atomic>
#include <cstdint>

class CLockedValue {
public:
    CLockedValue() = default;
    CLockedValue(const CLockedValue&) = delete;
    CLockedValue& operator=(const CLockedValue&) = delete;

    int32_t Get() const { return value_.load(); }
    void Set(int32_t value) { value_.store(value); }

private:
    std::atomic<int32_t> value_{0};
};
