#include "UrlCoding.h"

#include "ByteScan.h"
#include "TextTrim.h"

#include "JapaneseText.h"
#include "TextCodec.h"

#include <algorithm>
#include <cstdio>

namespace {

// The normalising passes stop here even if a pass still changed something. Each pass at
// least halves every run of empty, "." and ".." segments, so no text that fits in memory
// needs this many.
constexpr int kMaxNormalizePasses = 1000;

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Length of the character at s[i]. A lead byte takes the next byte only when that is a valid
// trail byte, so '/' and '.' (never trail bytes) are always seen, and 0x5C only stands for
// '\' outside a double-byte character.
size_t CharLengthAt(std::string_view s, size_t i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    return IsLeadByte(c) && i + 1 < s.size() && IsTrailByte(static_cast<unsigned char>(s[i + 1])) ? 2 : 1;
}

// Replaces, left to right, every occurrence of the ASCII text `from` that starts at a
// character boundary. True when something was replaced.
bool ReplaceAll(std::string& s, const std::string& from, const std::string& to)
{
    // Most paths hold no occurrence at all: nothing to copy then.
    if (s.find(from) == std::string::npos)
        return false;
    std::string out;
    bool replaced = false;
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
            replaced = true;
        } else {
            const size_t n = CharLengthAt(s, i);
            out.append(s, i, n);
            i += n;
        }
    }
    if (replaced)
        s.swap(out);
    return replaced;
}

// A final "/." or "/.." names the folder itself or its parent just as "/./" and "/../" do.
bool CollapseFinalDots(std::string& s)
{
    for (const char* tail : {"/..", "/."}) {
        const std::string t(tail);
        if (s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0) {
            s.replace(s.size() - t.size(), t.size(), "/");
            return true;
        }
    }
    return false;
}

// U+FFFD in UTF-8, the substitute of the file-name conversion.
const char kUnicodeReplacement[] = "\xEF\xBF\xBD";

// Whether `converted`, the Shift-JIS of the decoded bytes `decoded`, holds every character
// as itself: no '?' put in for a character Shift-JIS lacks, and no byte that is no CP932
// character, so that a file name made of it needs no substitute.
bool IsFaithfulConversion(const std::string& decoded, const std::string& converted)
{
    if (std::count(converted.begin(), converted.end(), '?') != std::count(decoded.begin(), decoded.end(), '?'))
        return false;
    // No CP932 character maps to U+FFFD: it stands only for bytes that are no character.
    return platform::Cp932ToUtf8(converted).find(kUnicodeReplacement) == std::string::npos;
}

int HexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of the leading hexadecimal digits of the two bytes at p; 0 without any.
unsigned HexPair(const char* p)
{
    const int high = HexDigit(static_cast<unsigned char>(p[0]));
    if (high < 0)
        return 0;
    const int low = HexDigit(static_cast<unsigned char>(p[1]));
    return low < 0 ? static_cast<unsigned>(high) : static_cast<unsigned>(high * 16 + low);
}

// The decoded bytes, not converted; `hasHighBytes` tells whether any is from 0x80 up.
std::string PercentDecodeBytes(const std::string& text, bool plusIsBlank, bool& hasHighBytes)
{
    std::string out;
    hasHighBytes = false;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80)
            hasHighBytes = true;
        if (c == '%' && i + 2 < n) {
            const unsigned value = HexPair(text.data() + i + 1);
            if (value != 0) {
                out += static_cast<char>(value);
                if (value >= 0x80)
                    hasHighBytes = true;
                i += 2;
            }
            // A zero byte would end the text for every later reader: drop the '%' instead.
            continue;
        }
        out += plusIsBlank && c == '+' ? ' ' : static_cast<char>(c);
    }
    return out;
}

// The Shift-JIS of decoded bytes that hold a byte from 0x80 up. Browsers send paths in
// UTF-8 (RFC 3987 3.1), but the detection counts only three-byte UTF-8 sequences, so a
// name of two-byte characters ("¢", "café") reads as EUC-JP, or as undecided beside kanji
// ("表¢"). Well-formed UTF-8 read as EUC-JP is read as UTF-8, whatever it holds: "café"
// then fails IsShiftJisUrlPath rather than become a kanji name nobody asked for. Undecided
// bytes are read as UTF-8 only where that reading is faithful, and bytes the detection
// takes for Shift-JIS are left alone: a Shift-JIS name can be well-formed UTF-8 too, as
// "ﾃｽﾄ一覧" (C3 BD C4 88 EA 97 97, undecided) is.
std::string ConvertDecodedBytes(const std::string& decoded)
{
    const int charset = DetectCharset(decoded.data(), decoded.size());
    if ((charset == kCharsetEucJp || charset == kCharsetUndecided) && platform::IsWellFormedUtf8(decoded)) {
        std::string utf8Reading = Utf8ToShiftJis(decoded);
        if (charset == kCharsetEucJp || IsFaithfulConversion(decoded, utf8Reading))
            return utf8Reading;
    }
    return ConvertToShiftJis(decoded, charset);
}

std::string PercentDecode(const std::string& text, bool plusIsBlank)
{
    bool hasHighBytes = false;
    const std::string out = PercentDecodeBytes(text, plusIsBlank, hasHighBytes);
    return hasHighBytes ? ConvertDecodedBytes(out) : out;
}

bool InEscapeSet(unsigned char c, bool highBytes)
{
    if (c <= 0x20 || (highBytes && c >= 0x80))
        return true;
    switch (c) {
    case '#':
    case '%':
    // Bytes a Linux name may hold but a link must not carry raw: they end or change the
    // URL or the HTML attribute around it.
    case '"':
    case '\'':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '*':
    case '|':
    case ':':
        return true;
    default:
        return false;
    }
}

