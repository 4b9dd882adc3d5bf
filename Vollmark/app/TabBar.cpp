#include "app/TabBar.h"

#include "controls/TabButton.h"
#include "core/ControllerSettings.h"
#include "gui/DrawTools.h"
#include "gui/Resources.h"

#include <QPainter>

namespace {

constexpr QSize kPictureSize{150, 80};
// The button of each section, one under the other.
constexpr int kButtonStep = 50;
// The two notice lines stand this far above the foot of the strip.
constexpr int kNoticeFirstLine = 94;
constexpr int kNoticeSecondLine = 80;
constexpr int kNoticeLeft = 10;

const char kNoticeFirst[] = "※設定を有効にするためには、";
const char kNoticeSecond[] = "サーバを再起動してください。";

}  // namespace

const int CTabBar::kMinimumHeight = 4 * kButtonStep + kNoticeFirstLine;

const std::array<CSection, 4>& Sections()
{
    static const std::array<CSection, 4> sections = {{
        {128, "サーバ情報", kIconServerInfo, "接続数・転送容量など、サーバの情報を表示します。"},
        {129, "ディレクトリ設定", kIconDirectory, "サーバの仮想パスと、PCの物理パスの関連付けを行います。"},
        {130, "サーバ設定", kIconServerSettings, "ユーザー設定や接続制限など、サーバの各種設定を行います。"},
        {131, "接続情報", kIconConnectionInfo, "現在通信を行っている接続の各種情報を表示します。"},
    }};
    return sections;
}

const CSection* FindSection(int id)
{
    for (const CSection& section : Sections()) {
        if (section.id == id)
            return &section;
    }
    return nullptr;
}

CTabBar::CTabBar(const CDrawTools& tools, const CControllerSettings& settings, QWidget* parent)
    : QWidget(parent),
      tools_(tools),
      settings_(settings),
      picture_(LoadBitmapResource(kBitmapSectionStrip, kPictureSize))
{
    SetWhiteBackground(*this);
    for (size_t i = 0; i < buttons_.size(); ++i) {
        const CSection& section = Sections()[i];
        buttons_[i] = new CTabButton(tools_, this, section.title, section.iconId, 0, static_cast<int>(i) * kButtonStep,
                                     section.id);
        // Queued, so the click has ended before the section changes under it.
        connect(buttons_[i], &CTabButton::clicked, this, &CTabBar::SelectSection, Qt::QueuedConnection);
        connect(buttons_[i], &CTabButton::clickSound, this, &CTabBar::clickSound);
    }
}

void CTabBar::SelectSection(int id)
{
    for (CTabButton* button : buttons_)
        button->SetSelected(false);
    for (CTabButton* button : buttons_) {
        if (button->GetCommandId() == id)
            button->SetSelected(true);
    }
    emit sectionSelected(id);
}

void CTabBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int right = width();
    const int bottom = height();
    painter.drawPixmap(0, bottom - kPictureSize.height(), picture_);
    painter.setPen(tools_.grayPen);
    painter.drawLine(right - 6, 5, right - 6, bottom - 5);
    painter.setPen(tools_.lightPen);
    painter.drawLine(right - 5, 5, right - 5, bottom - 6);
    if (settings_.IsChanged()) {
        painter.setFont(tools_.boldFont);
        painter.setPen(QColor(CDrawTools::kRed));
        DrawTextAt(painter, QPoint(kNoticeLeft, bottom - kNoticeFirstLine), right, kNoticeFirst);
        DrawTextAt(painter, QPoint(kNoticeLeft, bottom - kNoticeSecondLine), right, kNoticeSecond);
    }
}
