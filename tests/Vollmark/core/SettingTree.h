#pragma once
// What the suites of the core's settings mappings share: a scratch tree whose "Setting" node
// holds given leaves, read through a mapping (which must create no node) or stored into
// through one and then described. Header-only, for the core suites.

#include "ConfigAccessor.h"
#include "ConfigClass.h"
#include "ConfigTreeText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Key (relative to "Setting") and value.
using SettingLeaves = std::vector<std::pair<std::string, std::string>>;

// A case of a table test of fields read from the settings: the leaves stored and the
// fields' values, as texts, that they read as.
struct StoredValuesCase {
    const char* description;
    SettingLeaves stored;
    std::vector<std::string> values;
};

// What `read` gives for a "Setting" node holding `stored`; a test failure when reading
// changed the tree (made a node).
template <class Read>
auto ReadFromSetting(const SettingLeaves& stored, Read read)
{
    CConfigClass tree;
    const CConfigAccessor setting = tree.GetAccessor("Setting");
    for (const auto& [key, value] : stored)
        setting.SetString(key, value);
    const std::string before = Describe(tree);
    auto result = read(setting);
    EXPECT_EQ(Describe(tree), before) << "reading made a node";
    return result;
}

// The contents of Setting::`node` ("" for the "Setting" node itself) after `store` ran on a
// "Setting" node holding `stored`.
template <class Store>
std::string StoreIntoSetting(const SettingLeaves& stored, const std::string& node, Store store)
{
    CConfigClass tree;
    const CConfigAccessor setting = tree.GetAccessor("Setting");
    for (const auto& [key, value] : stored)
        setting.SetString(key, value);
    store(setting);
    return Describe(tree, node.empty() ? "Setting::" : "Setting::" + node + "::");
}

}  // namespace testsupport
