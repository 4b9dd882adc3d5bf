#include "CRuntime.h"

#include "TextCodec.h"

#include <climits>

namespace platform {

std::string::size_type CharLength(const std::string& s, std::string::size_type i)
{
    return IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

namespace {

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Compares character by character; single-byte characters fold when `fold` is set.
int Compare(const std::string& a, const std::string& b, bool fold)
{
    std::string::size_type i = 0;
    while (i < a.size() && i < b.size()) {
        const std::string::size_type la = CharLength(a, i);
        const std::string::size_type lb = CharLength(b, i);
        for (std::string::size_type k = 0; k < la || k < lb; ++k) {
            unsigned char ca = k < la ? static_cast<unsigned char>(a[i + k]) : 0;
            unsigned char cb = k < lb ? static_cast<unsigned char>(b[i + k]) : 0;
            if (fold && la == 1 && lb == 1) {
                ca = FoldAscii(ca);
                cb = FoldAscii(cb);
            }
            if (ca != cb)
                return ca < cb ? -1 : 1;
        }
        i += la;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int _mbscmp(const std::string& a, const std::string& b) { return Compare(a, b, false); }

int _mbsicmp(const std::string& a, const std::string& b) { return Compare(a, b, true); }

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::string_view::size_type i = 0; i < a.size();) {
        const unsigned char ca = static_cast<unsigned char>(a[i]);
        const unsigned char cb = static_cast<unsigned char>(b[i]);
        // Equal lengths: a byte that starts a double-byte character in one text does so in
        // the other when the two agree there.
        if (IsLeadByte(ca) && i + 1 < a.size()) {
            if (ca != cb || a[i + 1] != b[i + 1])
                return false;
            i += 2;
        } else {
            if (FoldAscii(ca) != FoldAscii(cb))
                return false;
            ++i;
        }
    }
    return true;
}

std::string::size_type _mbsstr(const std::string& haystack, const std::string& needle,
                               std::string::size_type from)
{
    if (needle.empty())
        return from <= haystack.size() ? from : std::string::npos;
    for (std::string::size_type i = from; i < haystack.size(); i += CharLength(haystack, i)) {
        if (haystack.compare(i, needle.size(), needle) == 0)
            return i;
    }
    return std::string::npos;
}

std::string _mbslwr(std::string s)
{
    for (std::string::size_type i = 0; i < s.size();) {
        const std::string::size_type len = CharLength(s, i);
        if (len == 1)
            s[i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(s[i])));
        i += len;
    }
    return s;
}

std::string::size_type _mbsrchr(const std::string& s, unsigned char c)
{
    // Without a byte from 0x80 up the text holds no double-byte character.
    if (IsAscii(s))
        return s.rfind(static_cast<char>(c));
    std::string::size_type found = std::string::npos;
    const std::string::size_type size = s.size();
    for (std::string::size_type i = 0; i < size;) {
        const auto byte = static_cast<unsigned char>(s[i]);
        if (IsLeadByte(byte) && i + 1 < size) {
            i += 2;
            continue;
        }
        if (byte == c)
            found = i;
        ++i;
    }
    return found;
}

int Atoi(std::string_view text)
{
    std::string::size_type i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;  // stays clamped, never overflows
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace platform
