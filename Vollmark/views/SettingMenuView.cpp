#include "views/SettingMenuView.h"

#include "core/ControllerSettings.h"
#include "dialogs/BandWidthDialog.h"
#include "dialogs/FileIconDialog.h"
#include "dialogs/UserDialog.h"
#include "gui/DrawTools.h"
#include "gui/PropertySheet.h"
#include "gui/QtText.h"
#include "gui/Resources.h"
#include "gui/UserPrompts.h"
#include "pages/ServerPages.h"
#include "pages/SettingsSheet.h"
#include "pages/SsiCgiPages.h"

#include "FileIo.h"
#include "SettingsSchema.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace {

int g_hotItem = -1;

constexpr QPoint kIconAt{5, 7};
constexpr int kIconPx = 32;
constexpr int kTextLeft = 51;
constexpr int kTitleTop = 10;
constexpr int kDescriptionTop = 25;

const char kTemplateCaption[] = "各種表示のカスタマイズ";
const char kNoFolderText[] = "HTMLフォルダが見つかりません。";
const char kOpenFailedText[] = "HTMLフォルダを開けませんでした。";
const char kFolderLabel[] = "HTMLフォルダ : ";

enum Item : int { kServer, kUsers, kCgi, kBandWidth, kTemplates, kFileIcons, kMimeTypes };

}  // namespace

CSettingMenuList::CSettingMenuList(CSettingMenuView& view, QWidget* parent)
    : CRowListArea(kRowHeight, parent), view_(view)
{
    viewport()->setMouseTracking(true);
}

int CSettingMenuList::GetHotItem() { return g_hotItem; }

int CSettingMenuList::RowCount() const { return static_cast<int>(CSettingMenuView::Items().size()); }

int CSettingMenuList::ItemAt(const QPoint& at) const
{
    const int row = HitTest(at.y());
    return row < 0 ? -1 : GetScrollPosition() + row;
}

void CSettingMenuList::DrawRow(QPainter& painter, int row, int index)
{
    const CSettingMenuItem& item = CSettingMenuView::Items()[static_cast<size_t>(index)];
    const CDrawTools& tools = view_.Tools();
    const QRect rect = RowRect(row);
    // A press in progress keeps its row plain until it ends.
    const bool hover = index == g_hotItem && pressed_ < 0;
    painter.fillRect(rect, tools.white);
    painter.setPen(tools.grayPen);
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    LoadIconResource(item.iconId).paint(&painter, QRect(rect.topLeft() + kIconAt, QSize(kIconPx, kIconPx)));
    painter.setPen(QColor(hover ? CDrawTools::kBlue : CDrawTools::kGray));
    painter.setFont(tools.boldFont);
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + kTitleTop), rect.right(), item.title);
    painter.setFont(tools.normalFont);
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + kDescriptionTop), rect.right(), item.description);
}

void CSettingMenuList::mouseMoveEvent(QMouseEvent* event)
{
    if (pressed_ >= 0)
        return;
    const int item = ItemAt(event->position().toPoint());
    viewport()->setCursor(item < 0 ? Qt::ArrowCursor : Qt::PointingHandCursor);
    if (item != g_hotItem) {
        g_hotItem = item;
        viewport()->update();
    }
    setFocus();
}

void CSettingMenuList::leaveEvent(QEvent* event)
{
    g_hotItem = -1;
    viewport()->setCursor(Qt::ArrowCursor);
    viewport()->update();
    CRowListArea::leaveEvent(event);
}

void CSettingMenuList::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pressed_ = ItemAt(event->position().toPoint());
}

void CSettingMenuList::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int item = ItemAt(event->position().toPoint());
    const int pressed = pressed_;
    pressed_ = -1;
    viewport()->update();
    // Only a press and release on the same item opens it.
    if (pressed >= 0 && item == pressed) {
        emit clickSound();
        view_.OpenItem(item);
    }
}

CSettingMenuView::CSettingMenuView(const CDrawTools& tools, CControllerSettings& settings, QWidget* parent)
    : CMainViewBase(tools, parent), settings_(settings), list_(new CSettingMenuList(*this, this))
{
    connect(list_, &CSettingMenuList::clickSound, this, &CMainViewBase::clickSound);
}

