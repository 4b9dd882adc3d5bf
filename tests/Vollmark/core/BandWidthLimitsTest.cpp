// The bandwidth dialog's six limits and the leaves they stand for.

#include "core/BandWidthLimits.h"

#include "SettingTree.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using testsupport::ReadFromSetting;
using testsupport::SettingLeaves;
using testsupport::StoreIntoSetting;

TEST(BandWidthLimitsTest, StoredLimitsReadAsTheServerReadsThem)
{
    const struct {
        const char* description;
        SettingLeaves stored;
        BandWidthLimits limits;
    } cases[] = {
        {"none stored is no limit", {}, {0, 0, 0, 0, 0, 0}},
        {"each in its place",
         {{"Limit::Send::MaxServerBandWidth", "1"},
          {"Limit::Send::MaxOneHostBandWidth", "2"},
          {"Limit::Send::MaxOneConnectBandWidth", "3"},
          {"Limit::Recv::MaxServerBandWidth", "4"},
          {"Limit::Recv::MaxOneHostBandWidth", "5"},
          {"Limit::Recv::MaxOneConnectBandWidth", "6"}},
         {1, 2, 3, 4, 5, 6}},
        {"below 0 is no limit", {{"Limit::Send::MaxServerBandWidth", "-1"}}, {0, 0, 0, 0, 0, 0}},
        {"the largest int", {{"Limit::Recv::MaxOneConnectBandWidth", "2147483647"}}, {0, 0, 0, 0, 0, INT_MAX}},
        {"above it, the largest int",
         {{"Limit::Recv::MaxOneConnectBandWidth", "4294967295"}},
         {0, 0, 0, 0, 0, INT_MAX}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(ReadFromSetting(c.stored, ReadBandWidthLimits), c.limits);
    }
}

TEST(BandWidthLimitsTest, AllSixAreStoredWholeUpToTheLargestUnsigned)
{
    const BandWidthLimits limits = {0, 1, 2, 3, 2147483648u, 4294967295u};
    EXPECT_EQ(
        StoreIntoSetting({}, "Limit", [&](const CConfigAccessor& setting) { StoreBandWidthLimits(setting, limits); }),
        "Tarnwick{Send{MaxServerBandWidth=0;MaxOneHostBandWidth=1;MaxOneConnectBandWidth=2;}"
        "Recv{MaxServerBandWidth=3;MaxOneHostBandWidth=2147483648;MaxOneConnectBandWidth=4294967295;}}");
}

}  // namespace
