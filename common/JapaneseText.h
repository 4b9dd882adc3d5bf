#pragma once
// Table-driven conversions between the encodings in which Japanese text reaches the server
// (UTF-8, EUC-JP, UTF-16LE) and its internal Shift-JIS, and from Shift-JIS to UTF-8 for
// WebDAV answers. Nothing here reports an error: an unmappable character becomes '?' in
// Shift-JIS output and U+3013 (unassigned cell) or U+30FB (a character a 16-bit unit cannot
// hold) in UTF-16 output; a text that cannot be classified or measured is returned as it was.
//
// Readers of zero-terminated input never look past the terminator: a multi-byte sequence
// cut off by it ends the text.

#include <cstddef>
#include <cstdint>
#include <string>

class CByteBuffer;

// Results of DetectCharset.
enum CharsetCode : int {
    kCharsetInvalidUtf7 = 0,     // 7-bit, but a '+' run held a byte UTF-7 does not allow
    kCharsetIso2022Jp = 0x100,   // JIS escape sequences seen
    kCharsetShiftJis = 0x200,
    kCharsetEucJp = 0x400,
    kCharsetUtf16Le = 0x800,     // line ends followed by a zero byte
    kCharsetUtf8 = 0x801,
    kCharsetAscii = 0x802,       // plain ASCII or valid UTF-7
    kCharsetUndecided = 0x1000,  // no clear winner, or fewer than 2 bytes
    kCharsetBinary = 0x2000,     // zero bytes, not recognised as UTF-16
};

// Classifies `length` bytes by counting the multi-byte patterns of each encoding.
int DetectCharset(const char* bytes, size_t length);

// The text in Shift-JIS when it is classified as EUC-JP, UTF-16LE or UTF-8; otherwise (and
// when a conversion cannot be measured) the text unchanged.
std::string ConvertToShiftJis(const std::string& text);
// The same for a text whose DetectCharset result is `charset`.
std::string ConvertToShiftJis(const std::string& text, int charset);

// `text` read as UTF-8, in Shift-JIS: what ConvertToShiftJis gives for a text it classifies
// as UTF-8, '?' standing for each character Shift-JIS lacks; the text unchanged when the
// conversion cannot be measured. Reading stops at the first zero byte.
std::string Utf8ToShiftJis(const std::string& text);

// UTF-8 of Shift-JIS text (up to its first zero byte). Half-width katakana become full-width;
// a byte that maps to nothing (0x80, 0xA0, 0xFD-0xFF, a lead byte with an invalid trail) ends
// the result there.
std::string ShiftJisToUtf8(const std::string& text);

// UTF-8 of the UTF-16LE units in `buffer`, up to the first zero unit or the buffer's end.
std::string Utf16ToUtf8(const CByteBuffer& buffer);

// The five conversions share one contract. Input is zero-terminated (a zero unit for UTF-16).
// With output == nullptr they return the number of output units (bytes for Shift-JIS and
// UTF-8, 16-bit units for UTF-16) the whole input needs, without the terminator, and ignore
// `capacity`. With an output of `capacity` units they convert, write a terminating zero and
// return the count, or return -1 (output contents unspecified) when the result and its
// terminator do not fit. They also return -1 when the count would not fit in an int.
int ConvertShiftJisToUtf16(char16_t* output, const char* input, int capacity);
int ConvertUtf16ToShiftJis(char* output, const char16_t* input, int capacity);
int ConvertEucJpToShiftJis(char* output, const char* input, int capacity);
int ConvertUtf8ToUtf16(char16_t* output, const char* input, int capacity);
int ConvertUtf16ToUtf8(char* output, const char16_t* input, int capacity);

// One character read from zero-terminated text: its code and how many bytes it took.
// length 0 means the text ended (at the terminator, or a lead byte just before it).
struct DecodedChar {
    uint16_t code;
    int length;
};

// A Shift-JIS character: two-byte codes as lead << 8 | trail; a half-width katakana byte as
// its full-width code, taking a following voiced or semi-voiced mark with it when the pair
// has a full-width form.
DecodedChar ReadShiftJisChar(const char* bytes);

// UTF-16 of a Shift-JIS code: ASCII as is, 0xA1-0xDF as U+FF61-U+FF9F, a two-byte code
// through the table (U+3013 for an unassigned cell); 0 for anything else.
uint16_t ShiftJisCodeToUnicode(uint16_t code);

// Shift-JIS code of a UTF-16 unit; 0 when it has none. A character of the system code page
// (either spelling of 〜 and its kin included) gets the code in which file names write it
// (platform::Utf8ToCp932), so that a URL names a file by the code of its name. No other
// unit gets a code that the code page reads as a character, the micro sign (the Greek mu's)
// aside: such a name is refused rather than taken for another file's.
uint16_t UnicodeToShiftJisCode(uint16_t unit);

// Shift-JIS code of the JIS code row << 8 | cell (both 0x21-0x7E) in plane 1 or 2 of
// JIS X 0213; 0 when the plane, row or cell has no mapping.
uint16_t JisToShiftJis(uint16_t code, int plane);

// One UTF-8 sequence. Sequences of 4-6 bytes, overlong forms and sequences with a byte that
// is not a continuation byte give 0xFFFF; the latter take only the bytes before the bad one,
// so an invalid sequence never swallows or produces an ASCII character.
DecodedChar DecodeUtf8Char(const char* bytes);

// Writes the UTF-8 form (1-3 bytes) of one 16-bit unit, surrogate halves included, and
// returns its length; with output == nullptr only returns the length.
int EncodeUtf8Char(char* output, uint16_t unit);

// Writes a code >= 0x100 as two bytes (high first), any other non-zero code as one byte and
// 0 as '?'; returns the number of bytes written.
int WriteShiftJisChar(char* output, uint16_t code);
