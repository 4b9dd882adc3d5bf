#pragma once
// The debug dialog's about box: the program's icon, name and version, and OK.

#include <QDialog>

class CDebugAboutDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "バージョン情報 Tarnwick";
    static constexpr const char* kVersionText = "Tarnwick Version 1.0";

    explicit CDebugAboutDialog(QWidget* parent = nullptr);
};
