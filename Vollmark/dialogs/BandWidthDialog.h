#pragma once
// The server's six bandwidth limits (core/BandWidthLimits.h). OK stores them in the live
// settings and saves the file; the server takes them in at its next start. Cancel stores
// nothing. The settings must outlive the dialog.
//
// Fields carry object names for tests: "sendServer", "sendHost", "sendConnect",
// "recvServer", "recvHost", "recvConnect"; the note is "note", the buttons "ok" and
// "cancel".

#include "core/BandWidthLimits.h"

#include <QDialog>

#include <array>

class CControllerSettings;
class QLineEdit;

class CBandWidthDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "帯域幅制限";
    static constexpr int kFieldCount = kBandWidthLimitCount;

    // Shows the stored limits; a missing one, or one the server reads as no limit, as 0.
    explicit CBandWidthDialog(CControllerSettings& settings, QWidget* parent = nullptr);

    // A field that holds no whole number from 0 to 4294967295 is named to the user and the
    // dialog stays; otherwise the six are stored, the settings saved and the dialog closed.
    void accept() override;

private:
    // Fills the fields from the values, or (`save`) reads them back; false when a field
    // failed its check, which the user has been told.
    bool UpdateData(bool save);

    CControllerSettings& settings_;
    std::array<QLineEdit*, kFieldCount> fields_{};
    BandWidthLimits values_{};
};
