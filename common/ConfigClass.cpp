#include "ConfigClass.h"

#include "ConfigAccessor.h"
#include "CRuntime.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

constexpr char kSeparator[] = "::";
constexpr std::string_view kSeparatorView = kSeparator;
const char kRootName[] = "Tarnwick";

// A value that re-creates its own placeholder together with the text around it ("A%%A" for
// %A% in "%A%%") would be expanded without end, and some terminating texts take
// exponentially many steps; a key's pass stops after this many replacements that can
// re-create the placeholder without shortening the text (only those can go on)...
constexpr int kMaxReplacementsPerKey = 1024;
// ...or once it has grown the text by this many bytes.
constexpr std::string::size_type kMaxExpansionGrowth = 4 << 20;

// The texts between neighbouring '%' of `text` ("a%b%c%d" gives "b" and "c"); views into it.
void CollectPercentNames(const std::string& text, std::vector<std::string_view>& names)
{
    names.clear();
    std::string::size_type open = text.find('%');
    while (open != std::string::npos) {
        const std::string::size_type close = text.find('%', open + 1);
        if (close == std::string::npos)
            break;
        names.emplace_back(text.data() + open + 1, close - open - 1);
        open = close;
    }
}

// Position of the first "::".
std::string_view::size_type FindSeparator(std::string_view path)
{
    if (path.size() < 2)
        return std::string_view::npos;
    const char* const begin = path.data();
    const char* const last = begin + path.size() - 1;  // a separator starts before it
    for (const char* at = begin; at < last; ++at) {
        at = static_cast<const char*>(std::memchr(at, ':', static_cast<size_t>(last - at)));
        if (!at)
            break;
        if (at[1] == ':')
            return static_cast<std::string_view::size_type>(at - begin);
    }
    return std::string_view::npos;
}

// Sibling names and keys often share their length and head ("Thread_0001", "Thread_0002"):
// the last byte tells most of them apart before the whole texts are compared.
bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           (a.empty() || (a.back() == b.back() && std::memcmp(a.data(), b.data(), a.size()) == 0));
}

// A path given as a prefix and a rest, resolved as the two joined. Prepared before the
// tree's lock is taken: the common prefix ("Setting::", "Threads::Thread_0001::") is walked
// in place, any other is joined once here.
class SplitPath {
public:
    SplitPath(CConfigPrefix prefix, std::string_view rest)
    {
        if (prefix.endsAtLevel) {
            prefix_ = prefix.text;
            rest_ = rest;
        } else {
            joined_.reserve(prefix.text.size() + rest.size());
            joined_.append(prefix.text).append(rest);
            rest_ = joined_;
        }
    }
    SplitPath(const SplitPath&) = delete;
    SplitPath& operator=(const SplitPath&) = delete;

    CConfigNode& Resolve(CConfigNode& root, std::string_view& key) const
    {
        std::string_view none;
        return root.FindOrCreateParent(prefix_, none).FindOrCreateParent(rest_, key);
    }
    // The same through the nodes writes resolved lately, which it adds the prefix's node
    // to; exclusive hold only.
    template <typename Resolved>
    CConfigNode& Resolve(CConfigNode& root, Resolved& resolved, std::string_view& key) const
    {
        bool created = false;
        CConfigNode* prefixNode = prefix_.empty() ? &root : resolved.Find(prefix_);
        if (!prefixNode) {
            std::string_view none;
            prefixNode = &root.FindOrCreateParent(prefix_, none, &created);
            if (created)
                resolved.Forget();
            resolved.Remember(prefix_, prefixNode);
        }
        CConfigNode& node = prefixNode->FindOrCreateParent(rest_, key, &created);
        if (created)
            resolved.Forget();
        return node;
    }
    // The same without creating: null when a level is missing.
    template <typename Resolved>
    const CConfigNode* Find(const CConfigNode& root, const Resolved& resolved, std::string_view& key) const
    {
        std::string_view none;
        const CConfigNode* prefixNode = prefix_.empty() ? &root : resolved.Find(prefix_);
        if (!prefixNode)
            prefixNode = root.FindParent(prefix_, none);
        return prefixNode ? prefixNode->FindParent(rest_, key) : nullptr;
    }

private:
    std::string joined_;
    std::string_view prefix_;
    std::string_view rest_;
};

