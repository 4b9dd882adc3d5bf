#pragma once
// Objects that their users are done with, kept for the next users, so that a connection
// of one request does not build them anew. At most the pool's limit are kept; any more
// are freed.

#include "thread/SpinLock.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

template <typename T>
class CSparePool {
public:
    explicit CSparePool(std::size_t max) : max_(max) {}
    CSparePool(const CSparePool&) = delete;
    CSparePool& operator=(const CSparePool&) = delete;

    // A kept object; null when none is kept.
    std::unique_ptr<T> Take()
    {
        std::lock_guard<CSpinLock> lock(lock_);
        if (kept_.empty())
            return nullptr;
        std::unique_ptr<T> object = std::move(kept_.back());
        kept_.pop_back();
        return object;
    }
    void GiveBack(std::unique_ptr<T> object)
    {
        std::lock_guard<CSpinLock> lock(lock_);
        if (object && kept_.size() < max_)
            kept_.push_back(std::move(object));
    }

private:
    CSpinLock lock_;
    const std::size_t max_;
    std::vector<std::unique_ptr<T>> kept_;  // under lock_
};
