#pragma once
// The settings tree: the one in-memory data structure of both programs. The server keeps
// three (settings, context, information); the controller one for the file it edits.
//
// A tree is a hierarchy of named nodes, each with ordered key/value leaves and ordered
// child nodes; everything is CP932 text. Paths join levels with "::" ("Basic::Port").
// Resolving a path creates the nodes missing on the way, so reads create nodes too.
// The tree is its own re-entrant lock: every operation below except the constructors,
// the destructor and GetAccessor holds it from start to end. Reads hold it shared, so
// readers do not wait for one another; a read holds it exclusively only the first time it
// passes through a missing node, which it then creates. Within a read batch of the
// calling thread (CConfigReadLock) a missing node reads as an empty one and is not created.

#include "CriticalSection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CByteBuffer;
class CConfigAccessor;
namespace platform { class XmlDocument; class XmlNode; }

struct CConfigLeaf {
    std::string key;
    std::string value;
};

// Rewrites every value read from the tree that owns it (the server expands its
// placeholders this way). Called with the tree's lock held, shared or exclusive, so
// several threads may call it at once; the views live for the call.
class CConfigValueFilter {
public:
    virtual ~CConfigValueFilter() = default;
    virtual std::string Filter(std::string_view key, std::string_view value) = 0;
};

// Splits at the first "::": (head, rest, true). Without "::", or for exactly "::",
// head is "" and found is false; rest is the whole path ("" for "::").
struct ConfigPathSplit {
    std::string head;
    std::string rest;
    bool found;
};
ConfigPathSplit SplitConfigPath(const std::string& path);

// Whether walking `prefix` ends exactly at a level, with nothing left over and its last
// level named: then the prefix followed by any text resolves as the prefix's node and
// then that text from there. "" and "A::B::" do; "A", "A::::" and "A:::" do not.
bool ConfigPrefixEndsAtLevel(std::string_view prefix);
// A prefix with ConfigPrefixEndsAtLevel of it, for a holder that reuses one prefix for
// many calls and so works that out once. The view must outlive the call it is passed to.
struct CConfigPrefix {
    std::string_view text;
    bool endsAtLevel;
};

// Appends "::" unless the path already ends in it: "" -> "::", "A" -> "A::".
std::string AppendPathSeparator(const std::string& path);
// Whether AppendPathSeparator would leave the path as it is.
bool EndsWithPathSeparator(std::string_view path);

// One node. It has no lock of its own: the tree calls it under the tree's lock. Children
// are held by value, so creating a child may move its siblings; hold no reference to a
// node across a step that can create nodes.
class CConfigNode {
public:
    CConfigNode() = default;
    explicit CConfigNode(std::string name) : name_(std::move(name)) {}

    const std::string& GetName() const { return name_; }
    const std::vector<CConfigNode>& GetChildren() const { return children_; }
    const std::vector<CConfigLeaf>& GetLeafArray() const { return leaves_; }

    // Index of the first leaf with that key (exact, or ASCII case-insensitive); -1.
    int FindLeaf(std::string_view key, int ignoreCase) const;
    // Index of the first child with exactly that name; -1.
    int FindChild(std::string_view name) const;
    // Replaces the value of the first leaf with exactly that key, or appends a leaf.
    void SetLeaf(std::string_view key, std::string_view value);
    // The first matching leaf's value or the default, through the filter when one is given.
    std::string GetLeafValue(std::string_view key, std::string_view defaultValue,
                             CConfigValueFilter* filter, int ignoreCase) const;
    // Removes the first child with exactly that name, if any.
    void RemoveChild(std::string_view name);
    // Removes the first child, if any.
    void RemoveFirstChild();
    // Removes the child at that index (0 <= index < GetSectionCount()) and gives it back
    // whole, moved rather than copied.
    CConfigNode TakeChild(int index);
    // Whether `node` is this node or lies anywhere below it.
    bool Contains(const CConfigNode* node) const;
    // Removes all children and leaves; the name stays.
    void Clear();
    int GetKeys(std::vector<std::string>& keys) const;
    int GetSectionNames(std::vector<std::string>& names) const;
    int GetKeyCount() const { return static_cast<int>(leaves_.size()); }
    int GetSectionCount() const { return static_cast<int>(children_.size()); }
    void GetLeaves(std::vector<CConfigLeaf>& leaves) const { leaves = leaves_; }
    std::string ExpandVariables(const std::string& text, const std::string& substitute,
                                CConfigValueFilter* filter) const;