// A node path as the normalised operations read it: with "::" appended when missing.
class NodePath {
public:
    explicit NodePath(std::string_view path)
    {
        if (EndsWithPathSeparator(path)) {
            path_ = path;
        } else {
            appended_.reserve(path.size() + 2);
            appended_.append(path).append(kSeparatorView);
            path_ = appended_;
        }
    }
    NodePath(const NodePath&) = delete;
    NodePath& operator=(const NodePath&) = delete;

    std::string_view Get() const { return path_; }
    CConfigNode& Resolve(CConfigNode& root) const
    {
        std::string_view key;
        return root.FindOrCreateParent(path_, key);
    }
    const CConfigNode* Find(const CConfigNode& root) const
    {
        std::string_view key;
        return root.FindParent(path_, key);
    }

private:
    std::string appended_;
    std::string_view path_;
};

}  // namespace

ConfigPathSplit SplitConfigPath(const std::string& path)
{
    const std::string::size_type at = path.find(kSeparator);
    if (at == std::string::npos || path == kSeparator)
        return {"", path == kSeparator ? "" : path, false};
    return {path.substr(0, at), path.substr(at + 2), true};
}

bool ConfigPrefixEndsAtLevel(std::string_view prefix)
{
    // One pass over the bytes, finding the separators as the walk's leftmost search does
    // level by level: a memchr per level costs more than the scan on these short texts.
    const std::string_view::size_type size = prefix.size();
    std::string_view::size_type levelStart = 0;
    bool lastLevelEmpty = false;
    for (std::string_view::size_type at = 0; at + 1 < size;) {
        if (prefix[at] == ':' && prefix[at + 1] == ':') {
            lastLevelEmpty = at == levelStart;
            at += 2;
            levelStart = at;
        } else {
            ++at;
        }
    }
    // A remaining "::" alone reads as the end of the walk, not as a level named "".
    return levelStart == size && !lastLevelEmpty;
}

bool EndsWithPathSeparator(std::string_view path)
{
    return path.size() >= 2 && path.compare(path.size() - 2, 2, kSeparatorView) == 0;
}

std::string AppendPathSeparator(const std::string& path)
{
    if (!EndsWithPathSeparator(path))
        return path + kSeparator;
    return path;
}

// --- CConfigNode ------------------------------------------------------------------------

int CConfigNode::FindLeaf(std::string_view key, int ignoreCase) const
{
    for (size_t i = 0; i < leaves_.size(); ++i) {
        if (ignoreCase ? platform::EqualsIgnoringCase(leaves_[i].key, key) : SameText(leaves_[i].key, key))
            return static_cast<int>(i);
    }
    return -1;
}

int CConfigNode::FindChild(std::string_view name) const
{
    for (size_t i = 0; i < children_.size(); ++i) {
        if (SameText(children_[i].name_, name))
            return static_cast<int>(i);
    }
    return -1;
}

void CConfigNode::SetLeaf(std::string_view key, std::string_view value)
{
    const int at = FindLeaf(key, 0);
    if (at >= 0)
        leaves_[at].value.assign(value.data(), value.size());
    else
        leaves_.push_back({std::string(key), std::string(value)});
}

std::string CConfigNode::GetLeafValue(std::string_view key, std::string_view defaultValue,
                                      CConfigValueFilter* filter, int ignoreCase) const
{
    const int at = FindLeaf(key, ignoreCase);
    const std::string_view value = at >= 0 ? std::string_view(leaves_[at].value) : defaultValue;
    return filter ? filter->Filter(key, value) : std::string(value);
}

void CConfigNode::RemoveChild(std::string_view name)
{
    const int at = FindChild(name);
    if (at >= 0)
        children_.erase(children_.begin() + at);
}

void CConfigNode::RemoveFirstChild()
{
    if (!children_.empty())
        children_.erase(children_.begin());
}

CConfigNode CConfigNode::TakeChild(int index)
{
    CConfigNode child = std::move(children_[index]);
    children_.erase(children_.begin() + index);
    return child;
}

bool CConfigNode::Contains(const CConfigNode* node) const
{
    if (node == this)
        return true;
    for (const CConfigNode& child : children_) {
        if (child.Contains(node))
            return true;
    }
    return false;
}

void CConfigNode::Clear()
{
    children_.clear();
    leaves_.clear();
}

int CConfigNode::GetKeys(std::vector<std::string>& keys) const
{
    keys.clear();
    for (const CConfigLeaf& leaf : leaves_)
        keys.push_back(leaf.key);
    return static_cast<int>(keys.size());
}

