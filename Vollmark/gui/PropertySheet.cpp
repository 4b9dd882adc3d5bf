#include "gui/PropertySheet.h"

#include "gui/DataExchange.h"
#include "gui/QtText.h"
#include "gui/UserPrompts.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace gui {

namespace {

const char kOkText[] = "OK";
const char kCancelText[] = "キャンセル";

}  // namespace

CPropertyPage::CPropertyPage(const std::string& title, QWidget* parent) : QWidget(parent), title_(title)
{
    // Also as the window title, by which gui::FieldName knows the page without knowing pages.
    setWindowTitle(ToQString(title));
}

void CPropertyPage::EnsureInitialized()
{
    if (initialized_)
        return;
    initialized_ = true;
    OnInitDialog();
}

CPropertySheet::CPropertySheet(const std::string& caption, QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)), buttons_(new QDialogButtonBox(this))
{
    setWindowTitle(ToQString(caption));
    buttons_->addButton(ToQString(kOkText), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons_->addButton(ToQString(kCancelText), QDialogButtonBox::RejectRole);
    connect(buttons_, &QDialogButtonBox::accepted, this, &CPropertySheet::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &CPropertySheet::reject);
    connect(tabs_, &QTabWidget::currentChanged, this, &CPropertySheet::OnTabChanged);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons_);
}

void CPropertySheet::AddPage(CPropertyPage* page)
{
    pages_.push_back(page);
    // Adding the first tab makes it current; that is not the user leaving a page.
    reverting_ = true;
    tabs_->addTab(page, ToQString(page->GetTitle()));
    reverting_ = false;
    if (active_ < 0)
        active_ = 0;
}

bool CPropertySheet::SetActivePage(int index)
{
    if (index < 0 || index >= GetPageCount())
        return false;
    if (!shown_) {
        active_ = index;
        reverting_ = true;
        tabs_->setCurrentIndex(index);
        reverting_ = false;
        return true;
    }
    tabs_->setCurrentIndex(index);
    return active_ == index;
}

bool CPropertySheet::LetGo(CPropertyPage& page)
{
    // Before the page reads its fields: what it stores must be text the settings can keep.
    return CheckCp932Fields(&page) && page.OnKillActive();
}

void CPropertySheet::OnTabChanged(int index)
{
    if (reverting_ || !shown_ || index == active_ || index < 0)
        return;
    if (active_ >= 0 && !LetGo(*pages_[static_cast<size_t>(active_)])) {
        reverting_ = true;
        tabs_->setCurrentIndex(active_);
        reverting_ = false;
        return;
    }
    active_ = index;
    CPropertyPage* page = pages_[static_cast<size_t>(index)];
    page->EnsureInitialized();
    page->OnSetActive();
}

void CPropertySheet::showEvent(QShowEvent* event)
{
    if (!shown_ && active_ >= 0) {
        shown_ = true;
        CPropertyPage* page = pages_[static_cast<size_t>(active_)];
        page->EnsureInitialized();
        page->OnSetActive();
    }
    QDialog::showEvent(event);
}

bool CPropertySheet::PressOk()
{
    if (active_ >= 0 && pages_[static_cast<size_t>(active_)]->IsInitialized() &&
        !LetGo(*pages_[static_cast<size_t>(active_)]))
        return false;
    for (CPropertyPage* page : pages_) {
        if (page->IsInitialized())
            page->OnOK();
    }
    QDialog::accept();
    return true;
}

void CPropertySheet::PressCancel()
{
    for (CPropertyPage* page : pages_) {
        if (page->IsInitialized())
            page->OnCancel();
    }
    QDialog::reject();
}

void CPropertySheet::accept() { PressOk(); }

void CPropertySheet::reject() { PressCancel(); }

int CPropertySheet::DoModal() { return exec() == QDialog::Accepted ? kIdOk : kIdCancel; }

}  // namespace gui
