#include "core/UserTable.h"

#include "core/EntryNodes.h"
#include "core/PathEntryRules.h"

CReportRow UserRow(const std::string& name, const std::string& password, const std::string& comment)
{
    return CReportRow{0, name, {comment}, {password}, 0};
}

std::vector<CReportRow> ReadUserRows(const CConfigAccessor& setting, const schema::NodeKey& accounts)
{
    return ReadEntries(setting.GetSubAccessor(accounts.path), [](const CConfigAccessor& account) {
        return UserRow(schema::kUserName.Read(account, schema::kControllerDefault),
                       schema::kUserPassword.Read(account, schema::kControllerDefault),
                       schema::kUserComment.Read(account, schema::kControllerDefault));
    });
}

void StoreUserRows(const CConfigAccessor& setting, const schema::NodeKey& accounts, const CReportRowArray& rows)
{
    CConfigLock lock(setting);
    setting.RemoveSection(accounts.path);
    const CConfigAccessor node = setting.GetSubAccessor(accounts.path);
    for (int i = 0; i < rows.GetSize(); ++i) {
        const CReportRow& row = rows.GetAt(i);
        // Such a name would make nodes instead of an account, or write onto the list node.
        if (row.key.empty() || HoldsSettingsSeparator(row.key))
            continue;
        const CConfigAccessor account = node.GetSubAccessor(row.key);
        account.SetString(schema::kUserName.path, row.key);
        account.SetString(schema::kUserPassword.path, TextAt(row.hidden, 0));
        account.SetString(schema::kUserComment.path, TextAt(row.columns, 0));
    }
}

CReportRow ImportRow(const ImportedUser& user)
{
    return CReportRow{0, user.name, {user.password, user.comment}, {}, 0};
}

ImportedUser ImportedUserOfRow(const CReportRow& row)
{
    return {row.key, TextAt(row.columns, 0), TextAt(row.columns, 1)};
}