void AppendEscaped(std::string& out, std::string_view text, bool highBytes)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < text.size();) {
        // A run of bytes that go in as they are takes one append.
        size_t run = i;
        while (run < text.size() && static_cast<unsigned char>(text[run]) < 0x80 &&
               !InEscapeSet(static_cast<unsigned char>(text[run]), highBytes))
            ++run;
        out.append(text.substr(i, run - i));
        if ((i = run) == text.size())
            break;
        const auto c = static_cast<unsigned char>(text[i]);
        if (!highBytes && CharLengthAt(text, i) == 2) {
            // The page is Shift-JIS: a trail byte such as '\' or '|' belongs to its character.
            out.append(text.substr(i, 2));
            i += 2;
        } else if (InEscapeSet(c, highBytes)) {
            const char escaped[] = {'%', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
            out.append(escaped, sizeof escaped);
            ++i;
        } else {
            out += static_cast<char>(c);
            ++i;
        }
    }
}

std::string Escape(const std::string& text, bool highBytes)
{
    std::string out;
    out.reserve(text.size() * 3);
    AppendEscaped(out, text, highBytes);
    return out;
}

}  // namespace

std::string GetUrlPath(const std::string& url) { return url.substr(0, url.find('?')); }

std::string GetUrlQuery(const std::string& url)
{
    const size_t mark = url.find('?');
    return mark == std::string::npos ? std::string() : url.substr(mark + 1);
}

std::string DecodeUrlText(const std::string& text) { return PercentDecode(text, true); }

std::string NormalizeUrlPath(const std::string& path)
{
    std::string s = PercentDecode(TrimText(path), false);
    // Rooted before the passes, so that a leading "../" is a segment like any other.
    if (s.empty() || s[0] != '/')
        s = PrependChar('/', s);
    for (int pass = 0; pass < kMaxNormalizePasses; ++pass) {
        bool changed = ReplaceAll(s, "\\", "/");
        changed |= ReplaceAll(s, "/../", "/");
        changed |= ReplaceAll(s, "/./", "/");
        changed |= ReplaceAll(s, "//", "/");
        changed |= CollapseFinalDots(s);
        if (!changed)
            break;
    }
    return s;
}

bool IsShiftJisUrlPath(const std::string& path)
{
    // Most paths are plain ASCII with no escapes: nothing to decode or convert.
    if (std::none_of(path.begin(), path.end(), [](char c) { return c == '%' || static_cast<unsigned char>(c) >= 0x80; }))
        return true;
    bool hasHighBytes = false;
    const std::string decoded = PercentDecodeBytes(TrimText(path), false, hasHighBytes);
    return !hasHighBytes || IsFaithfulConversion(decoded, ConvertDecodedBytes(decoded));
}

bool HoldsBackslashSeparator(const std::string& path)
{
    const std::string decoded = PercentDecode(TrimText(path), false);
    for (size_t i = 0; i < decoded.size(); i += CharLengthAt(decoded, i))
        if (decoded[i] == '\\')
            return true;
    return false;
}

bool HoldsDotDotSegment(const std::string& path)
{
    const std::string decoded = PercentDecode(TrimText(path), false);
    std::string::size_type start = 0;
    for (size_t i = 0; i <= decoded.size();) {
        if (i == decoded.size() || decoded[i] == '/' || decoded[i] == '\\') {
            if (decoded.compare(start, i - start, "..") == 0)
                return true;
            start = ++i;
        } else {
            i += CharLengthAt(decoded, i);
        }
    }
    return false;
}

bool DecodesToControlByte(const std::string& path)
{
    const std::string text = TrimText(path);
    // Where the decoding drops the '%' of a zero byte, as it reads the digits.
    for (size_t i = 0; i + 2 < text.size(); ++i)
        if (text[i] == '%' && HexDigit(static_cast<unsigned char>(text[i + 1])) >= 0 && HexPair(&text[i + 1]) == 0)
            return true;
    bool hasHighBytes = false;
    const std::string decoded = PercentDecodeBytes(text, false, hasHighBytes);
    return HoldsControlByte(decoded);
}

bool IsPlainUrlPath(std::string_view path)
{
    if (path.empty() || path[0] != '/')
        return false;
    const auto isDotSegment = [](std::string_view segment) { return segment == "." || segment == ".."; };
    std::string_view::size_type start = 1;
    for (std::string_view::size_type i = 1; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '\\')
            return false;
        if (c == '/') {
            const std::string_view segment = path.substr(start, i - start);
            if (segment.empty() || isDotSegment(segment))
                return false;
            start = i + 1;
        }
    }
    return !isDotSegment(path.substr(start));
}

std::string EscapeUrl(const std::string& text) { return Escape(text, false); }

void AppendEscapedUrl(std::string& out, std::string_view text) { AppendEscaped(out, text, false); }

std::string EscapeUrlAll(const std::string& text) { return Escape(text, true); }

std::string EscapeUrlUtf8(const std::string& path)
{
    // Not ShiftJisToUtf8: it ends the text at an unmappable byte, which would turn the URL
    // into that of a parent folder, and it widens half-width katakana, which would name
    // another file.
    return EscapeUrlAll(platform::Cp932ToUtf8(path));
}

std::string EscapeNonUrlBytes(const std::string& url)
{
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string PrependChar(char c, const std::string& text) { return c + text; }
