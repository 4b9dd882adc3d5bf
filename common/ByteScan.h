#pragma once
// Scans for the bytes that make a text unfit to go out as it is (into a header line, a log
// line), run on every request's texts: eight bytes at a time. Byte-wise, which suits CP932:
// every byte sought is below 0x40, and none of those is ever the trail byte of a
// double-byte character.

#include <cstdint>
#include <cstring>
#include <string_view>

// Whether `text` holds a byte below `limit`, which must be at most 0x80.
inline bool HoldsByteBelow(std::string_view text, unsigned char limit)
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHighBits = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + sizeof(uint64_t) <= text.size(); i += sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        // Subtracting the limit from a byte below it sets the byte's high bit, which the
        // byte itself lacks. A borrow only runs upward from such a byte, so no byte is
        // marked when none is low.
        if ((word - limit * kOnes) & ~word & kHighBits)
            return true;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < limit)
            return true;
    return false;
}

// Whether `text` holds a control byte: one below 0x20, or 0x7F.
bool HoldsControlByte(std::string_view text);
