#include "ConfigAccessor.h"

#include "CRuntime.h"

CConfigAccessor::CConfigAccessor(CConfigClass* tree, const std::string& prefix)
    : prefix_(AppendPathSeparator(prefix)), tree_(tree)
{
}

std::string CConfigAccessor::GetString(const std::string& key, const std::string& defaultValue,
                                       int ignoreCase) const
{
    return tree_->GetValue(prefix_ + key, defaultValue, ignoreCase);
}

void CConfigAccessor::SetString(const std::string& key, const std::string& value) const
{
    tree_->SetValue(prefix_ + key, value);
}

int CConfigAccessor::GetInt(const std::string& key, int defaultValue, int ignoreCase) const
{
    return platform::Atoi(GetString(key, std::to_string(defaultValue), ignoreCase));
}

void CConfigAccessor::SetInt(const std::string& key, int value) const { SetString(key, std::to_string(value)); }

void CConfigAccessor::SetInt64(const std::string& key, int64_t value) const
{
    SetString(key, std::to_string(value));
}

CConfigAccessor CConfigAccessor::GetSubAccessor(const std::string& name) const
{
    return CConfigAccessor(tree_, prefix_ + name);
}

void CConfigAccessor::RemoveSection(const std::string& name) const { tree_->RemoveNode(prefix_ + name); }

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

std::string CConfigAccessor::ExpandVariables(const std::string& text, const std::string& substitute) const
{
    return tree_->ExpandVariables(prefix_, text, substitute);
}

void CConfigAccessor::GetLeaves(std::vector<CConfigLeaf>& leaves) const { tree_->GetLeaves(prefix_, leaves); }

CConfigLock::CConfigLock(const CConfigAccessor& accessor) : tree_(accessor.GetTree()) { tree_->lock(); }

CConfigLock::~CConfigLock() { tree_->unlock(); }