int CConfigNode::GetSectionNames(std::vector<std::string>& names) const
{
    names.clear();
    for (const CConfigNode& child : children_)
        names.push_back(child.name_);
    return static_cast<int>(names.size());
}

std::string CConfigNode::ExpandVariables(const std::string& text, const std::string& substitute,
                                         CConfigValueFilter* filter) const
{
    // Both steps below act only on '%'.
    if (text.find('%') == std::string::npos)
        return text;
    std::string result = text;
    std::string pattern;
    // "%key%" with a key without '%' can only stand between two neighbouring '%' of the
    // text: the names found there tell which leaves have nothing to replace, without a
    // search of the text for each. They are taken again after every replacement.
    std::vector<std::string_view> names;
    bool namesCurrent = false;
    for (const CConfigLeaf& leaf : leaves_) {
        if (leaf.key.find('%') == std::string::npos) {
            if (!namesCurrent) {
                CollectPercentNames(result, names);
                namesCurrent = true;
            }
            if (std::find(names.begin(), names.end(), std::string_view(leaf.key)) == names.end())
                continue;
        }
        namesCurrent = false;
        pattern.clear();
        pattern.push_back('%');
        pattern.append(leaf.key);
        pattern.push_back('%');
        // Each search restarts early enough to see any occurrence that the last insertion
        // completed, which finds exactly what a search from the start would. An inserted
        // text that holds the pattern itself is skipped, or the loop would never end.
        std::string::size_type from = 0;
        const std::string::size_type limit = result.size() + kMaxExpansionGrowth;
        for (int count = 0; count < kMaxReplacementsPerKey && result.size() <= limit;) {
            const std::string::size_type at = result.find(pattern, from);
            if (at == std::string::npos)
                break;
            std::string filtered;
            if (filter)
                filtered = filter->Filter(leaf.key, leaf.value);
            const std::string& inserted = filter ? filtered : leaf.value;
            result.replace(at, pattern.size(), inserted);
            if (inserted.find(pattern) != std::string::npos) {
                from = at + inserted.size();
            } else {
                from = at >= pattern.size() - 1 ? at - (pattern.size() - 1) : 0;
                if (inserted.size() >= pattern.size())
                    ++count;
            }
        }
    }

    if (substitute.empty() || substitute.find('%') != std::string::npos)
        return result;
    std::string out;
    std::string::size_type pos = 0;
    for (;;) {
        const std::string::size_type open = result.find('%', pos);
        if (open == std::string::npos) {
            out.append(result, pos, std::string::npos);
            break;
        }
        out.append(result, pos, open - pos);
        if (open + 1 < result.size() && result[open + 1] == '%') {
            out += '%';
            pos = open + 2;
            continue;
        }
        out += substitute;
        const std::string::size_type close = result.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(result, open + 1, std::string::npos);
            break;
        }
        pos = close + 1;
    }
    return out;
}

CConfigNode& CConfigNode::FindOrCreateParent(std::string_view path, std::string_view& key, bool* created)
{
    // The levels are cut from the path in place; SplitConfigPath's rules.
    CConfigNode* node = this;
    for (;;) {
        const std::string_view::size_type at = FindSeparator(path);
        if (at == std::string_view::npos || path == kSeparatorView) {
            key = at == std::string_view::npos ? path : path.substr(2);
            return *node;
        }
        const std::string_view head = path.substr(0, at);
        const int child = node->FindChild(head);
        if (child >= 0) {
            node = &node->children_[child];
        } else {
            node = &node->AppendChild(head);
            if (created)
                *created = true;
        }
        path.remove_prefix(at + 2);
    }
}

const CConfigNode* CConfigNode::FindParent(std::string_view path, std::string_view& key) const
{
    const CConfigNode* node = this;
    for (;;) {
        const std::string_view::size_type at = FindSeparator(path);
        if (at == std::string_view::npos || path == kSeparatorView) {
            key = at == std::string_view::npos ? path : path.substr(2);
            return node;
        }
        const int child = node->FindChild(path.substr(0, at));
        if (child < 0)
            return nullptr;
        node = &node->children_[child];
        path.remove_prefix(at + 2);
    }
}

CConfigNode& CConfigNode::FindOrCreateParent(const std::string& path, std::string& key)
{
    std::string_view view;
    CConfigNode& node = FindOrCreateParent(std::string_view(path), view);
    key.assign(view.data(), view.size());
    return node;
}

