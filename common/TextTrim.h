#pragma once
// Cutting white space off both ends of a CP932 text. Every byte trimmed is ASCII white
// space, and none of those is ever the trail byte of a double-byte character, so working
// byte by byte is safe.

#include <string>
#include <string_view>

// White space as isspace() knows it in the C locale.
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// The text without the bytes of `blanks` at its start and end.
std::string TrimText(std::string_view text, std::string_view blanks = kWhiteSpace);

// RFC 9110 5.6.3: optional white space around a field value is SP or HTAB only.
constexpr std::string_view kOws = " \t";

// A field value as RFC 9110 5.5 defines it: without the optional white space at its ends.
std::string TrimOws(std::string_view text);
