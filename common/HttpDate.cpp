#include "HttpDate.h"

#include "TextTrim.h"

#include "CRuntime.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

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
    // The calendar is worked out here rather than by gmtime_r, which takes the time zone's
    // lock, and written without snprintf: the server writes this for every file it sends.
    constexpr std::int64_t kSecondsPerDay = 86400;
    std::int64_t days = time / kSecondsPerDay;
    std::int64_t secondOfDay = time % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    // 1970-01-01 was a Thursday.
    const int weekday = static_cast<int>(((days % 7) + 11) % 7);
    // The proleptic Gregorian date of a day count, by 400-year eras (H. Hinnant's
    // civil_from_days).
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // As gmtime_r: a year whose distance from 1900 no int holds has no calendar date.
    if (year - 1900 > std::numeric_limits<int>::max() || year - 1900 < std::numeric_limits<int>::min())
        return "";

    char text[64];
    char* at = text;
    const auto put = [&at](const char* part, std::size_t length) {
        std::memcpy(at, part, length);
        at += length;
    };
    const auto two = [&at](int value) {
        *at++ = static_cast<char>('0' + value / 10);
        *at++ = static_cast<char>('0' + value % 10);
    };
    put(kDayNames[weekday], 3);
    put(", ", 2);
    two(day);
    *at++ = ' ';
    put(kMonthNames[month - 1], 3);
    *at++ = ' ';
    at = std::to_chars(at, text + sizeof text, year).ptr;
    *at++ = ' ';
    two(static_cast<int>(secondOfDay / 3600));
    *at++ = ':';
    two(static_cast<int>(secondOfDay / 60 % 60));
    *at++ = ':';
    two(static_cast<int>(secondOfDay % 60));
    put(" GMT", 4);
    return std::string(text, static_cast<std::size_t>(at - text));
}
