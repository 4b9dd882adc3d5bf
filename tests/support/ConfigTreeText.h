#pragma once
// A settings tree as one line of text, so that a test compares whole structures at once.
// Header-only: only test programs that link the settings tree include it.

#include "ConfigClass.h"

#include <string>

namespace testsupport {

// "name{key=value;...child{...}...}": leaves first, then children, each in stored order.
// Names, keys and values are written as they are, without escaping.
inline std::string Describe(const CConfigNode& node)
{
    std::string out = node.GetName() + "{";
    for (const CConfigLeaf& leaf : node.GetLeafArray())
        out += leaf.key + "=" + leaf.value + ";";
    for (const CConfigNode& child : node.GetChildren())
        out += Describe(child);
    return out + "}";
}

// The node at `nodePath` of `tree` (the root by default), under the name "Tarnwick".
// Reading a missing node creates it, as CConfigClass::GetNode does.
inline std::string Describe(CConfigClass& tree, const std::string& nodePath = "")
{
    CConfigNode copy("Tarnwick");
    tree.GetNode(copy, nodePath);
    return Describe(copy);
}

}  // namespace testsupport
