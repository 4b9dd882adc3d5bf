#include "ConfigClass.h"

#include "ConfigAccessor.h"
#include "CRuntime.h"

#include <mutex>

namespace {

const char kSeparator[] = "::";
const char kRootName[] = "Tarnwick";

using Lock = std::lock_guard<const platform::CCriticalSection>;

// A value that re-creates its own placeholder together with the text around it ("A%%A" for
// %A% in "%A%%") would be expanded without end, and some terminating texts take
// exponentially many steps; a key's pass stops after this many replacements that can
// re-create the placeholder without shortening the text (only those can go on)...
constexpr int kMaxReplacementsPerKey = 1024;
// ...or once it has grown the text by this many bytes.
constexpr std::string::size_type kMaxExpansionGrowth = 4 << 20;

}  // namespace

ConfigPathSplit SplitConfigPath(const std::string& path)
{
    const std::string::size_type at = path.find(kSeparator);
    if (at == std::string::npos || path == kSeparator)
        return {"", path == kSeparator ? "" : path, false};
    return {path.substr(0, at), path.substr(at + 2), true};
}

std::string AppendPathSeparator(const std::string& path)
{
    if (path.size() < 2 || path.compare(path.size() - 2, 2, kSeparator) != 0)
        return path + kSeparator;
    return path;
}

// --- CConfigNode ------------------------------------------------------------------------

