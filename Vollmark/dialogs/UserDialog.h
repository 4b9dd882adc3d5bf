#pragma once
// The accounts that Basic authentication accepts, enabled and disabled (core/UserTable.h).
// The users dialog edits both as two lists and touches the settings only on OK; the import
// dialog fills its list from an account file for the users dialog to take over.
// The settings must outlive the users dialog.
//
// Controls carry object names (given beside each member) for tests to find them.

#include "core/UserImport.h"

#include <QDialog>

#include <string>
#include <vector>

class CControllerSettings;
class CReportListCtrl;
struct CReportRow;
class QLineEdit;

// "ユーザー設定". Rows as core/UserTable.h makes them.
class CUserDialog : public QDialog {
    Q_OBJECT
public:
    explicit CUserDialog(CControllerSettings& settings, QWidget* parent = nullptr);

    // Fills both lists from the settings, each child of a node by its leaves (whatever the
    // child's name), an equal user name replaced.
    void LoadUsers();
    // Writes both nodes whole in list order, saves the settings file and closes with OK.
    // A row the tree cannot hold as a child (an empty name, or one with "::") is left out.
    void OnOK();

private:
    // Refuses an empty name and one holding ':'; asks before replacing a listed user.
    void OnAdd();
    void OnDelete();
    // Asks once before replacing users already listed; the answer holds for the whole file.
    void OnImport();
    // Whether either list holds a user of that name.
    bool IsRegistered(const std::string& name) const;
    // A row of an existing disabled user replaces it there; any other goes to the enabled
    // list, replacing an equal name. The list that takes it is shown sorted.
    void PlaceRow(const CReportRow& row);

    CControllerSettings& settings_;
    CReportListCtrl* enabled_;   // "enabledUsers"; "→" is "disableUsers"
    CReportListCtrl* disabled_;  // "disabledUsers"; "←" is "enableUsers"
    QLineEdit* name_;            // "userName"
    QLineEdit* password_;        // "password"
    QLineEdit* comment_;         // "comment"
    // Buttons: "add", "delete", "import", "ok", "cancel".
};

// "インポート". Rows as core/UserTable.h makes them of imported accounts.
class CUserImportDialog : public QDialog {
    Q_OBJECT
public:
    explicit CUserImportDialog(QWidget* parent = nullptr);

    // Shows the accounts of the file at `path` (CP932) instead of the rows shown before,
    // sorted, an equal name replaced. Lines that Shift-JIS cannot hold and names holding
    // ':' are left out, and the user is told their line numbers in one message; an
    // unreadable file leaves the list empty without a word.
    void ImportFile(const std::string& path);
    // The rows shown, in list order.
    std::vector<ImportedUser> GetUsers() const;

private:
    void OnOpen();

    CReportListCtrl* list_;  // "importList"; buttons "open", "ok", "cancel"
};
