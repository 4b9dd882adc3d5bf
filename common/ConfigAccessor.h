#pragma once
// A light value object pairing a settings tree with a path prefix, so that code handling
// one section ("Setting::Path::Path_0::", a request's node) names keys relative to it.
// Every call is one locked step of the tree; hold a CConfigLock to make several calls
// one step.

#include "ConfigClass.h"

#include <cstdint>
#include <string>
#include <vector>

class CConfigAccessor {
public:
    // The empty accessor: no tree, only a placeholder to assign to later.
    CConfigAccessor() = default;
    // The prefix gets a trailing "::" when it lacks one: "" -> "::", "Setting" -> "Setting::".
    CConfigAccessor(CConfigClass* tree, const std::string& prefix);

    // The stored value or the default, through the tree's filter. Nodes missing on the way
    // are created; the leaf is not.
    std::string GetString(const std::string& key, const std::string& defaultValue, int ignoreCase = 0) const;
    void SetString(const std::string& key, const std::string& value) const;
    // Reads through text: the default as decimal text, then atoi of what was read (a value
    // that is no number reads as 0; "12abc" as 12; out-of-range values clamp).
    int GetInt(const std::string& key, int defaultValue, int ignoreCase = 0) const;
    void SetInt(const std::string& key, int value) const;
    void SetInt64(const std::string& key, int64_t value) const;

    CConfigAccessor GetSubAccessor(const std::string& name) const;
    void RemoveSection(const std::string& name) const;
    int GetKeys(std::vector<std::string>& keys) const;
    int GetSections(std::vector<std::string>& names) const;
    int GetKeyCount() const;
    int GetSectionCount() const;
    // Removes every leaf and child of the prefix node.
    void Clear() const;
    // The prefix node's leaves and children become deep copies of the source's node.
    void CopyFrom(const CConfigAccessor& source) const;
    std::string ExpandVariables(const std::string& text, const std::string& substitute) const;
    void GetLeaves(std::vector<CConfigLeaf>& leaves) const;

    CConfigClass* GetTree() const { return tree_; }
    const std::string& GetPrefix() const { return prefix_; }

private:
    std::string prefix_;
    CConfigClass* tree_ = nullptr;  // not owned
};

// Holds a tree's lock for a batch of accessor calls; the holder's own calls still run
// (the lock is re-entrant), every other thread waits.
class CConfigLock {
public:
    explicit CConfigLock(const CConfigAccessor& accessor);
    virtual ~CConfigLock();
    CConfigLock(const CConfigLock&) = delete;
    CConfigLock& operator=(const CConfigLock&) = delete;

private:
    CConfigClass* tree_;  // not owned
};
