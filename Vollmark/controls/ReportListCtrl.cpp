#include "controls/ReportListCtrl.h"

#include "gui/PageLayout.h"
#include "gui/QtText.h"
#include "gui/Resources.h"

#include <QHeaderView>
#include <QStringList>

#include <algorithm>

CReportListCtrl::CReportListCtrl(QWidget* parent)
    : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    setColumnCount(0);
}

void CReportListCtrl::SetImageList(QList<QIcon> icons)
{
    icons_ = std::move(icons);
}

void CReportListCtrl::InsertColumn(int index, const std::string& title, int width)
{
    // The tree model cannot insert a column, so the header is laid anew with the widths.
    const int count = columnCount();
    index = std::clamp(index, 0, count);
    QStringList titles;
    QList<int> widths;
    for (int i = 0; i < count; ++i) {
        titles.append(headerItem()->text(i));
        widths.append(columnWidth(i));
    }
    titles.insert(index, ToQString(title));
    widths.insert(index, width);
    setHeaderLabels(titles);
    for (int i = 0; i < titles.size(); ++i)
        setColumnWidth(i, widths[i]);
}

void CReportListCtrl::Rebuild(bool sort)
{
    if (sort)
        rows_.Sort();
    clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(rows_.GetSize());
    for (int i = 0; i < rows_.GetSize(); ++i) {
        const CReportRow& row = rows_.GetAt(i);
        auto* item = new QTreeWidgetItem;
        item->setText(0, ToQString(row.key));
        if (row.image >= 0 && row.image < icons_.size())
            item->setIcon(0, icons_[row.image]);
        for (size_t c = 0; c < row.columns.size(); ++c)
            item->setText(static_cast<int>(c) + 1, ToQString(row.columns[c]));
        items.append(item);
    }
    addTopLevelItems(items);
}

int CReportListCtrl::SetRow(const CReportRow& row, bool replace)
{
    return rows_.SetRow(row, replace);
}

int CReportListCtrl::FindByKey(const std::string& key) const
{
    return rows_.FindByKey(key);
}

int CReportListCtrl::GetFirstSelected() const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            return i;
    }
    return -1;
}

bool CReportListCtrl::IsSelected(int index) const
{
    const QTreeWidgetItem* item = topLevelItem(index);
    return item && item->isSelected();
}

void CReportListCtrl::SelectRow(int index)
{
    if (QTreeWidgetItem* item = topLevelItem(index))
        item->setSelected(true);
}

void CReportListCtrl::DeleteSelected()
{
    rows_.RemoveAt(SelectedIndices());
    Rebuild(true);
}

void CReportListCtrl::DeleteSelectedKeepingOrder()
{
    rows_.RemoveAt(SelectedIndices());
    Rebuild(false);
}

bool CReportListCtrl::MoveSelected(int step)
{
    const int from = GetFirstSelected();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= GetRowCount())
        return false;
    std::swap(GetRow(from), GetRow(to));
    Rebuild(false);
    SelectRow(to);
    return true;
}

void CReportListCtrl::Clear()
{
    rows_.RemoveAll();
    Rebuild(true);
}

void CReportListCtrl::MoveFrom(CReportListCtrl& source, bool remove, bool replace)
{
    for (int index : source.SelectedIndices()) {
        // A copy: when the source is this list, appending may move the row it refers to.
        const CReportRow row = source.GetRow(index);
        SetRow(row, replace);
    }
    if (remove)
        source.DeleteSelected();
    Rebuild(true);
}

std::vector<int> CReportListCtrl::SelectedIndices() const
{
    std::vector<int> indices;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            indices.push_back(i);
    }
    return indices;
}

namespace pages {

CReportListCtrl* NewList(const std::string& name, int icon, const std::vector<std::pair<std::string, int>>& columns,
                         QWidget* parent)
{
    auto* list = Named(new CReportListCtrl(parent), name);
    list->SetImageList({LoadIconResource(icon)});
    for (const auto& [title, width] : columns)
        list->InsertColumn(list->columnCount(), title, width);
    list->header()->setSectionResizeMode(list->columnCount() - 1, QHeaderView::Stretch);
    return list;
}

}  // namespace pages
