#include "core/ServerVariables.h"

#include "HttpDate.h"

#include <array>
#include <atomic>
#include <ctime>

namespace {

const char* const kTimeNames[] = {"Date",      "Time",       "GMT",         "Year",
                                  "Month",     "Day",        "DayOfWeek",   "MonthString",
                                  "DayOfWeekString", "Hour", "Minute",      "Second"};

std::string Format(const char* format, const std::tm& local)
{
    char text[64];
    const size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

uint64_t NextFilterId()
{
    static std::atomic<uint64_t> next{0};
    return ++next;
}

}  // namespace

CServerVariables::CServerVariables(const CConfigAccessor& serverInfo) : serverInfo_(serverInfo), id_(NextFilterId()) {}

void CServerVariables::SetTimeLeaves(const CConfigAccessor& node, int64_t secondsSince1970, int allNames)
{
    const std::time_t now = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    localtime_r(&now, &local);
    node.SetString("Date", Format("%Y/%m/%d", local));
    node.SetString("Time", Format("%H:%M:%S", local));
    node.SetString("GMT", FormatHttpDate(secondsSince1970));
    if (!allNames)
        return;
    node.SetString("Year", Format("%Y", local));
    node.SetString("Month", Format("%m", local));
    node.SetString("Day", Format("%d", local));
    node.SetString("DayOfWeek", Format("%w", local));
    node.SetString("MonthString", Format("%b", local));
    node.SetString("DayOfWeekString", Format("%a", local));
    node.SetString("Hour", Format("%H", local));
    node.SetString("Minute", Format("%M", local));
    node.SetString("Second", Format("%S", local));
}

std::string CServerVariables::Filter(std::string_view, std::string_view value)
{
    // Most settings are plain numbers and names: they need neither the clock nor the
    // information tree's lock.
    if (value.find('%') == std::string_view::npos)
        return std::string(value);
    // A request reads a few values with placeholders (on a default root the document
    // path and the log line's format): their expansions are kept for the rest of the
    // second, while the information tree stays as it was.
    struct Expansion {
        uint64_t owner = 0;
        std::string value;
        int64_t second = -1;
        uint64_t infoWrites = 0;
        std::string result;
    };
    thread_local std::array<Expansion, kKeptExpansions> kept;
    thread_local size_t nextVictim = 0;
    const int64_t second = static_cast<int64_t>(std::time(nullptr));
    const uint64_t infoWrites = serverInfo_.GetTree()->GetWriteCount();
    for (const Expansion& slot : kept) {
        if (slot.owner == id_ && slot.second == second && slot.infoWrites == infoWrites && slot.value == value)
            return slot.result;
    }
    Expansion& slot = kept[nextVictim];
    nextVictim = (nextVictim + 1) % kept.size();
    slot.owner = 0;  // until the new expansion is whole
    slot.result = Expand(value, second);
    slot.value.assign(value.data(), value.size());
    slot.second = second;
    slot.infoWrites = infoWrites;
    slot.owner = id_;
    return slot.result;
}

std::string CServerVariables::Expand(std::string_view value, int64_t second)
{
    std::string result(value);
    for (const char* name : kTimeNames) {
        if (result.find(name) == std::string::npos)
            continue;
        // A tree of the calling thread's: readers on other threads filter at the same
        // time. Its leaves change once a second, so the reads within one second share them.
        struct TimeLeaves {
            CConfigClass tree;
            int64_t second = -1;
        };
        thread_local TimeLeaves leaves;
        const CConfigAccessor now = leaves.tree.GetAccessor("Now");
        if (second != leaves.second) {
            SetTimeLeaves(now, second);
            leaves.second = second;
        }
        result = now.ExpandVariables(result, "");
        break;
    }
    return serverInfo_.ExpandVariables(result, "");
}
