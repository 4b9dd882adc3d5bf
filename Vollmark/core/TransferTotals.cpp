#include "core/TransferTotals.h"

#include "ConfigAccessor.h"

#include <cstdlib>

namespace {

struct SizeUnit {
    int64_t bytes;
    const char* name;
};

constexpr int64_t kKilo = 1024;

// Largest first, so that the first unit a size reaches is the one it is shown in.
constexpr SizeUnit kUnits[] = {
    {kKilo * kKilo * kKilo, " Gバイト"},
    {kKilo * kKilo, " Mバイト"},
    {kKilo, " Kバイト"},
};
constexpr const char* kByteUnit = " バイト";

// A unit is taken only from this many of it on, so that a figure never drops below two
// digits (10239 bytes, then 10 K).
constexpr int64_t kSmallestFigure = 10;

std::string FormatSize(const char* label, int64_t size)
{
    std::string text = label;
    for (const SizeUnit& unit : kUnits) {
        if (size >= kSmallestFigure * unit.bytes)
            return text.append(std::to_string(size / unit.bytes)).append(unit.name);
    }
    return text.append(std::to_string(size)).append(kByteUnit);
}

}  // namespace

std::string FormatTransferTotals(int64_t send, int64_t receive)
{
    return FormatSize("送信容量 : ", send) + "、" + FormatSize("受信容量 : ", receive);
}

int64_t GetInt64Leaf(const CConfigAccessor& node, std::string_view key)
{
    // strtoll clamps out-of-range values and reads text without digits as 0, as atoi does.
    return std::strtoll(node.GetString(key, "0").c_str(), nullptr, 10);
}
