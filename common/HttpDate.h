#pragma once
// HTTP dates (RFC 9110 5.6.7, formerly RFC 2616 3.3.1) to and from time values: 64-bit
// signed seconds since 1970-01-01 00:00:00 UTC. No function here throws.

#include <cstdint>
#include <string>

// "Jan" to "Dec".
extern const char* const kMonthNames[12];

// Reads an IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"), an RFC 850 date ("Sunday,
// 06-Nov-94 08:49:37 GMT") or an asctime date ("Sun Nov  6 08:49:37 1994") by the fixed
// positions of its fields, ignoring case and surrounding white space. Every date counts
// as GMT; an RFC 850 year yy is 20yy. The contents of the fields are not checked: an
// unknown month is January, a field without digits 0. Text too short to hold every field,
// or a first ',' at index 0 to 2, gives 0 (no date). An IMF-fixdate in the year 1970 gives
// the local time 1980-01-01 01:01:01 instead.
std::int64_t ParseHttpDate(std::string text);

// "Sun, 06 Nov 1994 08:49:37 GMT" for the time in UTC, with English names whatever the
// locale; "" when the time has no calendar date.
std::string FormatHttpDate(std::int64_t time);

// 1-12 for a month name of kMonthNames, compared without regard to case; 1 for any
// other text.
int GetMonthNumber(const std::string& name);
