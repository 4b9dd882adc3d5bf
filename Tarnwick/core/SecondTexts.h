#pragma once
// The texts of the current second, one set per thread. Everything the server derives from
// the clock's second is made here and dropped here: the time leaves a request records as
// its start and end (the answer's Date header copies their GMT), the twelve time names the
// value filter fills, the system log's line prefix, and the filter's kept expansions, which
// hold those texts (the request log's "[%Time%]" among them). The first call of a thread in
// a later second remakes all of them in one step, so no reader mixes two seconds.
//
// Used by its own thread alone; no lock beside the trees' own.

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CSecondTexts {
public:
    // Expansions kept: more than the values with placeholders one request reads, so that
    // they do not evict each other; each new one replaces the oldest.
    static constexpr size_t kKeptExpansions = 4;

    // The calling thread's texts for the system clock's second. The object lives as long
    // as the thread; its texts stay until the thread's first call in another second.
    static CSecondTexts& Now();
    // The same for the second `secondsSince1970`, as if the clock showed it.
    static CSecondTexts& At(int64_t secondsSince1970);

    CSecondTexts(const CSecondTexts&) = delete;
    CSecondTexts& operator=(const CSecondTexts&) = delete;

    int64_t Second() const { return second_; }
    // Date, Time and GMT: the leaves of a request's StartTime and EndTime, in that order.
    const std::string& Date() const { return date_; }
    const std::string& Time() const { return time_; }
    const std::string& Gmt() const { return gmt_; }
    // The three as visit(key, value), in the order of the leaves.
    template <typename Visit>
    void VisitStamp(Visit visit) const
    {
        visit(std::string_view("Date"), std::string_view(date_));
        visit(std::string_view("Time"), std::string_view(time_));
        visit(std::string_view("GMT"), std::string_view(gmt_));
    }
    // All twelve names of the value filter: Date, Time, GMT, Year ... Second.
    CConfigAccessor TimeNames() { return timeNames_; }
    // "[yyyy/mm/dd hh:mm:ss]" in local time: the system log's line prefix.
    const std::string& LogPrefix() const { return logPrefix_; }

    // Whether `text` mentions one of the twelve names (with or without its '%' signs).
    static bool MentionsTimeName(std::string_view text);

    // The expansion of `value` kept for the filter `owner` while the information tree
    // counted `infoWrites` writes; null when there is none. Valid until the next call that
    // keeps one or moves to another second.
    const std::string* FindExpansion(uint64_t owner, uint64_t infoWrites, std::string_view value) const;
    // Keeps `result` as that expansion, in place of the oldest; gives the kept text.
    const std::string& KeepExpansion(uint64_t owner, uint64_t infoWrites, std::string_view value,
                                     std::string result);

    // The time leaves of a moment, in local time (GMT as an HTTP date): Date, Time and GMT,
    // and with allNames the other nine.
    static void SetTimeLeaves(const CConfigAccessor& node, int64_t secondsSince1970, int allNames = 1);

private:
    CSecondTexts();
    // Makes every text for `second` and forgets the kept expansions: the one place the
    // texts change.
    void MoveTo(int64_t second);

    struct Expansion {
        uint64_t owner = 0;  // 0: empty
        uint64_t infoWrites = 0;
        std::string value;
        std::string result;
    };

    int64_t second_ = -1;
    CConfigClass tree_;
    std::string date_;
    std::string time_;
    std::string gmt_;
    CConfigAccessor timeNames_;
    std::string logPrefix_;
    std::array<Expansion, kKeptExpansions> expansions_;
    size_t nextVictim_ = 0;
};
