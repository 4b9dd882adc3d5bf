#pragma once
// The three pages of the sheet "SSI/CGIの設定": the CGI handlers, the extensions whose files
// get server-side includes, and whether scripts learn the client's host name. Each page
// edits the live "Setting" node: it loads when first shown and stores when left
// (or on OK while in front); a page never shown stores nothing. The sheet's owner brackets
// the sheet with a snapshot, so Cancel undoes what the pages stored.
// The settings must outlive the pages. The server takes the stored values at its next start.
//
// Controls carry object names (given beside each member) for tests to find them.

#include "gui/PropertySheet.h"

#include "ConfigAccessor.h"

class CControllerSettings;
class CReportListCtrl;
struct CReportRow;
class QCheckBox;
class QLineEdit;
class QPushButton;

// "CGI設定": the handlers under Setting::CGI, one list row each (core/CgiTable.h), kept in
// the order given.
class CSIICGIPage1 : public gui::CPropertyPage {
    Q_OBJECT
public:
    // `settings` gives the server root that the program chooser starts from.
    explicit CSIICGIPage1(const CControllerSettings& settings, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Stores the rows as CGI_00, CGI_01 ... in list order; always lets go.
    bool OnKillActive() override;

protected:
    // A click anywhere in the list: the first selected row fills the edits.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The row the edits describe; false (the user told why) when it may not be stored.
    bool MakeRow(CReportRow& row);
    void OnListClick();
    void OnExecutableClicked();
    void OnAdd();
    void OnReplace();
    void OnDelete();
    void OnMove(int step);
    void OnAppendPlaceholders();
    void OnBrowse();

    const CControllerSettings& settings_;
    CReportListCtrl* list_;   // "cgiList"
    QLineEdit* ext_;          // "fileExt"
    QLineEdit* header_;       // "fileHeader"
    QLineEdit* command_;      // "command"; the chooser is "browse", "appendPlaceholders"
    QCheckBox* executable_;   // "executeFile"
    QPushButton* replace_;    // "replace"; the others are "add", "delete", "up", "down"
};

// "SSI設定": the extensions under Setting::SSI, shown sorted, equal names once.
class CSSICGIPage2 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CSSICGIPage2(const CConfigAccessor& setting, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Stores the names in list order; always lets go.
    bool OnKillActive() override;

private:
    void OnAdd();

    CConfigAccessor setting_;
    CReportListCtrl* list_;  // "ssiList"; "ssiDelete" removes its selected rows
    QLineEdit* name_;        // "ssiExt"; "ssiAdd" adds it
};

// "環境変数": whether REMOTE_HOST gets the client's host name.
class CSSICGIPage3 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CSSICGIPage3(const CConfigAccessor& setting, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Always lets go.
    bool OnKillActive() override;

private:
    CConfigAccessor setting_;
    QCheckBox* getHostName_;  // "enableGetHostName"
};