void CConfigNode::AssignContent(CConfigNode content)
{
    children_ = std::move(content.children_);
    leaves_ = std::move(content.leaves_);
}

CConfigNode& CConfigNode::AppendChild(std::string_view name)
{
    children_.emplace_back(std::string(name));
    return children_.back();
}

CConfigNode& CConfigNode::AppendChild(CConfigNode child)
{
    children_.push_back(std::move(child));
    return children_.back();
}

void CConfigNode::SetLeafAt(std::size_t index, std::string_view key, std::string_view value)
{
    if (index == leaves_.size()) {
        leaves_.push_back({std::string(key), std::string(value)});
        return;
    }
    // A node filled anew mostly holds the same keys and many of the same values: a text
    // that already reads so is left as it is.
    CConfigLeaf& leaf = leaves_[index];
    if (leaf.key != key)
        leaf.key.assign(key.data(), key.size());
    if (leaf.value != value)
        leaf.value.assign(value.data(), value.size());
}

void CConfigNode::TruncateLeaves(std::size_t count)
{
    if (count < leaves_.size())
        leaves_.erase(leaves_.begin() + static_cast<std::ptrdiff_t>(count), leaves_.end());
}

void CConfigNode::TruncateChildren(std::size_t count)
{
    if (count < children_.size())
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(count), children_.end());
}

void CConfigNode::TakeChildren(std::size_t index, std::vector<CConfigNode>& taken)
{
    for (std::size_t i = index; i < children_.size(); ++i)
        taken.push_back(std::move(children_[i]));
    TruncateChildren(index);
}

// --- CConfigClass -----------------------------------------------------------------------

CConfigNode* CConfigClass::ResolvedNodes::Find(std::string_view prefix) const
{
    for (const Entry& entry : entries_) {
        if (entry.node && SameText(entry.prefix, prefix))
            return entry.node;
    }
    return nullptr;
}

void CConfigClass::ResolvedNodes::Remember(std::string_view prefix, CConfigNode* node)
{
    Entry& entry = entries_[next_];
    next_ = (next_ + 1) % kEntries;
    entry.prefix.assign(prefix.data(), prefix.size());
    entry.node = node;
}

void CConfigClass::ResolvedNodes::Forget()
{
    for (Entry& entry : entries_)
        entry.node = nullptr;
}

void CConfigClass::ResolvedNodes::KeepOnly(const CConfigNode* node)
{
    for (Entry& entry : entries_)
        if (entry.node != node)
            entry.node = nullptr;
}

CConfigClass::CConfigClass() : root_(kRootName) {}

CConfigClass::CConfigClass(const CConfigClass& source) : platform::CSharedCriticalSection()
{
    std::shared_lock<const platform::CSharedCriticalSection> lock(source);  // a copy only reads
    root_ = source.root_;
}

CConfigClass::~CConfigClass() = default;

template <typename Find, typename Create, typename Reader>
auto CConfigClass::Read(Find find, Create create, Reader read)
{
    std::string_view key;
    {
        std::shared_lock<const platform::CSharedCriticalSection> shared(*this);
        if (const CConfigNode* node = find(key))
            return read(*node, key);
        if (IsOwnedByThisThread()) {
            // Held exclusively by this thread already: the creation is a reshaping step.
            resolved_.Forget();
            writes_.fetch_add(1, std::memory_order_acq_rel);
            return read(create(key), key);
        }
    }
    // Still held, by a read batch of this thread's: the hold cannot become exclusive, so a
    // missing node reads as an empty one there.
    if (IsHeldByThisThread())
        return read(CConfigNode(), key);
    // The first read through a missing node creates it, as every read did before.
    ShapeLock lock(*this);
    return read(create(key), key);
}

template <typename Reader>
auto CConfigClass::ReadUnchanged(std::string_view nodePath, Reader read)
{
    return Read([&](std::string_view& key) { return root_.FindParent(nodePath, key); },
                [&](std::string_view& key) -> CConfigNode& { return root_.FindOrCreateParent(nodePath, key); },
                [&](const CConfigNode& node, std::string_view) { return read(node); });
}

template <typename Reader>
auto CConfigClass::ReadNormalised(std::string_view nodePath, Reader read)
{
    const NodePath path(nodePath);
    return Read([&](std::string_view&) { return path.Find(root_); },
                [&](std::string_view&) -> CConfigNode& { return path.Resolve(root_); },
                [&](const CConfigNode& node, std::string_view) { return read(node); });
}