const std::vector<CSettingMenuItem>& CSettingMenuView::Items()
{
    static const std::vector<CSettingMenuItem> items = {
        {kIconServerSettings, "サーバ基本設定", "最大接続数、タイムアウトなどサーバの基本的な設定を行います。"},
        {kIconUsers, "ユーザー設定", "ユーザー名、パスワードなどの設定を行います。"},
        {kIconCgi, "CGI、SSIの設定", "CGIやSSIの設定を行います。"},
        {kIconBandwidth, "帯域幅制限", "サーバのデータ転送速度を制限します。"},
        {kIconHtmlPage, "各種表示のカスタマイズ", "エラー表示やインデックス表示のカスタマイズを行います。"},
        {kIconFileIcons, "ファイル・アイコンの設定", "インデックス・リストに表示するアイコンを設定します。"},
        {kIconMimeTypes, "MIMEタイプの設定", "拡張子とMIMEタイプの関連付けを設定します。"},
    };
    return items;
}

void CSettingMenuView::resizeEvent(QResizeEvent* event)
{
    CMainViewBase::resizeEvent(event);
    list_->setGeometry(rect());
}

void CSettingMenuView::OpenItem(int index)
{
    switch (index) {
    case kServer:
        OpenServerSheet();
        break;
    case kUsers: {
        CUserDialog dialog(settings_, this);
        dialog.exec();
        break;
    }
    case kCgi:
        OpenCgiSheet();
        break;
    case kBandWidth: {
        CBandWidthDialog dialog(settings_, this);
        dialog.exec();
        break;
    }
    case kTemplates:
        OpenTemplateFolder();
        break;
    case kFileIcons:
    case kMimeTypes: {
        CFileIconDialog dialog(settings_, index == kMimeTypes ? 1 : 0, this);
        dialog.exec();
        break;
    }
    default:
        break;
    }
}

void CSettingMenuView::OpenServerSheet()
{
    gui::CPropertySheet sheet("サーバ基本設定", this);
    sheet.AddPage(new CServerPage1(settings_.GetSetting()));
    sheet.AddPage(new CServerPage2(settings_.GetSetting()));
    sheet.AddPage(new CServerPage3(settings_.GetSetting()));
    sheet.AddPage(new CServerPage4(settings_));
    RunSettingsSheet(settings_, sheet);
}

void CSettingMenuView::OpenCgiSheet()
{
    gui::CPropertySheet sheet("SSI/CGIの設定", this);
    sheet.AddPage(new CSIICGIPage1(settings_));
    sheet.AddPage(new CSSICGIPage2(settings_.GetSetting()));
    sheet.AddPage(new CSSICGIPage3(settings_.GetSetting()));
    RunSettingsSheet(settings_, sheet);
}

void CSettingMenuView::OpenTemplateFolder()
{
    // The same leaf the server reads its templates from.
    const std::string folder =
        settings_.ExpandServerPath(schema::kHtmlFileDirectory.Read(settings_.GetSetting(), schema::kControllerDefault));
    // Named in full: a desktop may have nothing that opens folders, or an opener that fails
    // after it started, and the user must still find it.
    if (gui::MessageBox(this, std::string(kTemplateQuestion) + "\n\n" + kFolderLabel + folder,
                        gui::kMbYesNo | gui::kMbIconQuestion, kTemplateCaption) != gui::kIdYes)
        return;
    const QString native = QString::fromUtf8(platform::NativePath(folder).c_str());
    // Only a folder: a settings value must never be able to start a program.
    if (!QFileInfo(native).isDir()) {
        gui::MessageBox(this, std::string(kNoFolderText) + "\r\n" + folder, gui::kMbOk | gui::kMbIconExclamation,
                        kTemplateCaption);
        return;
    }
    // A desktop without a file manager opens nothing: the user is told where the folder is.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(native)))
        gui::MessageBox(this, std::string(kOpenFailedText) + "\r\n" + folder, gui::kMbOk | gui::kMbIconExclamation,
                        kTemplateCaption);
}
