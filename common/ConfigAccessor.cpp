#include "ConfigAccessor.h"

#include "CRuntime.h"

#include <charconv>

namespace {

// Room for the decimal text of any 64-bit integer with its sign.
constexpr size_t kDecimalTextSize = 24;

// The decimal text of `value` in `buffer`, without allocating.
template <typename Integer>
std::string_view DecimalText(Integer value, char (&buffer)[kDecimalTextSize])
{
    const std::to_chars_result end = std::to_chars(buffer, buffer + kDecimalTextSize, value);
    return std::string_view(buffer, static_cast<size_t>(end.ptr - buffer));
}

}  // namespace

CConfigAccessor::CConfigAccessor(CConfigClass* tree, const std::string& prefix)
    : prefix_(AppendPathSeparator(prefix)), tree_(tree), prefixEndsAtLevel_(ConfigPrefixEndsAtLevel(prefix_))
{
}

std::string CConfigAccessor::GetString(std::string_view key, std::string_view defaultValue,
                                       int ignoreCase) const
{
    return tree_->GetValue(Prefix(), key, defaultValue, ignoreCase);
}

void CConfigAccessor::SetString(std::string_view key, std::string_view value) const
{
    tree_->SetValue(Prefix(), key, value);
}

int CConfigAccessor::GetInt(std::string_view key, int defaultValue, int ignoreCase) const
{
    char text[kDecimalTextSize];
    return platform::Atoi(GetString(key, DecimalText(defaultValue, text), ignoreCase));
}

void CConfigAccessor::SetInt(std::string_view key, int value) const
{
    char text[kDecimalTextSize];
    SetString(key, DecimalText(value, text));
}

void CConfigAccessor::SetInt64(std::string_view key, int64_t value) const
{
    char text[kDecimalTextSize];
    SetString(key, DecimalText(value, text));
}

CConfigAccessor CConfigAccessor::GetSubAccessor(std::string_view name) const
{
    std::string prefix;
    prefix.reserve(prefix_.size() + name.size() + 2);
    prefix.append(prefix_).append(name);
    if (!EndsWithPathSeparator(prefix))
        prefix.append("::");
    // Past a prefix that ends at a level the walk starts afresh, so only the added part
    // needs looking at.
    const bool endsAtLevel = ConfigPrefixEndsAtLevel(
        prefixEndsAtLevel_ ? std::string_view(prefix).substr(prefix_.size()) : std::string_view(prefix));
    return CConfigAccessor(tree_, std::move(prefix), endsAtLevel, Normalised());
}

void CConfigAccessor::RemoveSection(std::string_view name) const
{
    std::string path;
    path.reserve(prefix_.size() + name.size());
    path.append(prefix_).append(name);
    tree_->RemoveNode(path);
}

bool CConfigAccessor::HasSection(std::string_view name) const { return tree_->HasSection(prefix_, name); }

void CConfigAccessor::RemoveFirstSection() const { tree_->RemoveFirstSection(prefix_); }

int CConfigAccessor::GetKeys(std::vector<std::string>& keys) const { return tree_->GetKeys(prefix_, keys); }

int CConfigAccessor::GetSections(std::vector<std::string>& names) const
{
    return tree_->GetSections(prefix_, names);
}

int CConfigAccessor::GetKeyCount() const { return tree_->GetKeyCount(prefix_); }

int CConfigAccessor::GetSectionCount() const { return tree_->GetSectionCount(prefix_); }

void CConfigAccessor::Clear() const { tree_->ClearNode(prefix_); }

void CConfigAccessor::CopyFrom(const CConfigAccessor& source) const
{
    tree_->CopyNode(prefix_, source.prefix_, source.tree_);
}

int CConfigAccessor::MoveTo(const CConfigAccessor& destination) const
{
    if (destination.tree_ == tree_)
        return tree_->MoveNode(destination.prefix_, prefix_);
    if (prefix_ != "::")
        return destination.tree_->MoveNodeFrom(destination.prefix_, *tree_, prefix_);
    destination.CopyFrom(*this);
    tree_->RemoveNode(prefix_);
    return 0;
}

std::string CConfigAccessor::ExpandVariables(const std::string& text, const std::string& substitute) const
{
    return tree_->ExpandVariables(prefix_, text, substitute);
}

void CConfigAccessor::GetLeaves(std::vector<CConfigLeaf>& leaves) const { tree_->GetLeaves(prefix_, leaves); }

void CConfigAccessor::VisitLeaves(const std::function<void(const CConfigLeaf&)>& visit) const
{
    tree_->VisitLeaves(prefix_, visit);
}

std::vector<std::string> CConfigAccessor::GetLeafValues() const
{
    std::vector<CConfigLeaf> leaves;
    GetLeaves(leaves);
    std::vector<std::string> values;
    values.reserve(leaves.size());
    for (CConfigLeaf& leaf : leaves)
        values.push_back(std::move(leaf.value));
    return values;
}

CConfigLock::CConfigLock(const CConfigAccessor& accessor) : tree_(accessor.GetTree()) { tree_->lock(); }

CConfigLock::~CConfigLock() { tree_->unlock(); }

CConfigReadLock::CConfigReadLock(const CConfigAccessor& accessor) : tree_(accessor.GetTree())
{
    tree_->lock_shared();
}

CConfigReadLock::~CConfigReadLock() { tree_->unlock_shared(); }
