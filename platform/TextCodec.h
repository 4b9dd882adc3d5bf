#pragma once
// The one bridge between the system's CP932 (Windows Shift-JIS) texts and Unicode, used
// wherever text leaves the program: file names, the XML settings file, later the GUI.
// Every conversion is total: a byte or character that cannot be mapped (the single bytes
// 0x80, 0xA0 and 0xFD-0xFF, a lead byte without a valid trail byte, an unassigned cell,
// invalid UTF-8 or a lone surrogate) becomes a substitute, and the rest converts.

#include <string>

namespace platform {

// Substitutes: U+FFFD towards Unicode, '?' towards CP932 (which has no U+FFFD).
std::string Cp932ToUtf8(const std::string& cp932);
std::string Utf8ToCp932(const std::string& utf8);
// The same, telling whether a substitute had to be put in: a character CP932 cannot hold
// ("€") or bytes that are no UTF-8.
std::string Utf8ToCp932(const std::string& utf8, bool* substituted);

// No byte of the text is above 0x7F: it reads the same in CP932 and in UTF-8, and both
// conversions give it back unchanged.
bool IsAscii(const std::string& text);

// Whether `text` is well-formed UTF-8 (RFC 3629 section 4): every sequence whole, none
// overlong, no surrogate, nothing above U+10FFFF. An empty or ASCII text is.
bool IsWellFormedUtf8(const std::string& text);

// `utf8` with every character that JIS X 0208 reads from a CP932 code otherwise than CP932
// does written as CP932 reads it: U+301C WAVE DASH as U+FF5E FULLWIDTH TILDE, and likewise
// U+2014, U+2016, U+2212, U+00A2, U+00A3 and U+00AC. Utf8ToCp932 writes either spelling as
// the one code, and Cp932ToUtf8 reads it back in CP932's: a name a Linux or macOS input
// method typed converts to CP932 and back as this.
std::string Cp932Spelling(const std::string& utf8);

// Whether the UTF-8 text holds one of those characters in CP932's spelling (U+FF5E,
// U+2015, U+2225, U+FF0D, U+FFE0, U+FFE1, U+FFE2): what Cp932ToUtf8 gives for such a
// character, which a file on disk may spell the JIS way.
bool HoldsCp932OnlySpelling(const std::string& utf8);

std::u16string Cp932ToUtf16(const std::string& cp932);
// `substituted` (optional) as for Utf8ToCp932; a lone surrogate counts too.
std::string Utf16ToCp932(const std::u16string& utf16, bool* substituted = nullptr);

}  // namespace platform
