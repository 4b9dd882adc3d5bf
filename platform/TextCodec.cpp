#include "TextCodec.h"

#include "CRuntime.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace platform {

namespace {

// One descriptor per direction and thread: iconv_t is not thread-safe, and opening one
// per call costs more than most conversions.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in` into `out`; stops at the first byte it cannot convert. Returns the
    // number of input bytes consumed; `out` receives what was converted.
    size_t Run(const char* in, size_t inLeft, std::string& out)
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const size_t start = inLeft;
        char* inPtr = const_cast<char*>(in);
        char buffer[4096];
        for (;;) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, outPtr - buffer);
            if (rc != static_cast<size_t>(-1) || errno != E2BIG)
                break;
        }
        return start - inLeft;
    }

private:
    iconv_t cd_;
};

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// Length of the UTF-8 sequence at s[i] when it is well formed (shortest form, no
// surrogates, at most U+10FFFF), else 0.
size_t Utf8SequenceLength(const std::string& s, size_t i)
{
    const unsigned char c = s[i];
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + len > s.size()) return 0;
    const unsigned char second = s[i + 1];
    if (second < lo || second > hi) return 0;
    for (size_t k = 2; k < len; ++k) {
        const unsigned char cc = s[i + k];
        if (cc < 0x80 || cc > 0xBF) return 0;
    }
    return len;
}

const char kUtf8Replacement[] = "\xEF\xBF\xBD";

// The length of the leading run of bytes below 0x80. Both codecs map each of them to
// itself (0x5C and 0x7E included, as iconv's CP932 does), and none is a CP932 lead byte
// or part of a UTF-8 sequence, so such a run needs no converter. Eight bytes are tested
// at a time: file names and paths are mostly ASCII.
size_t AsciiPrefixLength(const std::string& text)
{
    constexpr uint64_t kHighBits = 0x8080808080808080u;
    const char* data = text.data();
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= text.size(); i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        if (word & kHighBits)
            break;
    }
    while (i < text.size() && static_cast<unsigned char>(data[i]) < 0x80)
        ++i;
    return i;
}

// The codes that JIS X 0208 reads as other characters than CP932 does, each in both
// spellings; iconv's CP932 writes both as the code. 0x815F (U+FF3C, JIS U+005C) is not
// among them: its JIS spelling is the ASCII backslash, which must stay one.
struct TwoSpellings {
    const char* cp932;  // as Cp932ToUtf8 gives it
    const char* jis;
};
const TwoSpellings kTwoSpellings[] = {
    {u8"\u2015", u8"\u2014"},  // 0x815C HORIZONTAL BAR, EM DASH
    {u8"\uFF5E", u8"\u301C"},  // 0x8160 FULLWIDTH TILDE, WAVE DASH
    {u8"\u2225", u8"\u2016"},  // 0x8161 PARALLEL TO, DOUBLE VERTICAL LINE
    {u8"\uFF0D", u8"\u2212"},  // 0x817C FULLWIDTH HYPHEN-MINUS, MINUS SIGN
    {u8"\uFFE0", u8"\u00A2"},  // 0x8191 FULLWIDTH CENT SIGN, CENT SIGN
    {u8"\uFFE1", u8"\u00A3"},  // 0x8192 FULLWIDTH POUND SIGN, POUND SIGN
    {u8"\uFFE2", u8"\u00AC"},  // 0x81CA FULLWIDTH NOT SIGN, NOT SIGN
};

bool StartsWithAt(const std::string& text, size_t i, const char* piece)
{
    return text.compare(i, std::strlen(piece), piece) == 0;
}

}  // namespace

std::string Cp932Spelling(const std::string& utf8)
{
    size_t i = AsciiPrefixLength(utf8);
    if (i == utf8.size())
        return utf8;
    std::string out(utf8, 0, i);
    while (i < utf8.size()) {
        const TwoSpellings* found = nullptr;
        for (const TwoSpellings& pair : kTwoSpellings)
            if (StartsWithAt(utf8, i, pair.jis))
                found = &pair;
        if (found) {
            out += found->cp932;
            i += std::strlen(found->jis);
        } else {
            out += utf8[i++];
        }
    }
    return out;
}

bool HoldsCp932OnlySpelling(const std::string& utf8)
{
    for (size_t i = AsciiPrefixLength(utf8); i < utf8.size(); ++i)
        for (const TwoSpellings& pair : kTwoSpellings)
            if (StartsWithAt(utf8, i, pair.cp932))
                return true;
    return false;
}

bool IsAscii(const std::string& text) { return AsciiPrefixLength(text) == text.size(); }

bool IsWellFormedUtf8(const std::string& text)
{
    for (size_t i = AsciiPrefixLength(text); i < text.size();) {
        const size_t len = Utf8SequenceLength(text, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string Cp932ToUtf8(const std::string& cp932)
{
    size_t i = AsciiPrefixLength(cp932);
    if (i == cp932.size())
        return cp932;
    thread_local Converter converter("UTF-8", "CP932");
    std::string out;
    out.reserve(cp932.size() + cp932.size() / 2);
    out.assign(cp932, 0, i);
    while (i < cp932.size()) {
        i += converter.Run(cp932.data() + i, cp932.size() - i, out);
        if (i >= cp932.size())
            break;
        // An unassigned cell of a valid pair goes as one character; a broken pair loses
        // only its lead byte, so the byte after it is read on its own.
        const bool pair = IsLeadByte(cp932[i]) && i + 1 < cp932.size() && IsTrailByte(cp932[i + 1]);
        out += kUtf8Replacement;
        i += pair ? 2 : 1;
    }
    return out;
}

std::string Utf8ToCp932(const std::string& utf8) { return Utf8ToCp932(utf8, nullptr); }

std::string Utf8ToCp932(const std::string& utf8, bool* substituted)
{
    if (substituted)
        *substituted = false;
    size_t i = AsciiPrefixLength(utf8);
    if (i == utf8.size())
        return utf8;
    thread_local Converter converter("CP932", "UTF-8");
    std::string out;
    out.reserve(utf8.size());
    out.assign(utf8, 0, i);
    while (i < utf8.size()) {
        i += converter.Run(utf8.data() + i, utf8.size() - i, out);
        if (i >= utf8.size())
            break;
        const size_t len = Utf8SequenceLength(utf8, i);
        out += '?';
        if (substituted)
            *substituted = true;
        i += len ? len : 1;
    }
    return out;
}

std::u16string Cp932ToUtf16(const std::string& cp932)
{
    // The UTF-8 side is well formed by construction, so decoding it needs no checks.
    const std::string utf8 = Cp932ToUtf8(cp932);
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? c : c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (utf8[i + k] & 0x3F);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::string Utf16ToCp932(const std::u16string& utf16, bool* substituted)
{
    std::string utf8;
    utf8.reserve(utf16.size() * 3);
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // lone surrogate
        }
        if (cp < 0x80) {
            utf8 += static_cast<char>(cp);
        } else if (cp < 0x800) {
            utf8 += static_cast<char>(0xC0 | (cp >> 6));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (cp >> 12));
            utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (cp >> 18));
            utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return Utf8ToCp932(utf8, substituted);
}

}  // namespace platform
