#pragma once
// "公開鍵とサイト証明書の作成": makes the HTTPS listener's key and self-signed certificate,
// and optionally a signing request for a certification authority, with CKeyGenerator. It
// writes files only and changes no settings; what it made is there for the SSL page to
// take. Modal, opened from the SSL settings page; it ends with OK only once every file is
// in place. Files already there are replaced only when the user agrees, and kept as
// NAME.bak.
//
// Controls carry object names (given beside each member) for tests to find them.

#include "core/SslSettings.h"

#include <QDialog>

#include <string>

class CControllerSettings;
class QCheckBox;
class QLineEdit;

namespace gui {
class CDataExchange;
}

class CKeyGenDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "公開鍵とサイト証明書の作成";
    // The texts the user is shown, in "Tarnwick" message boxes.
    static constexpr const char* kPassPhraseText = "パスワードが一致しないか、空欄です。";
    static constexpr const char* kCountryText = "国名は2文字です。";
    static constexpr const char* kKeyFailedText = "RSA秘密鍵の生成に失敗しました。";
    static constexpr const char* kRequestFailedText = "認証要求ファイルの生成に失敗しました。";
    static constexpr const char* kCertificateFailedText = "サイト証明書の生成に失敗しました。";
    static constexpr const char* kDoneText = "秘密鍵とサイト証明書の生成に成功しました。";
    // Followed by the files, one a line.
    static constexpr const char* kReplaceText =
        "次のファイルはすでにあります。置き換えますか？\r\n元のファイルは、名前に .bak を付けて残します。";

    // The file fields start in the SSLKey folder of the root `settings` was loaded from, the
    // country at "JP", the validity at 0 to 3650 days.
    explicit CKeyGenDialog(const CControllerSettings& settings, QWidget* parent = nullptr);

    // "作成": checks the fields, asks before replacing files that are there, writes the
    // files and closes with OK; on any failure the user is told which file failed and why,
    // and the dialog stays open with its fields, as it does when the user declines.
    void accept() override;

    // After it closed with OK: the files it made and the pass phrase the key opens with.
    GeneratedKey GetGeneratedKey() const;

private:
    void DoDataExchange(gui::CDataExchange& dx);
    // The platform's save-file chooser, starting beside the field's file.
    void Browse(QLineEdit* field, const char* extension, const char* fileName);
    // Writes the files; false when the user was told of a failure.
    bool Generate();

    QLineEdit* keyFile_;          // "keyFile", chosen with "browseKey"
    QLineEdit* passPhrase_;       // "passPhrase"
    QLineEdit* passPhraseAgain_;  // "passPhraseAgain"
    QLineEdit* certificateFile_;  // "certificateFile", chosen with "browseCertificate"
    QLineEdit* country_;          // "country"
    QLineEdit* state_;            // "state"
    QLineEdit* locality_;         // "locality"
    QLineEdit* organization_;     // "organization"
    QLineEdit* unit_;             // "unit"
    QLineEdit* commonName_;       // "commonName"
    QLineEdit* email_;            // "email"
    QLineEdit* startDays_;        // "startDays"
    QLineEdit* endDays_;          // "endDays"
    QCheckBox* makeRequest_;      // "makeRequest"
    QLineEdit* requestFile_;      // "requestFile", chosen with "browseRequest"
    // Buttons: "create", "cancel".

    struct Fields {
        std::string keyFile, passPhrase, passPhraseAgain, certificateFile;
        std::string country, state, locality, organization, unit, commonName, email;
        int startDays = 0;
        int endDays = 0;
        int makeRequest = 0;
        std::string requestFile;
    } fields_;
};
