#include "core/PathEntryList.h"

#include "SettingsSchema.h"

namespace {

// A box naming more entries than this would outgrow the screen; the rest are counted.
constexpr size_t kNamedEntriesMax = 10;

const char kDeleteIntro[] = "次のパスを削除します。";
const char kLeavesNoneText[] = "パスが１つもなくなるため、サーバはどのリクエストにも応答しなくなります。";
const char kDeleteQuestion[] = "削除してもよろしいですか？";
const char kNoEntryWarning[] = "※パスが１つもないため、サーバはどのリクエストにも応答しません。";

// The entry's description and address, or what there is of them.
std::string EntryLabel(const CConfigAccessor& entry, const std::string& name)
{
    const std::string info = schema::kInfo.Read(entry, schema::kControllerDefault);
    const std::string address = PathEntryAddress(entry);
    std::string label = info.empty() ? address : address.empty() ? info : info + " (" + address + ")";
    return label.empty() ? name : label;
}

}  // namespace

std::string PathEntryAddress(const CConfigAccessor& entry)
{
    const std::string host = schema::kVirtualHost.Read(entry, schema::kControllerDefault);
    const std::string serverPath = schema::kServerPath.Read(entry, schema::kControllerDefault);
    return host != "*" ? "<" + host + "> " + serverPath : serverPath;
}

PathDeletion PlanPathDeletion(const CConfigAccessor& path)
{
    std::vector<std::string> names;
    PathDeletion deletion;
    std::string listed;
    {
        CConfigReadLock lock(path);
        path.GetSections(names);
        for (const std::string& name : names) {
            const CConfigAccessor entry = path.GetSubAccessor(name);
            if (schema::kSelected.Read(entry, schema::kControllerDefault) == 0)
                continue;
            if (deletion.names.size() < kNamedEntriesMax)
                listed += "　" + EntryLabel(entry, name) + "\n";
            deletion.names.push_back(name);
        }
    }
    if (deletion.names.empty())
        return deletion;
    if (deletion.names.size() > kNamedEntriesMax)
        listed += "　ほか " + std::to_string(deletion.names.size() - kNamedEntriesMax) + " 件\n";
    deletion.leavesNone = deletion.names.size() == names.size();
    deletion.question = std::string(kDeleteIntro) + "\n" + listed + "\n" +
                        (deletion.leavesNone ? std::string(kLeavesNoneText) + "\n" : std::string()) + kDeleteQuestion;
    return deletion;
}

std::string NoPathEntryWarning(const CConfigAccessor& setting)
{
    CConfigReadLock lock(setting);
    std::vector<std::string> entries;
    setting.GetSubAccessor(schema::kPath.path).GetSections(entries);
    return entries.empty() ? kNoEntryWarning : "";
}
