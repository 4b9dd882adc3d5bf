#pragma once
// Code tables of the Japanese text conversions (JapaneseText.h), generated from JIS X 0213:2000
// and the system code page by scripts/gen-jis-tables. Read-only; 0 in a cell means "no mapping".

#include <cstdint>

// Shift_JISX0213 two-byte codes to UTF-16. Row: lead - 0x81 (leads 0x81-0x9F) or lead - 0xC1
// (0xE0-0xFC); cell: trail - 0x40 (trails 0x40-0x7E) or trail - 0x41 (0x80-0xFC). A cell whose
// character is a combining sequence, lies outside the BMP or is one of 164 listed BMP code
// points (see the generator) holds U+30FB; an unassigned cell holds 0. Ten cells of rows 1-2
// read as the system code page reads them.
extern const uint16_t kShiftJisToUnicode[60][188];

// UTF-16 to Shift-JIS codes by page (high byte) and low byte; nullptr for a page without any
// mapping. Codes below 0x100 are single bytes (ASCII, 0x80, 0xA0-0xDF, 0xFD-0xFF). A character
// of the system code page has the code in which file names write it (NEC row 13 and the IBM
// extensions included); a JIS X 0213 character whose code the code page reads as another
// character has none.
extern const uint16_t* const kUnicodeToShiftJis[256];

// Half-width katakana 0xA1-0xDF (index byte - 0xA1) to full-width two-byte codes: alone,
// followed by the voiced mark 0xDE, and followed by the semi-voiced mark 0xDF.
extern const uint16_t kHalfWidthPlain[63];
extern const uint16_t kHalfWidthVoiced[63];
extern const uint16_t kHalfWidthSemiVoiced[63];

// JIS X 0212 kanji rows 0x31-0x6D (index row - 0x31, cell - 0x21) to the Shift_JISX0213 code
// of the same character.
extern const uint16_t kJisX0212ToShiftJis[61][94];
