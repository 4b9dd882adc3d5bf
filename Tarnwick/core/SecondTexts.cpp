#include "core/SecondTexts.h"

#include "HttpDate.h"

#include <ctime>
#include <utility>

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

std::tm LocalTime(int64_t secondsSince1970)
{
    const std::time_t moment = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

}  // namespace

CSecondTexts::CSecondTexts() : timeNames_(tree_.GetAccessor("Now")) {}

CSecondTexts& CSecondTexts::Now() { return At(static_cast<int64_t>(std::time(nullptr))); }

CSecondTexts& CSecondTexts::At(int64_t secondsSince1970)
{
    thread_local CSecondTexts texts;
    if (texts.second_ != secondsSince1970)
        texts.MoveTo(secondsSince1970);
    return texts;
}

void CSecondTexts::MoveTo(int64_t second)
{
    second_ = -1;  // until every text is whole
    timeNames_.Clear();
    SetTimeLeaves(timeNames_, second);
    date_ = timeNames_.GetString("Date", "");
    time_ = timeNames_.GetString("Time", "");
    gmt_ = timeNames_.GetString("GMT", "");
    logPrefix_ = Format("[%Y/%m/%d %H:%M:%S]", LocalTime(second));
    for (Expansion& expansion : expansions_)
        expansion.owner = 0;
    second_ = second;
}

bool CSecondTexts::MentionsTimeName(std::string_view text)
{
    for (const char* name : kTimeNames) {
        if (text.find(name) != std::string_view::npos)
            return true;
    }
    return false;
}

const std::string* CSecondTexts::FindExpansion(uint64_t owner, uint64_t infoWrites, std::string_view value) const
{
    for (const Expansion& expansion : expansions_) {
        if (expansion.owner == owner && expansion.infoWrites == infoWrites && expansion.value == value)
            return &expansion.result;
    }
    return nullptr;
}

const std::string& CSecondTexts::KeepExpansion(uint64_t owner, uint64_t infoWrites, std::string_view value,
                                               std::string result)
{
    Expansion& expansion = expansions_[nextVictim_];
    nextVictim_ = (nextVictim_ + 1) % expansions_.size();
    expansion.owner = 0;  // until the new expansion is whole
    expansion.infoWrites = infoWrites;
    expansion.value.assign(value.data(), value.size());
    expansion.result = std::move(result);
    expansion.owner = owner;
    return expansion.result;
}

void CSecondTexts::SetTimeLeaves(const CConfigAccessor& node, int64_t secondsSince1970, int allNames)
{
    const std::tm local = LocalTime(secondsSince1970);
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