std::string CConfigClass::GetValue(std::string_view path, std::string_view defaultValue, int ignoreCase)
{
    return GetValue(std::string_view(), path, defaultValue, ignoreCase);
}

void CConfigClass::SetValue(std::string_view path, std::string_view value)
{
    SetValue(std::string_view(), path, value);
}

std::string CConfigClass::GetValue(std::string_view prefix, std::string_view key,
                                   std::string_view defaultValue, int ignoreCase)
{
    return GetValue(CConfigPrefix{prefix, ConfigPrefixEndsAtLevel(prefix)}, key, defaultValue, ignoreCase);
}

void CConfigClass::SetValue(std::string_view prefix, std::string_view key, std::string_view value)
{
    SetValue(CConfigPrefix{prefix, ConfigPrefixEndsAtLevel(prefix)}, key, value);
}

std::string CConfigClass::GetValue(CConfigPrefix prefix, std::string_view key, std::string_view defaultValue,
                                   int ignoreCase)
{
    const SplitPath path(prefix, key);
    return Read(
        [&](std::string_view& leafKey) { return path.Find(root_, resolved_, leafKey); },
        [&](std::string_view& leafKey) -> CConfigNode& { return path.Resolve(root_, leafKey); },
        [&](const CConfigNode& node, std::string_view leafKey) {
            return node.GetLeafValue(leafKey, defaultValue, filter_.get(), ignoreCase);
        });
}

void CConfigClass::SetValue(CConfigPrefix prefix, std::string_view key, std::string_view value)
{
    const SplitPath path(prefix, key);
    WriteLock lock(*this);
    std::string_view leafKey;
    path.Resolve(root_, resolved_, leafKey).SetLeaf(leafKey, value);
}

void CConfigClass::GetLeaves(std::string_view nodePath, std::vector<CConfigLeaf>& leaves)
{
    ReadUnchanged(nodePath, [&](const CConfigNode& node) { node.GetLeaves(leaves); });
}

void CConfigClass::VisitLeaves(std::string_view nodePath, const std::function<void(const CConfigLeaf&)>& visit)
{
    ReadUnchanged(nodePath, [&](const CConfigNode& node) {
        for (const CConfigLeaf& leaf : node.GetLeafArray())
            visit(leaf);
    });
}

std::string CConfigClass::ExpandVariables(std::string_view nodePath, const std::string& text,
                                          const std::string& substitute)
{
    return ReadUnchanged(nodePath, [&](const CConfigNode& node) {
        return node.ExpandVariables(text, substitute, filter_.get());
    });
}

CConfigAccessor CConfigClass::GetAccessor(const std::string& prefix) { return CConfigAccessor(this, prefix); }

int CConfigClass::GetKeys(std::string_view nodePath, std::vector<std::string>& keys)
{
    return ReadNormalised(nodePath, [&](const CConfigNode& node) { return node.GetKeys(keys); });
}

int CConfigClass::GetSections(std::string_view nodePath, std::vector<std::string>& names)
{
    return ReadNormalised(nodePath, [&](const CConfigNode& node) { return node.GetSectionNames(names); });
}

int CConfigClass::GetKeyCount(std::string_view nodePath)
{
    return ReadNormalised(nodePath, [](const CConfigNode& node) { return node.GetKeyCount(); });
}

int CConfigClass::GetSectionCount(std::string_view nodePath)
{
    return ReadNormalised(nodePath, [](const CConfigNode& node) { return node.GetSectionCount(); });
}

bool CConfigClass::HasSection(std::string_view nodePath, std::string_view name)
{
    return ReadNormalised(nodePath, [&](const CConfigNode& node) { return node.FindChild(name) >= 0; });
}

void CConfigClass::ClearNode(std::string_view nodePath)
{
    const NodePath path(nodePath);
    ShapeLock lock(*this);
    path.Resolve(root_).Clear();
}

void CConfigClass::RemoveFirstSection(std::string_view nodePath)
{
    const NodePath path(nodePath);
    ShapeLock lock(*this);
    path.Resolve(root_).RemoveFirstChild();
}

CConfigNode CConfigClass::TakeFirstSection(std::string_view nodePath)
{
    const NodePath path(nodePath);
    ShapeLock lock(*this);
    CConfigNode& node = path.Resolve(root_);
    return node.GetSectionCount() > 0 ? node.TakeChild(0) : CConfigNode();
}

