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
