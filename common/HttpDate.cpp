#include "HttpDate.h"

#include "TextTrim.h"

#include "CRuntime.h"

#include <cstdio>
#include <ctime>

const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Index of the first ',' below which no date form fits.
constexpr std::string::size_type kShortestDayName = 3;

// Walks a date by fixed positions: a field is read where the walk stands, without moving;
// Skip moves on. A field that does not fit in the text spoils the whole date.
class FieldWalk {
public:
    explicit FieldWalk(const std::string& text) : text_(text) {}

    void Skip(std::string::size_type count) { pos_ += count; }

    int Number(std::string::size_type width) { return Fits(width) ? platform::Atoi(text_.substr(pos_, width)) : 0; }

    int Month() { return Fits(3) ? GetMonthNumber(text_.substr(pos_, 3)) : 1; }

    bool Complete() const { return complete_; }

private:
    bool Fits(std::string::size_type width)
    {
        if (pos_ > text_.size() || text_.size() - pos_ < width)
            complete_ = false;
        return complete_;
    }

    const std::string& text_;
    std::string::size_type pos_ = 0;
    bool complete_ = true;
};

struct DateFields {
    int year = 0, month = 1, day = 0, hour = 0, minute = 0, second = 0;
};

std::tm ToTm(const DateFields& f)
{
    std::tm tm{};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    tm.tm_isdst = -1;
    return tm;
}

}  // namespace

int GetMonthNumber(const std::string& name)
{
    for (int i = 0; i < 12; ++i) {
        if (platform::_mbsicmp(name, kMonthNames[i]) == 0)
            return i + 1;
    }
    return 1;
}

std::int64_t ParseHttpDate(std::string text)
{
    text = platform::_mbslwr(TrimText(text));
    const std::string::size_type comma = text.find(',');
    if (comma != std::string::npos && comma < kShortestDayName)
        return 0;

    FieldWalk walk(text);
    DateFields f;
    bool imfFixdate = false;
    if (comma == std::string::npos) {
        // asctime: "sun nov  6 08:49:37 1994"
        walk.Skip(4);
        f.month = walk.Month();
        walk.Skip(4);
        f.day = walk.Number(2);
        walk.Skip(3);
        f.hour = walk.Number(2);
        walk.Skip(3);
        f.minute = walk.Number(2);
        walk.Skip(3);
        f.second = walk.Number(2);
        walk.Skip(3);
        f.year = walk.Number(4);
    } else {
        // IMF-fixdate "sun, 06 nov 1994 08:49:37 gmt" or RFC 850 "sunday, 06-nov-94 08:49:37 gmt"
        imfFixdate = comma == kShortestDayName;
        walk.Skip(comma + 2);
        f.day = walk.Number(2);
        walk.Skip(3);
        f.month = walk.Month();
        walk.Skip(4);
        if (imfFixdate) {
            f.year = walk.Number(4);
            walk.Skip(5);
        } else {
            f.year = walk.Number(2) + 2000;
            walk.Skip(3);
        }
        f.hour = walk.Number(2);
        walk.Skip(3);
        f.minute = walk.Number(2);
        walk.Skip(3);
        f.second = walk.Number(2);
    }
    if (!walk.Complete())
        return 0;

    if (imfFixdate && f.year == 1970) {
        // A date in 1970 can come out as 0, which reads as "no date"; it maps to a fixed
        // early time instead.
        DateFields fixed;
        fixed.year = 1980;
        fixed.day = fixed.hour = fixed.minute = fixed.second = 1;
        std::tm tm = ToTm(fixed);
        return static_cast<std::int64_t>(std::mktime(&tm));
    }
    std::tm tm = ToTm(f);
    return static_cast<std::int64_t>(timegm(&tm));
}

std::string FormatHttpDate(std::int64_t time)
{
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (static_cast<std::int64_t>(t) != time || gmtime_r(&t, &tm) == nullptr)
        return "";
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, "%s, %02d %s %lld %02d:%02d:%02d GMT",
                                kDayNames[tm.tm_wday], tm.tm_mday, kMonthNames[tm.tm_mon],
                                tm.tm_year + 1900LL, tm.tm_hour, tm.tm_min, tm.tm_sec);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return "";
    return buffer;
}