    // Walks the path from this node, creating missing children, and returns the node that
    // holds the final level together with that level (the key). "A::B::Key" gives B and
    // "Key"; "Key" gives this node and "Key"; "A::B::" gives B and "".
    CConfigNode& FindOrCreateParent(const std::string& path, std::string& key);
    // The same without copying: the key is a view into `path`. `created`, when given, is
    // set when a child was added on the way (which may have moved its siblings).
    CConfigNode& FindOrCreateParent(std::string_view path, std::string_view& key, bool* created = nullptr);
    // The same walk without creating: null when a level is missing.
    const CConfigNode* FindParent(std::string_view path, std::string_view& key) const;

    // Children and leaves become those of `content` (a copy, so it may come from this
    // node's own subtree); the name stays.
    void AssignContent(CConfigNode content);

    // Appends a new empty child, even when one of that name exists; the reference is valid
    // until the next child is added here.
    CConfigNode& AppendChild(std::string_view name);
    // Appends `child` itself, moved in with its storage.
    CConfigNode& AppendChild(CConfigNode child);

    // For a writer that fills a node anew in place, so that texts and arrays that served
    // before serve again without new storage:
    void SetName(std::string_view name) { name_.assign(name.data(), name.size()); }
    // The leaf at `index` becomes (key, value); at the end (index == GetKeyCount()) it is
    // appended.
    void SetLeafAt(std::size_t index, std::string_view key, std::string_view value);
    // Keeps the first `count` leaves, or children.
    void TruncateLeaves(std::size_t count);
    void TruncateChildren(std::size_t count);
    // The child at `index` (0 <= index < GetSectionCount()), to change in place.
    CConfigNode& GetChild(int index) { return children_[static_cast<std::size_t>(index)]; }
    // Moves the children from `index` on, whole, to the end of `taken`.
    void TakeChildren(std::size_t index, std::vector<CConfigNode>& taken);

    // Marker text (ConfigSerialize.cpp).
    void Serialize(CByteBuffer& buffer) const;
    void WriteStart(CByteBuffer& buffer) const;
    static void WriteLeaf(CByteBuffer& buffer, const std::string& key, const std::string& value);
    static void WriteEnd(CByteBuffer& buffer);
    static void WriteText(CByteBuffer& buffer, const std::string& text);
    // A cursor is a position in a text that ends at `end`. Returns false for an
    // unterminated field, leaving the cursor where it was.
    static bool ReadSerializedString(const char*& cursor, const char* end, std::string& text);
    // Reads records into this node up to its closing 'E': 0, or -1 for malformed text.
    int ParseSerializedNode(const char*& cursor, const char* end, int depth);

    // XML form (ConfigXml.cpp).
    void WriteXml(platform::XmlNode& parent, const std::string& indent) const;
    static void WriteXmlLeaf(const CConfigLeaf& leaf, platform::XmlNode& parent);
    void ReadXml(const platform::XmlNode& element);

private:
    std::string name_;
    std::vector<CConfigNode> children_;
    std::vector<CConfigLeaf> leaves_;
};

// How the last LoadXml found the file, so that a caller can refuse to overwrite a file
// it could not read.
enum class ConfigFileState {
    Read,          // a settings document was read
    Missing,       // there is no such file
    Unreadable,    // the file could not be read, or is not well-formed XML
    Unrecognised,  // well-formed XML, but no CConfigClass element of type "Tarnwick"
};

class CConfigClass : public platform::CSharedCriticalSection {
public:
    // Nesting deeper than this is refused when marker text is read: the reader recurses
    // once per level.
    static constexpr int kMaxSerializedDepth = 256;

    // An empty tree whose root is named "Tarnwick".
    CConfigClass();
    // New lock, no filter, deep copy of the source's nodes (taken under its lock).
    CConfigClass(const CConfigClass& source);
    CConfigClass& operator=(const CConfigClass&) = delete;
    virtual ~CConfigClass();

    // The value of the first leaf whose key matches (exactly when ignoreCase is 0), or the
    // default; passed through the filter if one is installed. Never creates a leaf.
    std::string GetValue(std::string_view path, std::string_view defaultValue, int ignoreCase = 0);
    void SetValue(std::string_view path, std::string_view value);
    // The same for the path `prefix` followed directly by `key` (the accessor's form),
    // resolved without joining the two when the prefix ends at a level.
    std::string GetValue(std::string_view prefix, std::string_view key, std::string_view defaultValue,
                         int ignoreCase);
    void SetValue(std::string_view prefix, std::string_view key, std::string_view value);
    std::string GetValue(CConfigPrefix prefix, std::string_view key, std::string_view defaultValue, int ignoreCase);
    void SetValue(CConfigPrefix prefix, std::string_view key, std::string_view value);

