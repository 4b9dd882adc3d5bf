#include "Base64.h"

#include <vector>

namespace {

// -1 for a byte outside the alphabet.
int Sextet(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int AlphabetPrefix(const char* text)
{
    int n = 0;
    while (Sextet(static_cast<unsigned char>(text[n])) >= 0)
        ++n;
    return n;
}

}  // namespace

int Base64DecodedLength(const char* text) { return (AlphabetPrefix(text) + 3) / 4 * 3 + 1; }

int Base64DecodeBytes(unsigned char* output, const char* text)
{
    const int n = AlphabetPrefix(text);
    auto at = [text](int i) { return Sextet(static_cast<unsigned char>(text[i])); };
    int in = 0;
    unsigned char* out = output;
    while (n - in > 4) {
        *out++ = static_cast<unsigned char>(at(in) << 2 | at(in + 1) >> 4);
        *out++ = static_cast<unsigned char>(at(in + 1) << 4 | at(in + 2) >> 2);
        *out++ = static_cast<unsigned char>(at(in + 2) << 6 | at(in + 3));
        in += 4;
    }
    const int r = n - in;
    if (r > 1) *out++ = static_cast<unsigned char>(at(in) << 2 | at(in + 1) >> 4);
    if (r > 2) *out++ = static_cast<unsigned char>(at(in + 1) << 4 | at(in + 2) >> 2);
    if (r > 3) *out++ = static_cast<unsigned char>(at(in + 2) << 6 | at(in + 3));
    return (n + 3) / 4 * 3 - ((4 - r) & 3);
}

std::string Base64Decode(const std::string& text)
{
    std::vector<unsigned char> block(Base64DecodedLength(text.c_str()));
    const int written = Base64DecodeBytes(block.data(), text.c_str());
    block[written] = 0;
    return std::string(reinterpret_cast<const char*>(block.data()));
}
