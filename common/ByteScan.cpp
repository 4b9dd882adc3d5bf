#include "ByteScan.h"

bool HoldsControlByte(std::string_view text)
{
    constexpr char kDelete = 0x7F;
    // Most texts hold neither: the two scans then cost less than one byte by byte.
    return HoldsByteBelow(text, 0x20) || text.find(kDelete) != std::string_view::npos;
}
