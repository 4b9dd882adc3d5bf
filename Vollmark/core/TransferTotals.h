#pragma once
// The server's byte totals as the controller shows them: 64-bit counts from the server's
// info node, put in words in the largest unit in which the figure is at least 10.

#include <cstdint>
#include <string>
#include <string_view>

class CConfigAccessor;

// "送信容量 : n <unit>、受信容量 : n <unit>" (CP932). Each figure is in bytes, K, M or G
// bytes (powers of 1024), truncated; a negative size stays in bytes. The figure is the
// whole 64-bit value, never cut to 32 bits.
std::string FormatTransferTotals(int64_t send, int64_t receive);

// The leaf `key` under the accessor's node as a signed 64-bit decimal: 0 when missing or
// not a number, the leading digits of "12abc", and values beyond 64 bits clamped to the
// nearest limit. The accessor's GetInt stops at int, which a byte total outgrows.
int64_t GetInt64Leaf(const CConfigAccessor& node, std::string_view key);
