#include "views/DirectoryView.h"

#include "controls/TabButton.h"
#include "core/ControllerSettings.h"
#include "core/PathEntryList.h"
#include "gui/DrawTools.h"
#include "gui/PropertySheet.h"
#include "gui/Resources.h"
#include "gui/UserPrompts.h"
#include "pages/PathPages.h"

#include "SettingsSchema.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

// The list is made anew each time its section is shown; the row under the mouse and the
// anchor of Shift-clicks belong to the program, so a selection continues where it was.
int g_hoverRow = -1;
int g_anchor = -1;

// The list sits under the buttons and their etched line.
constexpr int kListTop = 50;
constexpr int kTextLeft = 51;
constexpr QPoint kIconAt{5, 5};
constexpr int kIconPx = 32;
// The separator under a row's three text lines.
constexpr int kRowRuleY = 48;

const char kEditCaption[] = "パスを編集";
const char kNewCaption[] = "新規パス";
const char kDeleteCaption[] = "削除";

struct OptionItem {
    const schema::NumberKey& key;  // shown as the server reads it when missing
    const char* label;
};

const OptionItem kOptionItems[] = {
    {schema::kEnableAuthenticate, "認証"},    {schema::kEnableIndex, "Index"},
    {schema::kEnableSsiCgi, "SSI/CGI"},       {schema::kEnableWebDav, "WebDAV"},
    {schema::kEnableWrite, "書き込み"},       {schema::kEnableHiddenFile, "隠しファイル"},
    {schema::kEnableBandWidthLimit, "帯域制限"}, {schema::kAcceptHttp, "HTTP"},
    {schema::kAcceptHttps, "HTTPS"},
};

}  // namespace

CDirectoryListCtrl::CDirectoryListCtrl(const CDrawTools& tools, const CConfigAccessor& path, QWidget* parent)
    : CRowListArea(kRowHeight, parent), tools_(tools), path_(path)
{
    viewport()->setMouseTracking(true);
}

std::vector<std::string> CDirectoryListCtrl::EntryNames() const
{
    std::vector<std::string> names;
    path_.GetSections(names);
    return names;
}

int CDirectoryListCtrl::GetAnchor() { return g_anchor; }

int CDirectoryListCtrl::RowCount() const { return static_cast<int>(EntryNames().size()); }

std::string CDirectoryListCtrl::FormatOptions(const CConfigAccessor& entry)
{
    std::string line;
    for (const OptionItem& item : kOptionItems) {
        const bool set = item.key.Read(entry) != 0;
        line += std::string(item.label) + " : " + (set ? "○" : "×") + "    ";
    }
    return line;
}

std::string CDirectoryListCtrl::FormatServerLine(const CConfigAccessor& entry)
{
    return "Server : " + PathEntryAddress(entry);
}

std::string CDirectoryListCtrl::FormatLocationLine(const CConfigAccessor& entry)
{
    const std::string forward = schema::kForward.Read(entry, schema::kControllerDefault);
    return !forward.empty() ? "Forward : " + forward
                            : "Local : " + schema::kLocalPath.Read(entry, schema::kControllerDefault);
}

void CDirectoryListCtrl::DrawRow(QPainter& painter, int row, int index)
{
    const std::vector<std::string> names = EntryNames();
    const CConfigAccessor entry = path_.GetSubAccessor(names[static_cast<size_t>(index)]);
    const QRect rect = RowRect(row);
    const bool hover = row == g_hoverRow;
    const bool selected = schema::kSelected.Read(entry, schema::kControllerDefault) != 0;

    const QColor selection(CDrawTools::kBlue);
    const QColor text = selected ? QColor(Qt::white) : QColor(hover ? CDrawTools::kBlue : CDrawTools::kGray);
    painter.fillRect(rect, selected ? selection : tools_.white);
    painter.setPen(tools_.grayPen);
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter.drawLine(kTextLeft, rect.top() + kRowRuleY, rect.right(), rect.top() + kRowRuleY);

    const QRect iconRect(rect.topLeft() + kIconAt, QSize(kIconPx, kIconPx));
    LoadIconResource(kIconDirectory).paint(&painter, iconRect);
    if (selected) {
        // Half the picture's colour, half the selection's, as a selected picture looks.
        painter.save();
        painter.setOpacity(0.5);
        painter.fillRect(iconRect, selection);
        painter.restore();
    }

    painter.setPen(text);
    painter.setFont(tools_.boldFont);
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + 5), rect.right(),
               schema::kInfo.Read(entry, schema::kControllerDefault));
    painter.setFont(tools_.normalFont);
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + 20), rect.right(), FormatServerLine(entry));
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + 34), rect.right(), FormatLocationLine(entry));
    DrawTextAt(painter, QPoint(kTextLeft, rect.top() + 52), rect.right(), FormatOptions(entry));
}

void CDirectoryListCtrl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const int row = HitTest(at.y());
    if (row != g_hoverRow) {
        g_hoverRow = row;
        viewport()->update();
    }
    setFocus();
}

void CDirectoryListCtrl::leaveEvent(QEvent* event)
{
    g_hoverRow = -1;
    viewport()->update();
    QAbstractScrollArea::leaveEvent(event);
}

void CDirectoryListCtrl::SetAllSelected(const std::vector<std::string>& names, int value)
{
    for (const std::string& name : names)
        path_.GetSubAccessor(name).SetInt(schema::kSelected.path, value);
}

