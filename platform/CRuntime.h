#pragma once
// The C runtime's multibyte string functions and atoi, as the server uses them, under
// code page 932 (Shift-JIS). A trail byte of a double-byte character is never read as a
// backslash or a letter: 0x5C and 0x41-0x7A are valid trail bytes.

#include <string>
#include <string_view>

namespace platform {

// Lead bytes of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Length in bytes of the character starting at s[i]: 2 for a lead byte followed by any
// byte, else 1 (a lead byte at the end stands alone).
std::string::size_type CharLength(const std::string& s, std::string::size_type i);

// Byte-wise comparison; <0, 0, >0 like strcmp.
int _mbscmp(const std::string& a, const std::string& b);

// The same with ASCII A-Z folded to lower case outside double-byte characters.
int _mbsicmp(const std::string& a, const std::string& b);
// _mbsicmp(a, b) == 0, without copying either text.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// First position at a character boundary of haystack where needle starts; npos when
// none. An empty needle is found at 0.
std::string::size_type _mbsstr(const std::string& haystack, const std::string& needle,
                               std::string::size_type from = 0);

// Copy with ASCII A-Z lowered outside double-byte characters.
std::string _mbslwr(std::string s);

// Last position of the single-byte character c outside double-byte characters; npos when
// none.
std::string::size_type _mbsrchr(const std::string& s, unsigned char c);

// atoi: leading white space, optional sign, decimal digits; 0 without digits. Out-of-range
// values clamp to INT_MIN or INT_MAX instead of wrapping.
int Atoi(std::string_view text);

}  // namespace platform