    // Node paths are taken unchanged ("A::B" names A) or normalised ("A::B" names B) as
    // each operation says; callers pass a prefix that ends in "::" or "".
    void GetLeaves(std::string_view nodePath, std::vector<CConfigLeaf>& leaves);  // unchanged
    // Hands each leaf to `visit` in stored order, under the lock and without copying them;
    // `visit` must not call the tree.
    void VisitLeaves(std::string_view nodePath, const std::function<void(const CConfigLeaf&)>& visit);  // unchanged
    // Replaces "%Key%" with the node's leaves, leaf by leaf; a leaf whose value holds its own
    // placeholder is inserted once and not expanded again; a key whose replacements keep
    // re-creating its placeholder stops after a bounded number of them. A non-empty
    // substitute without "%" then replaces every remaining placeholder.
    std::string ExpandVariables(std::string_view nodePath, const std::string& text,
                                const std::string& substitute);  // unchanged
    std::string SerializeNode(const std::string& nodePath);     // unchanged
    CConfigAccessor GetAccessor(const std::string& prefix);
    int GetKeys(std::string_view nodePath, std::vector<std::string>& keys);       // normalised
    int GetSections(std::string_view nodePath, std::vector<std::string>& names);  // normalised
    int GetKeyCount(std::string_view nodePath);                                   // normalised
    int GetSectionCount(std::string_view nodePath);                               // normalised
    // Whether the node has a child with exactly that name (one level, compared whole).
    bool HasSection(std::string_view nodePath, std::string_view name);            // normalised
    void ClearNode(std::string_view nodePath);                                    // normalised
    // Removes the node's first child, if any.
    void RemoveFirstSection(std::string_view nodePath);                           // normalised
    // The same, giving the child back (an empty node when there was none), so that the
    // caller can free it after releasing the lock.
    CConfigNode TakeFirstSection(std::string_view nodePath);                      // normalised
    // Removes the node the path names from its parent; "" or "::" clears the root.
    void RemoveNode(std::string_view path);
    // Takes the node that `path` (without a trailing "::") names out of its parent, in one
    // locked step, and gives it back whole; an empty node when it is missing (the levels
    // above are created).
    CConfigNode TakeNode(std::string_view path);
    // The given node's children and leaves become deep copies of the resolved node's; the
    // given node keeps its name. It must not belong to this tree.
    void GetNode(CConfigNode& node, std::string_view nodePath);  // unchanged
    // The destination's children and leaves become deep copies of the source node's (in
    // `source`, or this tree when null). Safe when both are in this tree, even when the
    // destination is an ancestor of the source. Locks this tree, then the source tree.
    void CopyNode(std::string_view destinationPath, std::string_view sourcePath,
                  CConfigClass* source = nullptr);
    // Moves a node with its whole subtree, without copying it, in one locked step. The
    // source is the node RemoveNode(sourcePath) would remove (created empty when missing);
    // the destination (a normalised path) is created when missing, as its parent's last
    // child. The destination's children and leaves become the source's, it keeps its name
    // and place, and the source leaves its parent: what CopyNode then RemoveNode leave
    // when neither node lies within the other; a destination above the source ends up
    // holding just the source's content. Returns 0, or -1 with nothing moved (missing
    // nodes on both paths may have been created) when the source path names the root or
    // the destination is the source or lies within it.
    int MoveNode(std::string_view destinationPath, std::string_view sourcePath);
    // The same from another tree: the node RemoveNode(sourcePath) would remove from
    // `source` (nothing when missing) leaves it, and the destination here (created when
    // missing) gets its children and leaves, without copying. This tree stays locked
    // across the whole step and the source while the node is taken, so a reader sees the
    // node in one of the two trees. Returns 0, or -1 with nothing moved when the source
    // path names the root.
    int MoveNodeFrom(std::string_view destinationPath, CConfigClass& source, std::string_view sourcePath);

    // Takes ownership; the previous filter is deleted.
    void SetValueFilter(std::unique_ptr<CConfigValueFilter> filter);
    // What a read of a leaf holding `value` under `key` gives: the filter's result, or the
    // value itself when the tree has no filter. For a reader that keeps stored values and
    // must see them as a read would at the moment it uses them.
    std::string FilterValue(std::string_view key, std::string_view value);

    // Rises with every step that may change the tree, as the step begins or within it:
    // what a reader derived from the tree after reading this still holds while it stays.
    uint64_t GetWriteCount() const { return writes_.load(std::memory_order_acquire); }

