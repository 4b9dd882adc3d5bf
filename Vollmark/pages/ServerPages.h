#pragma once
// The four pages of the sheet "サーバ基本設定": network and keep-alive, the index file
// names, the log files, and HTTPS. Each page edits the live "Setting" node: it loads when
// first shown, taking the default the controller shows for a missing key
// (common/SettingsSchema.h), and stores every one of its fields when it is left (so a
// page's defaults reach the file the first time it is visited and the sheet ends with OK).
// A page never shown stores nothing. The sheet's owner brackets it with a snapshot
// (RunSettingsSheet), so Cancel undoes what was stored.
// The settings must outlive the pages.
//
// Controls carry object names (given beside each member) for tests to find them.

#include "core/SslSettings.h"
#include "gui/PropertySheet.h"

#include "ConfigAccessor.h"

#include <vector>

class CControllerSettings;
class CReportListCtrl;
class QCheckBox;
class QLineEdit;

namespace gui {
class CDataExchange;
}

// "ネットワーク設定": the port, connection limits, time-out and keep-alive.
class CServerPage1 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CServerPage1(const CConfigAccessor& setting, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Refuses, naming the accepted range, a field that is no unsigned number or out of it.
    bool OnKillActive() override;

private:
    void DoDataExchange(gui::CDataExchange& dx);

    CConfigAccessor setting_;
    unsigned port_ = 0;
    unsigned maxConnect_ = 0;
    unsigned timeOut_ = 0;
    unsigned maxOneHostConnect_ = 0;
    int enableKeepAlive_ = 0;
    unsigned maxKeepAlive_ = 0;
    unsigned keepAliveTime_ = 0;
    QLineEdit* portEdit_;               // "port"
    QLineEdit* maxConnectEdit_;         // "maxConnect"
    QLineEdit* timeOutEdit_;            // "timeOut"
    QLineEdit* maxOneHostConnectEdit_;  // "maxOneHostConnect"
    QCheckBox* enableKeepAliveCheck_;   // "enableKeepAlive"
    QLineEdit* maxKeepAliveEdit_;       // "maxKeepAlive"
    QLineEdit* keepAliveTimeEdit_;      // "keepAliveTime"
};

// "インデックスファイル名": the names the server tries for a folder, in the order it tries
// them. The list never holds a name twice and is never sorted.
class CServerPage2 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CServerPage2(const CConfigAccessor& setting, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Always lets go.
    bool OnKillActive() override;

private:
    void OnAdd();
    void OnDelete();
    // Swaps the first selected row with the one `step` away; beeps when there is none.
    void OnMove(int step);

    CConfigAccessor setting_;
    CReportListCtrl* list_;  // "indexList"
    QLineEdit* name_;        // "indexName"; the buttons are "add", "delete", "up", "down"
};

// "ログファイル": the request log's name and line format and the system log's name
// (core/LogSettings.h).
class CServerPage3 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CServerPage3(const CConfigAccessor& setting, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Always lets go: the texts are stored as they stand.
    bool OnKillActive() override;

private:
    CConfigAccessor setting_;
    // "logFilePath", "logFormat", "systemLogFilePath", in the order of their keys; each
    // one's "標準に戻す" is its name followed by "Default"; "apache互換" is "apacheFormat".
    std::vector<QLineEdit*> edits_;
};

// "SSL/TLS (HTTPS)": whether the server serves HTTPS, on which port, with which key,
// pass phrase and certificate (core/SslSettings.h).
class CServerPage4 : public gui::CPropertyPage {
    Q_OBJECT
public:
    explicit CServerPage4(const CControllerSettings& settings, QWidget* parent = nullptr);

    void OnInitDialog() override;
    // Refuses a port that is no unsigned number or above 65535.
    bool OnKillActive() override;

private:
    void DoDataExchange(gui::CDataExchange& dx);
    // After a generation the fields name the new key, its certificate and its pass phrase.
    void OnMakeKey();
    // Offers PEM files (CRT files first with `certificate`) from the field's file on; the
    // chosen one replaces the field, a cancel changes nothing.
    void OnBrowse(QLineEdit* field, bool certificate);

    const CControllerSettings& settings_;
    SslSettings ssl_;            // the check box and the port between the exchanges
    QCheckBox* enableSslCheck_;  // "enableSsl"
    QLineEdit* portEdit_;        // "sslPort"
    QLineEdit* privateKey_;      // "privateKey"; its chooser is "browseKey"
    QLineEdit* password_;        // "password"
    QLineEdit* certificate_;     // "certificate"; its chooser is "browseCertificate"
                                 // "makeKey" opens the key and certificate dialog
};
