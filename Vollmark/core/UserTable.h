#pragma once
// The server's accounts as the users dialog lists them. Enabled users live under
// "User::Enable", which the server reads; disabled users under "User::Disable", which only
// the controller keeps, so that an account can be switched off without being deleted. Each
// account is a child node with the leaves User, Passwd and Comment; in a list it is a row
// whose key is the user name, whose first column is the comment and whose first hidden
// value is the password, which the lists never show. Texts are CP932.

#include "core/ReportRow.h"
#include "core/UserImport.h"

#include "ConfigAccessor.h"
#include "SettingsSchema.h"

#include <string>
#include <vector>

// The list row of an account.
CReportRow UserRow(const std::string& name, const std::string& password, const std::string& comment);

// The rows of the accounts under `accounts` (schema::kEnabledUsers or kDisabledUsers) of
// `setting` (a "Setting" node), in stored order, each child read by its leaves whatever the
// child's name. Creates no node.
std::vector<CReportRow> ReadUserRows(const CConfigAccessor& setting, const schema::NodeKey& accounts);

// Replaces `accounts` of `setting` with one child per row, named after the user, in row
// order, as one step of the tree. A row the tree cannot hold as a child (an empty name, or
// one holding "::") is left out; with no row left the node is gone.
void StoreUserRows(const CConfigAccessor& setting, const schema::NodeKey& accounts, const CReportRowArray& rows);

// The import dialog's row of an account read from a file: key = user name, columns = the
// password (shown in clear there) and the comment.
CReportRow ImportRow(const ImportedUser& user);
// The account such a row shows; missing columns read as "".
ImportedUser ImportedUserOfRow(const CReportRow& row);