void CConfigClass::RemoveNode(std::string_view path)
{
    const NodePath normalised(path);
    const std::string_view full = normalised.Get().substr(0, normalised.Get().size() - 2);
    ShapeLock lock(*this);
    if (full.empty()) {
        root_.Clear();
        return;
    }
    std::string_view last;
    root_.FindOrCreateParent(full, last).RemoveChild(last);
}

void CConfigClass::GetNode(CConfigNode& node, std::string_view nodePath)
{
    ReadUnchanged(nodePath, [&](const CConfigNode& found) { node.AssignContent(found); });
}

void CConfigClass::CopyNode(std::string_view destinationPath, std::string_view sourcePath,
                            CConfigClass* source)
{
    const NodePath destinationNode(destinationPath);
    const NodePath sourceNode(sourcePath);
    ShapeLock lock(*this);
    // The source is copied out before the destination is resolved: resolving may add
    // nodes and move the source, and the destination may be the source's ancestor.
    CConfigNode copy;
    (source ? source : this)->GetNode(copy, sourceNode.Get());
    destinationNode.Resolve(root_).AssignContent(std::move(copy));
}

int CConfigClass::MoveNode(std::string_view destinationPath, std::string_view sourcePath)
{
    const NodePath destinationNode(destinationPath);
    const NodePath sourceNode(sourcePath);
    // The source is named as RemoveNode names it: its parent and its name there.
    const std::string_view sourceFull = sourceNode.Get().substr(0, sourceNode.Get().size() - 2);
    ShapeLock lock(*this);
    if (sourceFull.empty())
        return -1;
    std::string_view name;
    // Creating nodes moves siblings in memory, so every missing node is created first;
    // the walks after that create nothing and their results stay valid together.
    CConfigNode& sourceParent = root_.FindOrCreateParent(sourceFull, name);
    if (sourceParent.FindChild(name) < 0)
        sourceParent.AppendChild(name);
    destinationNode.Resolve(root_);

    CConfigNode& parent = root_.FindOrCreateParent(sourceFull, name);
    const int at = parent.FindChild(name);
    if (parent.GetChildren()[at].Contains(&destinationNode.Resolve(root_)))
        return -1;
    CConfigNode moved = parent.TakeChild(at);
    // Taking the child moved its later siblings, which may hold the destination.
    destinationNode.Resolve(root_).AssignContent(std::move(moved));
    return 0;
}

CConfigNode CConfigClass::TakeNode(std::string_view path)
{
    std::string_view name;
    ShapeLock lock(*this);
    CConfigNode& parent = root_.FindOrCreateParent(path, name);
    const int at = parent.FindChild(name);
    return at >= 0 ? parent.TakeChild(at) : CConfigNode();
}

int CConfigClass::MoveNodeFrom(std::string_view destinationPath, CConfigClass& source,
                               std::string_view sourcePath)
{
    const NodePath destinationNode(destinationPath);
    const NodePath sourceNode(sourcePath);
    const std::string_view sourceFull = sourceNode.Get().substr(0, sourceNode.Get().size() - 2);
    if (sourceFull.empty())
        return -1;
    ShapeLock lock(*this);
    destinationNode.Resolve(root_).AssignContent(source.TakeNode(sourceFull));
    return 0;
}

CConfigClass::NodeWriter::NodeWriter(CConfigClass& tree, std::string_view nodePath)
    : lock_(tree), node_(tree.ResolveWrittenNode(nodePath))
{
}

CConfigNode& CConfigClass::ResolveWrittenNode(std::string_view nodePath)
{
    writes_.fetch_add(1, std::memory_order_acq_rel);
    const NodePath path(nodePath);
    CConfigNode* node = resolved_.Find(path.Get());
    if (!node) {
        bool created = false;
        std::string_view key;
        node = &root_.FindOrCreateParent(path.Get(), key, &created);
        if (created)
            resolved_.Forget();
        resolved_.Remember(path.Get(), node);
    }
    // The writer may add, move or remove any node below this one; the node itself stays.
    resolved_.KeepOnly(node);
    return *node;
}

void CConfigClass::SetValueFilter(std::unique_ptr<CConfigValueFilter> filter)
{
    ShapeLock lock(*this);
    filter_ = std::move(filter);
}

std::string CConfigClass::FilterValue(std::string_view key, std::string_view value)
{
    // The filter is called with the tree's lock held, as every read calls it.
    std::shared_lock<const platform::CSharedCriticalSection> lock(*this);
    return filter_ ? filter_->Filter(key, value) : std::string(value);
}
