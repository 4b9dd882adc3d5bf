#pragma once
// The about box: the program's name and version, its release history, and two pictures
// that click.

#include <QDialog>

class CClickedStatic;
class QLabel;
class QPlainTextEdit;

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "バージョン情報 Vollmark";
    static constexpr const char* kVersionText = "Vollmark Version 1.07";

    explicit CAboutDialog(QWidget* parent = nullptr);

    QLabel* GetVersionLabel() const { return version_; }
    QPlainTextEdit* GetHistory() const { return history_; }
    CClickedStatic* GetPicture(int index) const { return pictures_[index]; }

signals:
    // A picture was clicked: the application plays its click.
    void pictureClicked();

private:
    QLabel* version_;
    QPlainTextEdit* history_;
    CClickedStatic* pictures_[2];
};
