#include "core/TransferTotals.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

struct SizeCase {
    const char* description;
    int64_t size;
    const char* shown;  // figure and unit
};

TEST(TransferTotalsTest, EachSizeIsShownInTheLargestUnitItReachesTenOf)
{
    const SizeCase cases[] = {
        {"nothing", 0, "0 バイト"},
        {"negative stays in bytes", -20000, "-20000 バイト"},
        {"last size in bytes", 10239, "10239 バイト"},
        {"first size in K", 10240, "10 Kバイト"},
        {"last size in K", 10485759, "10239 Kバイト"},
        {"first size in M", 10485760, "10 Mバイト"},
        {"last size in M", 10737418239, "10239 Mバイト"},
        {"first size in G", 10737418240, "10 Gバイト"},
        {"total beyond 32 bits", (int64_t{1} << 41) + 3 * 1073741824LL, "2051 Gバイト"},
        {"figure beyond 32 bits", (int64_t{1} << 61) + 5 * 1073741824LL, "2147483653 Gバイト"},
    };
    for (const SizeCase& c : cases) {
        const std::string shown = c.shown;
        EXPECT_EQ(FormatTransferTotals(c.size, 0), "送信容量 : " + shown + "、受信容量 : 0 バイト") << c.description;
        EXPECT_EQ(FormatTransferTotals(0, c.size), "送信容量 : 0 バイト、受信容量 : " + shown) << c.description;
    }
}

TEST(TransferTotalsTest, SendAndReceiveTakeTheirUnitsApart)
{
    EXPECT_EQ(FormatTransferTotals(10239, 10240), "送信容量 : 10239 バイト、受信容量 : 10 Kバイト");
}

struct LeafCase {
    const char* description;
    const char* stored;  // nullptr: no leaf
    int64_t expected;
};

TEST(TransferTotalsTest, Int64LeafReadsTheWholeDecimal)
{
    const LeafCase cases[] = {
        {"missing", nullptr, 0},
        {"garbage", "abc", 0},
        {"empty", "", 0},
        {"digits before garbage", "12abc", 12},
        {"beyond 32 bits", "5000000000", 5000000000},
        {"negative", "-5000000000", -5000000000},
        {"beyond 64 bits clamps", "99999999999999999999", std::numeric_limits<int64_t>::max()},
    };
    for (const LeafCase& c : cases) {
        CConfigClass tree;
        const CConfigAccessor node = tree.GetAccessor("ServerInfo");
        if (c.stored != nullptr)
            node.SetString("AllSendSize", c.stored);
        EXPECT_EQ(GetInt64Leaf(node, "AllSendSize"), c.expected) << c.description;
    }
}

}  // namespace