int CConfigNode::FindLeaf(const std::string& key, int ignoreCase) const
{
    for (size_t i = 0; i < leaves_.size(); ++i) {
        const int cmp = ignoreCase ? platform::_mbsicmp(leaves_[i].key, key)
                                   : platform::_mbscmp(leaves_[i].key, key);
        if (cmp == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int CConfigNode::FindChild(const std::string& name) const
{
    for (size_t i = 0; i < children_.size(); ++i) {
        if (children_[i].name_ == name)
            return static_cast<int>(i);
    }
    return -1;
}

void CConfigNode::SetLeaf(const std::string& key, const std::string& value)
{
    const int at = FindLeaf(key, 0);
    if (at >= 0)
        leaves_[at].value = value;
    else
        leaves_.push_back({key, value});
}

std::string CConfigNode::GetLeafValue(const std::string& key, const std::string& defaultValue,
                                      CConfigValueFilter* filter, int ignoreCase) const
{
    const int at = FindLeaf(key, ignoreCase);
    const std::string& value = at >= 0 ? leaves_[at].value : defaultValue;
    return filter ? filter->Filter(key, value) : value;
}

void CConfigNode::RemoveChild(const std::string& name)
{
    const int at = FindChild(name);
    if (at >= 0)
        children_.erase(children_.begin() + at);
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
    std::string result = text;
    for (const CConfigLeaf& leaf : leaves_) {
        const std::string pattern = "%" + leaf.key + "%";
        // Each search restarts early enough to see any occurrence that the last insertion
        // completed, which finds exactly what a search from the start would. An inserted
        // text that holds the pattern itself is skipped, or the loop would never end.
        std::string::size_type from = 0;
        const std::string::size_type limit = result.size() + kMaxExpansionGrowth;
        for (int count = 0; count < kMaxReplacementsPerKey && result.size() <= limit;) {
            const std::string::size_type at = result.find(pattern, from);
            if (at == std::string::npos)
                break;
            const std::string inserted = filter ? filter->Filter(leaf.key, leaf.value) : leaf.value;
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

CConfigNode& CConfigNode::FindOrCreateParent(const std::string& path, std::string& key)
{
    CConfigNode* node = this;
    std::string rest = path;
    for (;;) {
        ConfigPathSplit split = SplitConfigPath(rest);
        if (!split.found) {
            key = std::move(split.rest);
            return *node;
        }
        const int at = node->FindChild(split.head);
        node = at >= 0 ? &node->children_[at] : &node->AppendChild(split.head);
        rest = std::move(split.rest);
    }
}

void CConfigNode::AssignContent(CConfigNode content)
{
    children_ = std::move(content.children_);
    leaves_ = std::move(content.leaves_);
}

CConfigNode& CConfigNode::AppendChild(const std::string& name)
{
    children_.emplace_back(name);
    return children_.back();
}

// --- CConfigClass -----------------------------------------------------------------------

CConfigClass::CConfigClass() : root_(kRootName) {}

CConfigClass::CConfigClass(const CConfigClass& source) : platform::CCriticalSection()
{
    Lock lock(source);
    root_ = source.root_;
}

CConfigClass::~CConfigClass() = default;

std::string CConfigClass::GetValue(const std::string& path, const std::string& defaultValue, int ignoreCase)
{
    Lock lock(*this);
    std::string key;
    CConfigNode& node = root_.FindOrCreateParent(path, key);
    return node.GetLeafValue(key, defaultValue, filter_.get(), ignoreCase);
}

void CConfigClass::SetValue(const std::string& path, const std::string& value)
{
    Lock lock(*this);
    std::string key;
    root_.FindOrCreateParent(path, key).SetLeaf(key, value);
}

void CConfigClass::GetLeaves(const std::string& nodePath, std::vector<CConfigLeaf>& leaves)
{
    Lock lock(*this);
    std::string key;
    root_.FindOrCreateParent(nodePath, key).GetLeaves(leaves);
}

std::string CConfigClass::ExpandVariables(const std::string& nodePath, const std::string& text,
                                          const std::string& substitute)
{
    Lock lock(*this);
    std::string key;
    return root_.FindOrCreateParent(nodePath, key).ExpandVariables(text, substitute, filter_.get());
}

CConfigAccessor CConfigClass::GetAccessor(const std::string& prefix) { return CConfigAccessor(this, prefix); }

int CConfigClass::GetKeys(const std::string& nodePath, std::vector<std::string>& keys)
{
    Lock lock(*this);
    std::string key;
    return root_.FindOrCreateParent(AppendPathSeparator(nodePath), key).GetKeys(keys);
}

int CConfigClass::GetSections(const std::string& nodePath, std::vector<std::string>& names)
{
    Lock lock(*this);
    std::string key;
    return root_.FindOrCreateParent(AppendPathSeparator(nodePath), key).GetSectionNames(names);
}

int CConfigClass::GetKeyCount(const std::string& nodePath)
{
    Lock lock(*this);
    std::string key;
    return root_.FindOrCreateParent(AppendPathSeparator(nodePath), key).GetKeyCount();
}

int CConfigClass::GetSectionCount(const std::string& nodePath)
{
    Lock lock(*this);
    std::string key;
    return root_.FindOrCreateParent(AppendPathSeparator(nodePath), key).GetSectionCount();
}

void CConfigClass::ClearNode(const std::string& nodePath)
{
    Lock lock(*this);
    std::string key;
    root_.FindOrCreateParent(AppendPathSeparator(nodePath), key).Clear();
}

void CConfigClass::RemoveNode(const std::string& path)
{
    Lock lock(*this);
    std::string full = AppendPathSeparator(path);
    full.erase(full.size() - 2);
    if (full.empty()) {
        root_.Clear();
        return;
    }
    std::string last;
    root_.FindOrCreateParent(full, last).RemoveChild(last);
}

void CConfigClass::GetNode(CConfigNode& node, const std::string& nodePath)
{
    Lock lock(*this);
    std::string key;
    node.AssignContent(root_.FindOrCreateParent(nodePath, key));
}

void CConfigClass::CopyNode(const std::string& destinationPath, const std::string& sourcePath,
                            CConfigClass* source)
{
    Lock lock(*this);
    // The source is copied out before the destination is resolved: resolving may add
    // nodes and move the source, and the destination may be the source's ancestor.
    CConfigNode copy;
    (source ? source : this)->GetNode(copy, AppendPathSeparator(sourcePath));
    std::string key;
    CConfigNode& destination = root_.FindOrCreateParent(AppendPathSeparator(destinationPath), key);
    destination.AssignContent(std::move(copy));
}

void CConfigClass::SetValueFilter(std::unique_ptr<CConfigValueFilter> filter)
{
    Lock lock(*this);
    filter_ = std::move(filter);
}
