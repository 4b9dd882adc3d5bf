#include "Base64Encoding.h"

#include <cstddef>

namespace testsupport {

std::string Base64Encode(const std::string& bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            value |= static_cast<unsigned char>(bytes[i + 2]);
        text += kAlphabet[(value >> 18) & 63];
        text += kAlphabet[(value >> 12) & 63];
        text += i + 1 < bytes.size() ? kAlphabet[(value >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kAlphabet[value & 63] : '=';
    }
    return text;
}

}  // namespace testsupport