void CDirectoryListCtrl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const std::vector<std::string> names = EntryNames();
    const QPoint at = event->position().toPoint();
    const int row = HitTest(at.y());
    // An anchor left behind by entries deleted since addresses none of them.
    if (g_anchor >= static_cast<int>(names.size()))
        g_anchor = static_cast<int>(names.size()) - 1;
    if (row < 0) {
        SetAllSelected(names, 0);
    } else {
        const int index = GetScrollPosition() + row;
        const CConfigAccessor clicked = path_.GetSubAccessor(names[static_cast<size_t>(index)]);
        if ((event->modifiers() & Qt::ShiftModifier) && g_anchor >= 0) {
            SetAllSelected(names, 0);
            for (int i = std::min(g_anchor, index); i <= std::max(g_anchor, index); ++i)
                path_.GetSubAccessor(names[static_cast<size_t>(i)]).SetInt(schema::kSelected.path, 1);
        } else if (event->modifiers() & Qt::ControlModifier) {
            clicked.SetInt(schema::kSelected.path, 1 - schema::kSelected.Read(clicked, schema::kControllerDefault));
            g_anchor = index;
        } else {
            SetAllSelected(names, 0);
            clicked.SetInt(schema::kSelected.path, 1);
            g_anchor = index;
        }
    }
    viewport()->update();
}

void CDirectoryListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit editRequested();
}

CDirectoryView::CDirectoryView(const CDrawTools& tools, CControllerSettings& settings, QWidget* parent)
    : CMainViewBase(tools, parent),
      settings_(settings),
      path_(settings.GetSetting().GetSubAccessor(schema::kPath.path)),
      list_(new CDirectoryListCtrl(tools, path_, this))
{
    buttons_[0] = new CIconButton(tools, this, "新規", kIconNew, 0, 0, kIdNew, true);
    buttons_[1] = new CIconButton(tools, this, "編集", kIconEdit, CIconButton::kWidth, 0, kIdEdit, false);
    buttons_[2] = new CIconButton(tools, this, "削除", kIconDelete, 2 * CIconButton::kWidth, 0, kIdDelete, false);
    for (CIconButton* button : buttons_) {
        // Queued, so the click has ended before a sheet or a question opens over it.
        connect(button, &CIconButton::clicked, this, &CDirectoryView::OnButton, Qt::QueuedConnection);
        connect(button, &CIconButton::clickSound, this, &CMainViewBase::clickSound);
    }
    connect(list_, &CDirectoryListCtrl::editRequested, this, [this] { OnButton(kIdEdit); }, Qt::QueuedConnection);
}

void CDirectoryView::resizeEvent(QResizeEvent* event)
{
    CMainViewBase::resizeEvent(event);
    list_->setGeometry(0, kListTop, width(), height() - kListTop);
}

void CDirectoryView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const CDrawTools& tools = Tools();
    painter.setPen(tools.grayPen);
    painter.drawLine(0, CIconButton::kHeight, width() - 5, CIconButton::kHeight);
    painter.setPen(tools.lightPen);
    painter.drawLine(0, CIconButton::kHeight + 1, width() - 5, CIconButton::kHeight + 1);
}

std::string CDirectoryView::MakeNewPathKey() const
{
    for (int number = 0;; ++number) {
        const std::string name = schema::kPath.EntryName(number);
        if (!path_.HasSection(name))
            return name;
    }
}

int CDirectoryView::FindFirstSelected() const
{
    std::vector<std::string> names;
    path_.GetSections(names);
    for (size_t i = 0; i < names.size(); ++i) {
        if (schema::kSelected.Read(path_.GetSubAccessor(names[i]), schema::kControllerDefault) != 0)
            return static_cast<int>(i);
    }
    return -1;
}

void CDirectoryView::OnButton(int id)
{
    switch (id) {
    case kIdNew:
        NewPath(MakeNewPathKey());
        list_->Refresh();
        break;
    case kIdEdit: {
        const int index = FindFirstSelected();
        std::vector<std::string> names;
        path_.GetSections(names);
        if (index >= 0)
            EditPath(names[static_cast<size_t>(index)]);
        list_->Refresh();
        break;
    }
    case kIdDelete: {
        const PathDeletion deletion = PlanPathDeletion(path_);
        if (deletion.names.empty())
            break;
        const unsigned icon = deletion.leavesNone ? gui::kMbIconExclamation : gui::kMbIconQuestion;
        if (gui::MessageBox(this, deletion.question, gui::kMbOkCancel | icon, kDeleteCaption) != gui::kIdOk)
            break;
        for (const std::string& name : deletion.names)
            path_.RemoveSection(name);
        list_->Refresh();
        settings_.Save(nullptr);
        break;
    }
    default:
        break;
    }
}

void CDirectoryView::NewPath(const std::string& name) { RunSheet(name, false); }

void CDirectoryView::EditPath(const std::string& name) { RunSheet(name, true); }

void CDirectoryView::RunSheet(const std::string& name, bool edit)
{
    CConfigClass scratch;
    const CConfigAccessor entry(&scratch, name);
    if (edit)
        entry.CopyFrom(path_.GetSubAccessor(name));
    gui::CPropertySheet sheet(edit ? kEditCaption : kNewCaption, this);
    sheet.AddPage(new CPathPage1(settings_, entry));
    sheet.AddPage(new CPathPage2(entry));
    sheet.AddPage(new CPathPage3(settings_, entry));
    sheet.AddPage(new CPathPage4(entry));
    if (sheet.DoModal() != gui::kIdOk)
        return;
    path_.GetSubAccessor(name).CopyFrom(entry);
    settings_.Save(nullptr);
}
