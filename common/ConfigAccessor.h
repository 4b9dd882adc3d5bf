#pragma once
// A light value object pairing a settings tree with a path prefix, so that code handling
// one section ("Setting::Path::Path_0::", a request's node) names keys relative to it.
// Every call is one locked step of the tree; hold a CConfigLock to make several calls
// one step.

#include "ConfigClass.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CConfigAccessor {
public:
    // The empty accessor: no tree, only a placeholder to assign to later.
    CConfigAccessor() = default;
    // The prefix gets a trailing "::" when it lacks one: "" -> "::", "Setting" -> "Setting::".
    CConfigAccessor(CConfigClass* tree, const std::string& prefix);

    // The path of a key or name is the prefix followed directly by it ("Setting::" and
    // "Path::Path_0::Url" give "Setting::Path::Path_0::Url"); views are read only during
    // the call.

    // The stored value or the default, through the tree's filter. Nodes missing on the way
    // are created; the leaf is not.
    std::string GetString(std::string_view key, std::string_view defaultValue, int ignoreCase = 0) const;
    void SetString(std::string_view key, std::string_view value) const;
    // Reads through text: the default as decimal text, then atoi of what was read (a value
    // that is no number reads as 0; "12abc" as 12; out-of-range values clamp).
    int GetInt(std::string_view key, int defaultValue, int ignoreCase = 0) const;
    void SetInt(std::string_view key, int value) const;
    void SetInt64(std::string_view key, int64_t value) const;

    CConfigAccessor GetSubAccessor(std::string_view name) const;
    void RemoveSection(std::string_view name) const;
    // Whether the prefix node has a child of exactly that name (one level); lists no names.
    bool HasSection(std::string_view name) const;
    // Removes the prefix node's first child, if any.
    void RemoveFirstSection() const;
    int GetKeys(std::vector<std::string>& keys) const;
    int GetSections(std::vector<std::string>& names) const;
    int GetKeyCount() const;
    int GetSectionCount() const;
    // Removes every leaf and child of the prefix node.
    void Clear() const;
    // The prefix node's leaves and children become deep copies of the source's node.
    void CopyFrom(const CConfigAccessor& source) const;
    // Moves the prefix node, whole and without copying, to the destination's node: as
    // CopyFrom into the destination followed by RemoveSection of this node from its parent
    // (a missing destination is created as its parent's last child; an existing one keeps
    // its name and place), but in one locked step (CConfigClass::MoveNode). Returns 0, or
    // -1 with nothing moved when this is the root accessor or the destination is this node
    // or lies within it. Between two trees it is CConfigClass::MoveNodeFrom, one step that
    // moves without copying too, and returns 0; the root of another tree is copied
    // (CopyFrom), then cleared, as two steps.
    int MoveTo(const CConfigAccessor& destination) const;
    std::string ExpandVariables(const std::string& text, const std::string& substitute) const;
    void GetLeaves(std::vector<CConfigLeaf>& leaves) const;
    // CConfigClass::VisitLeaves of this node: no copies, and `visit` must not call the tree.
    void VisitLeaves(const std::function<void(const CConfigLeaf&)>& visit) const;
    // The leaves' values in stored order, unfiltered: a simple list node (one leaf per row,
    // key and value both the row) read back as its rows.
    std::vector<std::string> GetLeafValues() const;

    CConfigClass* GetTree() const { return tree_; }
    const std::string& GetPrefix() const { return prefix_; }

private:
    // Takes a prefix that already ends in "::" and ConfigPrefixEndsAtLevel of it.
    struct Normalised {};
    CConfigAccessor(CConfigClass* tree, std::string prefix, bool endsAtLevel, Normalised)
        : prefix_(std::move(prefix)), tree_(tree), prefixEndsAtLevel_(endsAtLevel)
    {
    }

    CConfigPrefix Prefix() const { return {prefix_, prefixEndsAtLevel_}; }

    std::string prefix_;
    CConfigClass* tree_ = nullptr;  // not owned
    // Worked out once here rather than by the tree on every call through the prefix.
    bool prefixEndsAtLevel_ = false;
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

// Holds a tree's lock shared for a batch of reads, so that the tree stays as it is across
// them while other readers go on; writers wait. The holder must not write the tree (nor
// take a CConfigLock on it) while it holds this, and its reads create no missing nodes.
class CConfigReadLock {
public:
    explicit CConfigReadLock(const CConfigAccessor& accessor);
    ~CConfigReadLock();
    CConfigReadLock(const CConfigReadLock&) = delete;
    CConfigReadLock& operator=(const CConfigReadLock&) = delete;

private:
    CConfigClass* tree_;  // not owned
};
