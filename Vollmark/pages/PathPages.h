#pragma once
// The four pages of a path entry's property sheet: where it is served from, what it
// allows, who may log in, and which hosts may come in. Each page edits `entry`, the path
// entry in a scratch settings tree that the sheet's owner copies back on OK. A page loads
// when first shown, creating no node in the entry; on being left it checks what it holds
// (telling the user what is wrong and keeping the front when anything is) and stores it.
// A page never shown stores nothing.
// The settings and the entry's tree must outlive the pages.
//
// Controls carry object names (given beside each member) for tests to find them.

#include "gui/PropertySheet.h"

#include "ConfigAccessor.h"

#include <string>
#include <vector>

class CControllerSettings;
class CReportListCtrl;
class QCheckBox;
class QLineEdit;

// "基本設定": description, server path, local path, forward, virtual host.
class CPathPage1 : public gui::CPropertyPage {
    Q_OBJECT
public:
    // `settings` gives the server root that the folder chooser starts from.
    CPathPage1(const CControllerSettings& settings, const CConfigAccessor& entry, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Refuses an entry without its required fields; writes the paths with their
    // separators (the edits show what was stored).
    bool OnKillActive() override;

private:
    void OnVirtualHostClicked();
    void OnBrowse();

    const CControllerSettings& settings_;
    CConfigAccessor entry_;
    QLineEdit* info_;             // "info"
    QLineEdit* serverPath_;       // "serverPath"
    QLineEdit* localPath_;        // "localPath"; the chooser is "browse"
    QLineEdit* forward_;          // "forward"
    QCheckBox* useVirtualHost_;   // "useVirtualHost"
    QLineEdit* virtualHost_;      // "virtualHost"
};

// "詳細設定": the eight switches of the entry's Options node.
class CPathPage2 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CPathPage2(const CConfigAccessor& entry, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Asks before storing writes together with SSI/CGI; No keeps the page and stores nothing.
    bool OnKillActive() override;

private:
    CConfigAccessor options_;
    std::vector<QCheckBox*> flags_;  // named after their keys ("EnableIndex" ...)
};

// "ユーザー認証": whether the entry asks for a login, and which of the server's users may.
class CPathPage3 : public gui::CPropertyPage {
    Q_OBJECT
public:
    // `settings` gives the server's registered users.
    CPathPage3(const CControllerSettings& settings, const CConfigAccessor& entry, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Always lets go.
    bool OnKillActive() override;

private:
    void OnAddUsers();

    const CControllerSettings& settings_;
    CConfigAccessor entry_;
    QCheckBox* enable_;             // "enableAuthenticate"
    CReportListCtrl* allowed_;      // "allowedUsers"; "←" is "addUsers", "→" "removeUsers"
    CReportListCtrl* registered_;   // "registeredUsers"
};

// "アクセス制限": whether the entry checks hosts, the accepted and denied patterns, and a
// test of one address against them.
class CPathPage4 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CPathPage4(const CConfigAccessor& entry, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Always lets go.
    bool OnKillActive() override;

    // The patterns of an address file the user chooses; none when cancelled or unreadable.
    std::vector<std::string> ReadAddressFile();

private:
    // One list with its own address edit and buttons; object names start with `name`
    // ("accept", "deny"), followed by "List", "Addr", "Add", "Delete", "Import".
    struct HostList {
        CReportListCtrl* list = nullptr;
        QLineEdit* address = nullptr;
    };

    QWidget* NewHostList(HostList& hostList, const char* name, const std::string& title, int icon);
    void OnAdd(HostList& hostList);
    void OnImport(HostList& hostList);
    void OnTest();
    // CheckAddress, telling the user the form when it fails.
    bool CheckAddressWithMessage(const std::string& text);

    CConfigAccessor entry_;
    QCheckBox* enable_;     // "enableHostKick"
    HostList accept_;
    HostList deny_;
    QLineEdit* testAddress_;  // "testAddr"; its button is "test"
};
