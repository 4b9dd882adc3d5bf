#include "JapaneseText.h"

#include "ByteBuffer.h"
#include "JisTables.h"

#include <climits>
#include <string>

namespace {

bool IsShiftJisLead(unsigned c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsShiftJisTrail(unsigned c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }
bool IsEucByte(unsigned c) { return c >= 0xA1 && c <= 0xFE; }
bool IsContinuation(unsigned c) { return (c & 0xC0) == 0x80; }
bool IsHalfWidthKatakana(unsigned c) { return c >= 0xA1 && c <= 0xDF; }
bool IsJisByte(unsigned c) { return c >= 0x21 && c <= 0x7E; }

bool IsBase64(unsigned c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

unsigned ByteAt(const char* bytes, size_t i) { return static_cast<unsigned char>(bytes[i]); }

// ESC $ @, ESC $ B (JIS C 6226 / X 0208) and ESC $ ( O, ESC $ ( P (JIS X 0213 planes).
bool IsJisEscape(const char* bytes, size_t j, size_t n)
{
    if (ByteAt(bytes, j) != 0x1B || j + 2 >= n || ByteAt(bytes, j + 1) != '$')
        return false;
    const unsigned third = ByteAt(bytes, j + 2);
    if (third == '@' || third == 'B')
        return true;
    if (third != '(' || j + 3 >= n)
        return false;
    const unsigned fourth = ByteAt(bytes, j + 3);
    return fourth == 'O' || fourth == 'P';
}

// Counts the units of a conversion and, when it has an output, stores those that fit.
template <typename Unit>
class Sink {
public:
    Sink(Unit* output, int capacity) : output_(output), capacity_(capacity < 0 ? 0 : capacity) {}

    void Put(unsigned unit)
    {
        if (output_ && count_ < capacity_)
            output_[count_] = static_cast<Unit>(unit);
        ++count_;
    }

    // Shift-JIS code as WriteShiftJisChar writes it.
    void PutShiftJis(uint16_t code)
    {
        if (code >= 0x100)
            Put(code >> 8);
        Put(code == 0 ? '?' : code & 0xFF);
    }

    int Finish()
    {
        if (count_ >= INT_MAX)
            return -1;
        if (!output_)
            return static_cast<int>(count_);
        if (count_ + 1 > capacity_)
            return -1;
        output_[count_] = 0;
        return static_cast<int>(count_);
    }

private:
    Unit* output_;
    long long capacity_;
    long long count_ = 0;
};

// Measures with `convert(nullptr, 0)`, then converts into room for the result and its
// terminator. False when either step fails.
template <typename Unit, typename Convert>
bool RunConversion(Convert convert, std::basic_string<Unit>& result)
{
    const int needed = convert(nullptr, 0);
    if (needed < 0)
        return false;
    result.assign(static_cast<size_t>(needed) + 1, Unit());
    if (convert(&result[0], needed + 1) < 0)
        return false;
    result.resize(needed);
    return true;
}

std::string Utf16UnitsToShiftJis(const char16_t* units, const std::string& fallback)
{
    std::string result;
    auto convert = [units](char* out, int capacity) { return ConvertUtf16ToShiftJis(out, units, capacity); };
    return RunConversion<char>(convert, result) ? result : fallback;
}

// UTF-8 of zero-terminated UTF-16; the result ends at its first zero byte.
std::string Utf16UnitsToUtf8(const char16_t* units)
{
    std::string result;
    auto convert = [units](char* out, int capacity) { return ConvertUtf16ToUtf8(out, units, capacity); };
    if (!RunConversion<char>(convert, result))
        return std::string();
    return result;
}

}  // namespace

int DetectCharset(const char* bytes, size_t n)
{
    if (n < 2)
        return kCharsetUndecided;

    bool hasZero = false;
    bool oddHigh = false;
    long long lineEnds = 0, iso = 0, utf8 = 0, sjis = 0, euc = 0;
    int utf8Skip = 0;
    bool sjisSkip = false;
    bool eucSkip = false;
    bool utf7Run = false;
    bool utf7Valid = true;

    for (size_t j = 0; j + 1 < n; ++j) {
        const unsigned b = ByteAt(bytes, j);
        const unsigned next = ByteAt(bytes, j + 1);
        const bool even = j % 2 == 0;

        if (b == 0) {
            if (even && next == 0)
                return kCharsetBinary;
            hasZero = true;
        }
        if (even && (b == 0x0D || b == 0x0A) && next == 0)
            ++lineEnds;
        if (!even && b >= 0xA0 && b <= 0xF7)
            oddHigh = true;
        if (hasZero)
            continue;

        if (utf7Valid) {
            if (!utf7Run)
                utf7Run = b == '+';
            else if (b == '-')
                utf7Run = false;
            else if (!IsBase64(b) && b < 0x80)
                utf7Valid = false;
        }

        if (IsJisEscape(bytes, j, n)) {
            ++iso;
            continue;
        }

        if (utf8Skip > 0) {
            --utf8Skip;
            continue;
        }
        // Only three-byte sequences count: they carry all of kana and kanji.
        if (b >= 0xC0 && j + 2 < n && IsContinuation(next) && IsContinuation(ByteAt(bytes, j + 2))) {
            ++utf8;
            utf8Skip = 2;
            continue;
        }

        if (sjisSkip) {
            sjisSkip = false;
            continue;
        }
        if (IsShiftJisLead(b) && IsShiftJisTrail(next)) {
            ++sjis;
            sjisSkip = true;
            continue;
        }

        if (eucSkip) {
            eucSkip = false;
        } else if (IsEucByte(b) && IsEucByte(next)) {
            ++euc;
            eucSkip = true;
        }
    }

    if (lineEnds > 0 && !oddHigh)
        return kCharsetUtf16Le;
    if (hasZero)
        return kCharsetBinary;
    if (iso > 0)
        return kCharsetIso2022Jp;
    if (utf8 > sjis && utf8 > euc)
        return kCharsetUtf8;
    if (sjis > euc && sjis > utf8)
        return kCharsetShiftJis;
    if (euc > sjis && euc > utf8)
        return kCharsetEucJp;
    if (lineEnds || iso || utf8 || sjis || euc)
        return kCharsetUndecided;
    return utf7Valid ? kCharsetAscii : kCharsetInvalidUtf7;
}

std::string ConvertToShiftJis(const std::string& text)
{
    return ConvertToShiftJis(text, DetectCharset(text.data(), text.size()));
}

std::string ConvertToShiftJis(const std::string& text, int charset)
{
    switch (charset) {
    case kCharsetEucJp: {
        std::string result;
        auto convert = [&text](char* out, int capacity) {
            return ConvertEucJpToShiftJis(out, text.c_str(), capacity);
        };
        return RunConversion<char>(convert, result) ? result : text;
    }
    case kCharsetUtf16Le: {
        std::u16string units(text.size() / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(ByteAt(text.data(), 2 * i) | ByteAt(text.data(), 2 * i + 1) << 8);
        return Utf16UnitsToShiftJis(units.c_str(), text);
    }
    case kCharsetUtf8:
        return Utf8ToShiftJis(text);
    default:
        return text;
    }
}

std::string Utf8ToShiftJis(const std::string& text)
{
    std::u16string units;
    auto convert = [&text](char16_t* out, int capacity) { return ConvertUtf8ToUtf16(out, text.c_str(), capacity); };
    if (!RunConversion<char16_t>(convert, units))
        return text;
    return Utf16UnitsToShiftJis(units.c_str(), text);
}

std::string ShiftJisToUtf8(const std::string& text)
{
    std::u16string units;
    auto convert = [&text](char16_t* out, int capacity) {
        return ConvertShiftJisToUtf16(out, text.c_str(), capacity);
    };
    if (!RunConversion<char16_t>(convert, units))
        return std::string();
    // An unmappable byte was stored as a zero unit: the text ends there.
    return Utf16UnitsToUtf8(units.c_str());
}

std::string Utf16ToUtf8(const CByteBuffer& buffer)
{
    const char* data = buffer.GetData();
    std::u16string units(static_cast<size_t>(buffer.GetLength()) / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(ByteAt(data, 2 * i) | ByteAt(data, 2 * i + 1) << 8);
    return Utf16UnitsToUtf8(units.c_str());
}

int ConvertShiftJisToUtf16(char16_t* output, const char* input, int capacity)
{
    Sink<char16_t> sink(output, capacity);
    for (const char* p = input;;) {
        const DecodedChar c = ReadShiftJisChar(p);
        if (c.length == 0)
            break;
        sink.Put(ShiftJisCodeToUnicode(c.code));
        p += c.length;
    }
    return sink.Finish();
}

int ConvertUtf16ToShiftJis(char* output, const char16_t* input, int capacity)
{
    Sink<char> sink(output, capacity);
    for (const char16_t* p = input; *p; ++p)
        sink.PutShiftJis(UnicodeToShiftJisCode(*p));
    return sink.Finish();
}

int ConvertEucJpToShiftJis(char* output, const char* input, int capacity)
{
    Sink<char> sink(output, capacity);
    const char* p = input;
    while (const unsigned b = ByteAt(p, 0)) {
        if (b == 0x8E) {
            const unsigned kana = ByteAt(p, 1);
            if (kana == 0)
                break;
            sink.Put(IsHalfWidthKatakana(kana | 0x80) ? kana | 0x80 : '?');
            p += 2;
        } else if (b == 0x8F) {
            const unsigned row = ByteAt(p, 1);
            if (row == 0 || ByteAt(p, 2) == 0)
                break;
            const unsigned cell = ByteAt(p, 2);
            uint16_t code = 0;
            if (IsEucByte(row) && IsEucByte(cell)) {
                if (row >= 0xB1 && row <= 0xED)
                    code = kJisX0212ToShiftJis[(row & 0x7F) - 0x31][(cell & 0x7F) - 0x21];
                else
                    code = JisToShiftJis(static_cast<uint16_t>((row & 0x7F) << 8 | (cell & 0x7F)), 2);
            }
            sink.PutShiftJis(code);
            p += 3;
        } else if (b >= 0xA1) {
            const unsigned cell = ByteAt(p, 1);
            if (cell == 0)
                break;
            uint16_t code = 0;
            if (IsEucByte(b) && IsEucByte(cell))
                code = JisToShiftJis(static_cast<uint16_t>((b & 0x7F) << 8 | (cell & 0x7F)), 1);
            sink.PutShiftJis(code);
            p += 2;
        } else {
            sink.Put(b);
            ++p;
        }
    }
    return sink.Finish();
}

int ConvertUtf8ToUtf16(char16_t* output, const char* input, int capacity)
{
    Sink<char16_t> sink(output, capacity);
    for (const char* p = input;;) {
        const DecodedChar c = DecodeUtf8Char(p);
        if (c.length == 0)
            break;
        sink.Put(c.code == 0xFFFF ? '?' : c.code);
        p += c.length;
    }
    return sink.Finish();
}

int ConvertUtf16ToUtf8(char* output, const char16_t* input, int capacity)
{
    Sink<char> sink(output, capacity);
    for (const char16_t* p = input; *p; ++p) {
        char bytes[3];
        const int n = EncodeUtf8Char(bytes, *p);
        for (int i = 0; i < n; ++i)
            sink.Put(static_cast<unsigned char>(bytes[i]));
    }
    return sink.Finish();
}

DecodedChar ReadShiftJisChar(const char* bytes)
{
    const unsigned b = ByteAt(bytes, 0);
    if (b == 0)
        return {0, 0};
    if (IsHalfWidthKatakana(b)) {
        const unsigned mark = ByteAt(bytes, 1);
        const uint16_t voiced = mark == 0xDE   ? kHalfWidthVoiced[b - 0xA1]
                                : mark == 0xDF ? kHalfWidthSemiVoiced[b - 0xA1]
                                               : 0;
        if (voiced)
            return {voiced, 2};
        return {kHalfWidthPlain[b - 0xA1], 1};
    }
    if (IsShiftJisLead(b)) {
        const unsigned trail = ByteAt(bytes, 1);
        if (trail == 0)
            return {0, 0};
        return {static_cast<uint16_t>(b << 8 | trail), 2};
    }
    return {static_cast<uint16_t>(b), 1};
}

uint16_t ShiftJisCodeToUnicode(uint16_t code)
{
    if (code < 0x80)
        return code;
    if (IsHalfWidthKatakana(code))
        return static_cast<uint16_t>(0xFF61 + (code - 0xA1));
    const unsigned lead = code >> 8;
    const unsigned trail = code & 0xFF;
    if (!IsShiftJisLead(lead) || !IsShiftJisTrail(trail))
        return 0;
    const unsigned row = lead <= 0x9F ? lead - 0x81 : lead - 0xC1;
    const unsigned cell = trail <= 0x7E ? trail - 0x40 : trail - 0x41;
    const uint16_t unit = kShiftJisToUnicode[row][cell];
    return unit ? unit : 0x3013;  // GETA MARK: the conventional sign for an unassigned cell
}

uint16_t UnicodeToShiftJisCode(uint16_t unit)
{
    const uint16_t* page = kUnicodeToShiftJis[unit >> 8];
    return page ? page[unit & 0xFF] : 0;
}

uint16_t JisToShiftJis(uint16_t code, int plane)
{
    unsigned row = code >> 8;
    const unsigned cell = code & 0xFF;
    if (!IsJisByte(row) || !IsJisByte(cell))
        return 0;
    if (plane == 2) {
        // Shift_JISX0213 places the 26 rows of plane 2 after the 94 of plane 1.
        if (row == 0x21 || (row >= 0x23 && row <= 0x25))
            row += 94;
        else if (row == 0x28 || (row >= 0x2C && row <= 0x2F))
            row += 88;
        else if (row >= 0x6E && row <= 0x7E)
            row += 26;
        else
            return 0;
    } else if (plane != 1) {
        return 0;
    }
    unsigned trail = row % 2 ? cell + 0x1F : cell + 0x7D;
    if (trail >= 0x7F)
        ++trail;
    const unsigned lead = (row - 0x21) / 2 + (row < 0x5F ? 0x81 : 0xC1);
    return static_cast<uint16_t>(lead << 8 | trail);
}

DecodedChar DecodeUtf8Char(const char* bytes)
{
    const unsigned b0 = ByteAt(bytes, 0);
    if (b0 == 0)
        return {0, 0};
    const int length = b0 >= 0xFC ? 6 : b0 >= 0xF8 ? 5 : b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 1;
    if (length == 1)
        return {static_cast<uint16_t>(b0), 1};
    for (int i = 1; i < length; ++i) {
        const unsigned b = ByteAt(bytes, i);
        if (b == 0)
            return {0, 0};
        // The bad byte starts the next character: a sequence never swallows an ASCII byte.
        if (!IsContinuation(b))
            return {0xFFFF, i};
    }
    if (length > 3)
        return {0xFFFF, length};
    unsigned code;
    unsigned minimum;
    if (length == 3) {
        code = (b0 & 0x0F) << 12 | (ByteAt(bytes, 1) & 0x3F) << 6 | (ByteAt(bytes, 2) & 0x3F);
        minimum = 0x800;
    } else {
        code = (b0 & 0x1F) << 6 | (ByteAt(bytes, 1) & 0x3F);
        minimum = 0x80;
    }
    // Overlong forms (C0 AE is "."): RFC 3629 section 3 forbids decoding them.
    if (code < minimum)
        return {0xFFFF, length};
    return {static_cast<uint16_t>(code), length};
}

int EncodeUtf8Char(char* output, uint16_t unit)
{
    const int length = unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    if (!output)
        return length;
    if (length == 1) {
        output[0] = static_cast<char>(unit);
    } else if (length == 2) {
        output[0] = static_cast<char>(0xC0 | unit >> 6);
        output[1] = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        output[0] = static_cast<char>(0xE0 | unit >> 12);
        output[1] = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
        output[2] = static_cast<char>(0x80 | (unit & 0x3F));
    }
    return length;
}

int WriteShiftJisChar(char* output, uint16_t code)
{
    if (code >= 0x100) {
        output[0] = static_cast<char>(code >> 8);
        output[1] = static_cast<char>(code & 0xFF);
        return 2;
    }
    output[0] = code ? static_cast<char>(code) : '?';
    return 1;
}
