#include "app/SecndFrame.h"

#include "app/HeadderView.h"
#include "app/TabBar.h"
#include "gui/QtText.h"
#include "views/DirectoryView.h"
#include "views/MainViewBase.h"
#include "views/ServerInfoView.h"
#include "views/SettingMenuView.h"
#include "views/ThreadView.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

constexpr int kServerInfoSection = 128;
constexpr int kDirectorySection = 129;
constexpr int kSettingsSection = 130;
constexpr int kConnectionSection = 131;

}  // namespace

CSecndFrame::CSecndFrame(const CDrawTools& tools, CControllerSettings& settings, CServerControlClient& client,
                         QWidget* parent)
    : QWidget(parent), tools_(tools), settings_(settings), client_(client)
{
    setMinimumSize(CTabBar::kWidth, CTabBar::kMinimumHeight);
    header_ = new CHeadderView(tools_, this);
    tabBar_ = new CTabBar(tools_, settings_, this);
    connect(tabBar_, &CTabBar::clickSound, this, &CSecndFrame::clickSound);
    // The first screen: the information section, with its longer description.
    tabBar_->SelectSection(kServerInfoSection);
    connect(tabBar_, &CTabBar::sectionSelected, this, &CSecndFrame::OnSectionButton);
    header_->SetText(FindSection(kServerInfoSection)->title, kFirstDescription);
    ShowView(MakeView(kServerInfoSection));
}

CSecndFrame::~CSecndFrame() = default;

CMainViewBase* CSecndFrame::MakeView(int id)
{
    switch (id) {
    case kServerInfoSection:
        return new CServerInfoView(tools_, settings_, client_);
    case kDirectorySection:
        return new CDirectoryView(tools_, settings_);
    case kSettingsSection:
        return new CSettingMenuView(tools_, settings_);
    case kConnectionSection:
        return new CThreadView(tools_, client_);
    default:
        return nullptr;
    }
}

void CSecndFrame::OnSectionButton(int id)
{
    const CSection* section = FindSection(id);
    if (!section)
        return;
    header_->SetText(section->title, section->description);
    // A fresh view every time, so choosing the shown section again starts it anew.
    if (CMainViewBase* view = MakeView(id))
        ShowView(view);
}

void CSecndFrame::ShowView(CMainViewBase* view)
{
    delete view_;
    view_ = view;
    view_->setParent(this);
    connect(view_, &CMainViewBase::clickSound, this, &CSecndFrame::clickSound);
    LayOut();
    view_->show();
}

void CSecndFrame::LayOut()
{
    const int w = width();
    const int h = height();
    tabBar_->setGeometry(0, 0, CTabBar::kWidth, h);
    header_->setGeometry(CTabBar::kWidth, 0, w - CTabBar::kWidth, CHeadderView::kHeight);
    if (view_)
        view_->setGeometry(CTabBar::kWidth, CHeadderView::kHeight, w - CTabBar::kWidth, h - CHeadderView::kHeight);
}

void CSecndFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayOut();
}

bool CSecndFrame::IsCommandEnabled(int id) const
{
    return id == kIdCopyViewText && view_ && view_->IsCopyEnabled();
}

void CSecndFrame::OnCommand(int id)
{
    if (id == kIdCopyViewText && view_)
        CopyViewText(view_->GetCopyText());
}

void CSecndFrame::CopyViewText(const std::string& text)
{
    // The views build their reports with CR LF; text pasted on this platform ends its lines
    // with LF alone.
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(ToQString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}
