#pragma once
// Tabbed property sheets as the settings pages expect them, which QTabWidget alone does not
// give: a page loads its controls the first time it is shown (pages never shown store
// nothing), and may refuse to be left, on a tab change and on OK alike, after telling the
// user why.

#include <QDialog>

#include <string>
#include <vector>

class QDialogButtonBox;
class QTabWidget;

namespace gui {

class CPropertySheet;

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    // `title` is the tab's text and the page's window title.
    explicit CPropertyPage(const std::string& title, QWidget* parent = nullptr);

    const std::string& GetTitle() const { return title_; }
    // Whether OnInitDialog has run.
    bool IsInitialized() const { return initialized_; }

    // Once, before the page is first shown: fill the controls.
    virtual void OnInitDialog() {}
    // Each time the page comes to the front.
    virtual void OnSetActive() {}
    // The page is being left (another tab, or OK): validate and store. False keeps it in
    // front; the page has then told the user why. It runs only once every text field of
    // the page holds text the settings can keep (gui::CheckCp932Fields).
    virtual bool OnKillActive() { return true; }
    // The sheet's OK, for every initialised page, after the active page let go.
    virtual void OnOK() {}
    // The sheet's Cancel, for every initialised page.
    virtual void OnCancel() {}

private:
    friend class CPropertySheet;
    void EnsureInitialized();

    std::string title_;
    bool initialized_ = false;
};

class CPropertySheet : public QDialog {
    Q_OBJECT
public:
    explicit CPropertySheet(const std::string& caption, QWidget* parent = nullptr);

    // The sheet takes the page (as its Qt parent); pages keep the order they were added in.
    void AddPage(CPropertyPage* page);
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPage* GetPage(int index) const { return pages_.at(static_cast<size_t>(index)); }
    int GetActiveIndex() const { return active_; }

    // Brings the page to the front unless the current one refuses to be left; whether it
    // did. Before the sheet is shown it only chooses the first page to show.
    bool SetActivePage(int index);

    // OK: the active page must let go, then every initialised page stores and the sheet
    // closes with Accepted. False (the sheet stays) when the active page refused.
    bool PressOk();
    // Cancel: every initialised page hears of it and the sheet closes with Rejected.
    void PressCancel();

    // exec() as the platform's numbers: kIdOk or kIdCancel.
    int DoModal();

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTabChanged(int index);
    // The page's own OnKillActive, after every text field passed CheckCp932Fields.
    bool LetGo(CPropertyPage& page);

    QTabWidget* tabs_;
    QDialogButtonBox* buttons_;
    std::vector<CPropertyPage*> pages_;
    int active_ = -1;
    bool shown_ = false;
    bool reverting_ = false;  // a refused change is being undone: not a new change
};

}  // namespace gui
