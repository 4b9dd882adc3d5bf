#include "core/SettingsSnapshot.h"

#include "CRuntime.h"

#include <charconv>

namespace {

// The stored value of a node's first leaf with exactly this key; null when there is none.
const std::string* StoredValue(const std::vector<CConfigLeaf>& leaves, std::string_view key)
{
    for (const CConfigLeaf& leaf : leaves)
        if (leaf.key == key)
            return &leaf.value;
    return nullptr;
}

std::vector<CConfigLeaf> LeavesOf(const CConfigAccessor& node)
{
    std::vector<CConfigLeaf> leaves;
    node.GetLeaves(leaves);
    return leaves;
}

// The server's filter leaves a text without '%' as it is.
bool MayBeFiltered(std::string_view text) { return text.find('%') != std::string_view::npos; }

}  // namespace

std::string_view CSettingsSnapshot::Text::Read(std::string& scratch) const
{
    if (!filtered_)
        return stored_;
    scratch = tree_->FilterValue(key_, stored_);
    return scratch;
}

std::string CSettingsSnapshot::Text::ReadCopy() const
{
    return filtered_ ? tree_->FilterValue(key_, stored_) : stored_;
}

int CSettingsSnapshot::Number::Read() const
{
    return filtered_ ? platform::Atoi(tree_->FilterValue(key_, stored_)) : value_;
}

CSettingsSnapshot::CSettingsSnapshot(const CConfigAccessor& settings)
    : settings_(settings), tree_(settings.GetTree())
{
    // One shared hold for all of it: the tree is seen in one state, and a read of a
    // missing node within it creates nothing.
    CConfigReadLock lock(settings_);
    writeCount_ = tree_->GetWriteCount();

    const CConfigAccessor pathList = settings_.GetSubAccessor(schema::kPath.path);
    std::vector<std::string> names;
    pathList.GetSections(names);
    paths_.reserve(names.size());
    for (const std::string& name : names)
        paths_.push_back(LoadEntry(name));

    // A key stored twice reads its first leaf both times, as GetString would.
    const std::vector<CConfigLeaf> index = LeavesOf(settings_.GetSubAccessor(schema::kIndex.path));
    indexNames_.reserve(index.size());
    for (const CConfigLeaf& leaf : index) {
        Text name;
        Load(name, index, leaf.key, "");
        indexNames_.push_back(std::move(name));
    }

    for (CConfigLeaf& leaf : LeavesOf(settings_.GetSubAccessor(schema::kSsi.path)))
        ssi_.push_back(std::move(leaf.value));

    const CConfigAccessor accounts = settings_.GetSubAccessor(schema::kEnabledUsers.path);
    accounts.GetSections(names);
    for (const std::string& name : names) {
        const std::vector<CConfigLeaf> leaves = LeavesOf(accounts.GetSubAccessor(name));
        const std::string* user = StoredValue(leaves, schema::kUserName.path);
        const std::string* password = StoredValue(leaves, schema::kUserPassword.path);
        accounts_.push_back({user ? *user : std::string(), password ? *password : std::string()});
    }

    const std::vector<CConfigLeaf> log = LeavesOf(settings_.GetSubAccessor(schema::kLogFormat.node));
    Load(logFormat_, log, schema::kLogFormat.leaf, schema::kLogFormat.serverDefault);
    const std::vector<CConfigLeaf> html = LeavesOf(settings_.GetSubAccessor(schema::kHtmlFileDirectory.node));
    Load(htmlFileDirectory_, html, schema::kHtmlFileDirectory.leaf, schema::kHtmlFileDirectory.serverDefault);
}

CSettingsSnapshot::PathEntry CSettingsSnapshot::LoadEntry(const std::string& name) const
{
    PathEntry entry;
    entry.name = name;
    const CConfigAccessor view = settings_.GetSubAccessor(schema::kPath.path).GetSubAccessor(name);
    const std::vector<CConfigLeaf> leaves = LeavesOf(view);
    Load(entry.virtualHost, leaves, schema::kVirtualHost.path, schema::kVirtualHost.serverDefault);
    Load(entry.serverPath, leaves, schema::kServerPath.path, schema::kServerPath.serverDefault);
    Load(entry.localPath, leaves, schema::kLocalPath.path, schema::kLocalPath.serverDefault);
    Load(entry.forward, leaves, schema::kForward.path, schema::kForward.serverDefault);
    Load(entry.info, leaves, schema::kInfo.path, schema::kInfo.serverDefault);
    entry.users = view.GetSubAccessor(schema::kUsers.path).GetLeafValues();
    entry.kickAccept = view.GetSubAccessor(schema::kKickAccept.path).GetLeafValues();
    entry.kickDenied = view.GetSubAccessor(schema::kKickDenied.path).GetLeafValues();

    const std::vector<CConfigLeaf> options = LeavesOf(view.GetSubAccessor(schema::kOptions));
    const auto load = [&](Number& number, const schema::NumberKey& key) {
        Load(number, options, key.leaf, key.serverDefault);
    };
    load(entry.enableIndex, schema::kEnableIndex);
    load(entry.enableHiddenFile, schema::kEnableHiddenFile);
    load(entry.enableWrite, schema::kEnableWrite);
    load(entry.enableWebDav, schema::kEnableWebDav);
    load(entry.enableSsiCgi, schema::kEnableSsiCgi);
    load(entry.enableAuthenticate, schema::kEnableAuthenticate);
    load(entry.enableBandWidthLimit, schema::kEnableBandWidthLimit);
    load(entry.enableHostKick, schema::kEnableHostKick);
    load(entry.acceptHttp, schema::kAcceptHttp);
    load(entry.acceptHttps, schema::kAcceptHttps);
    return entry;
}

void CSettingsSnapshot::Load(Text& text, const std::vector<CConfigLeaf>& node, std::string_view key,
                             std::string_view defaultValue) const
{
    const std::string* stored = StoredValue(node, key);
    text.tree_ = tree_;
    text.key_ = key;
    text.stored_ = stored ? std::string(*stored) : std::string(defaultValue);
    text.filtered_ = MayBeFiltered(text.stored_);
}

void CSettingsSnapshot::Load(Number& number, const std::vector<CConfigLeaf>& node, std::string_view key,
                             int defaultValue) const
{
    const std::string* stored = StoredValue(node, key);
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, defaultValue);
    const std::string text = stored ? *stored : std::string(digits, end.ptr);
    number.tree_ = tree_;
    number.key_ = key;
    number.filtered_ = MayBeFiltered(text);
    if (number.filtered_)
        number.stored_ = text;
    else
        number.value_ = platform::Atoi(text);
}