    // Writes the node as the settings XML file, replacing the file atomically and readable
    // by its owner alone (platform::FileAccess::OwnerOnly): 0, or -1 when the file could
    // not be written. `error` (optional) then gets why, naming the
    // file (CP932); it is left alone on success. `written` (optional) gets the file's
    // bytes when it was written.
    int SaveXml(const std::string& fileName, const std::string& nodePath, std::string* error = nullptr,
                std::string* written = nullptr);
    // Replaces the whole tree with the file's contents. A missing or unreadable file, or
    // one that holds no settings document, leaves the tree empty and still returns 0;
    // -1 only when the XML layer itself fails. `state` (optional) tells which case it was.
    // `error` (optional) gets why the file was not read, naming it (CP932): the system's
    // reason for a missing or unreadable file, the parser's for one that is not well-formed
    // (with the line and column where it stopped), or that it holds no settings document;
    // "" when it was read. `read` (optional) gets the bytes the tree was read from: the
    // file's, even when they hold no settings; "" when there were none.
    int LoadXml(const std::string& fileName, ConfigFileState* state = nullptr, std::string* error = nullptr,
                std::string* read = nullptr);

    // Replaces the tree with the nodes of a marker text: 0 when it was read up to the
    // root's closing 'E', -1 otherwise (what was read before the fault stays).
    int LoadSerializedText(const std::string& text);
    // Reads an 'S' and the root name field: "" when there is none.
    static std::string ReadSerializedRootName(const char*& cursor, const char* end);

private:
    // A read: under the shared hold when `find` sees every level of the path, else under
    // the exclusive one with the missing levels created by `create`. `read` gets the node
    // and the final level's key.
    template <typename Find, typename Create, typename Reader>
    auto Read(Find find, Create create, Reader read);
    // Read for a node path taken unchanged, or normalised; `read` gets the node.
    template <typename Reader>
    auto ReadUnchanged(std::string_view nodePath, Reader read);
    template <typename Reader>
    auto ReadNormalised(std::string_view nodePath, Reader read);


    // The nodes that writes resolved lately, by their prefix: a request sets its leaves a
    // few nodes at a time, and walking each path again was most of a write's work. Changed
    // under the exclusive hold, read under either; any step that may add, move or remove
    // nodes forgets them first (ShapeLock).
    class ResolvedNodes {
    public:
        ResolvedNodes() = default;
        // The pointers are into one tree's nodes: a copy would point into the wrong tree.
        ResolvedNodes(const ResolvedNodes&) = delete;
        ResolvedNodes& operator=(const ResolvedNodes&) = delete;

        CConfigNode* Find(std::string_view prefix) const;
        void Remember(std::string_view prefix, CConfigNode* node);
        void Forget();
        // Forgets every node but `node`.
        void KeepOnly(const CConfigNode* node);

    private:
        // A request's thread node, its request and response nodes and their headers.
        static constexpr size_t kEntries = 5;
        struct Entry {
            std::string prefix;
            CConfigNode* node = nullptr;
        };
        Entry entries_[kEntries];
        size_t next_ = 0;
    };

    // The exclusive hold of a leaf's write: it reshapes the tree only where its walk adds
    // a node, which the walk tells the memo itself.
    class WriteLock {
    public:
        explicit WriteLock(CConfigClass& tree) : tree_(tree), lock_(tree) {}
        ~WriteLock() { tree_.writes_.fetch_add(1, std::memory_order_acq_rel); }

    private:
        CConfigClass& tree_;
        std::lock_guard<const platform::CSharedCriticalSection> lock_;
    };

    // The exclusive hold of every step but a leaf's write: it may reshape the tree.
    class ShapeLock {
    public:
        explicit ShapeLock(CConfigClass& tree) : lock_(tree)
        {
            tree.resolved_.Forget();
            tree.writes_.fetch_add(1, std::memory_order_acq_rel);
        }

    private:
        std::lock_guard<const platform::CSharedCriticalSection> lock_;
    };

    std::unique_ptr<CConfigValueFilter> filter_;
    CConfigNode root_;
    ResolvedNodes resolved_;
    std::atomic<uint64_t> writes_{0};

public:
    // Holds the tree's lock exclusively and gives a node to change in place: many leaves
    // and children of one node in one locked step. The node is that of a normalised path,
    // created when missing; the reference lives as long as the writer. Anything below the
    // node may change, but not the node's name: the tree remembers where the node is, so
    // that the next writer of the same node (a request's set points) need not walk the
    // path again while nothing else reshaped the tree.
    class NodeWriter {
    public:
        CConfigNode& Node() { return node_; }

    private:
        friend class CConfigClass;
        NodeWriter(CConfigClass& tree, std::string_view nodePath);
        std::lock_guard<const platform::CSharedCriticalSection> lock_;
        CConfigNode& node_;
    };
    NodeWriter WriteNode(std::string_view nodePath) { return NodeWriter(*this, nodePath); }

private:
    // NodeWriter's node, through the nodes resolved lately; exclusive hold only.
    CConfigNode& ResolveWrittenNode(std::string_view nodePath);
};
