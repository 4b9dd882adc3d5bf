#pragma once
// The nodes whose children are entries of one kind (the CGI handlers, the accounts), read
// the one way: every child in stored order, whatever its name, under one read lock.

#include "ConfigAccessor.h"

#include <string>
#include <vector>

// `read(child)` of each child of `node`, in stored order, while the tree stays as it is.
// Creates no node; `read` must not write the tree.
template <class Read>
auto ReadEntries(const CConfigAccessor& node, Read read) -> std::vector<decltype(read(node))>
{
    CConfigReadLock lock(node);
    std::vector<std::string> names;
    node.GetSections(names);
    std::vector<decltype(read(node))> entries;
    for (const std::string& name : names)
        entries.push_back(read(node.GetSubAccessor(name)));
    return entries;
}
