#pragma once
// The report-style list of the property pages and user dialogs. Its rows live in the
// control's own array, so that a page can keep values the list does not show, find rows by
// their key, replace them and move them between two lists. The view's item i always shows
// row i: it is rebuilt from the array after every change and never sorts itself.
// The page creates the columns and sets the icons; the control owns only the rows.

#include "core/ReportRow.h"

#include <QIcon>
#include <QList>
#include <QTreeWidget>

#include <string>
#include <utility>
#include <vector>

class CReportListCtrl : public QTreeWidget {
    Q_OBJECT

public:
    // Starts with no column.
    explicit CReportListCtrl(QWidget* parent = nullptr);

    // The icons that a row's image indexes; a row whose image has no icon shows none.
    // Takes effect at the next Rebuild.
    void SetImageList(QList<QIcon> icons);
    // A column titled `title` (CP932), `width` pixels wide, at `index` (clamped to the
    // columns there are). Items already shown keep their texts where they were until the
    // next Rebuild.
    void InsertColumn(int index, const std::string& title, int width);

    // Sorts the rows by key first when `sort` is set, then shows one item per row: the key
    // with the row's icon, then the column texts. Leaves nothing selected.
    void Rebuild(bool sort);
    // CReportRowArray::SetRow; the view is not redrawn. Returns the row's index.
    int SetRow(const CReportRow& row, bool replace);
    // Index of the first row whose key equals `key` byte for byte, or -1.
    int FindByKey(const std::string& key) const;

    // Index of the first selected item, or -1.
    int GetFirstSelected() const;
    // False for an index that has no item.
    bool IsSelected(int index) const;
    // Selects that item too; an index that has no item is passed over.
    void SelectRow(int index);

    int GetRowCount() const { return rows_.GetSize(); }
    // Every row, in list order; the reference lives as long as the list.
    const CReportRowArray& GetRows() const { return rows_; }
    // 0 <= index < GetRowCount(). Changed in place by the pages; the reference lives until
    // the rows next change in number.
    CReportRow& GetRow(int index) { return rows_.GetAt(index); }
    const CReportRow& GetRow(int index) const { return rows_.GetAt(index); }

    // Removes every row whose item is selected, then shows the rest sorted.
    void DeleteSelected();
    // For lists whose order means something (the order the server tries them): removes the
    // selected rows and shows the rest in the order they stood.
    void DeleteSelectedKeepingOrder();
    // Swaps the first selected row with the one `step` rows away and keeps it selected;
    // false, changing nothing, when either is missing.
    bool MoveSelected(int step);
    // Removes every row, then shows the empty list.
    void Clear();
    // Puts a copy of each row selected in `source`, in order, into this list through
    // SetRow(row, replace); with `remove`, the source then deletes its selected rows. Shows
    // this list sorted afterwards, even when nothing was selected.
    void MoveFrom(CReportListCtrl& source, bool remove, bool replace);

private:
    std::vector<int> SelectedIndices() const;

    CReportRowArray rows_;
    QList<QIcon> icons_;
};

namespace pages {

// A list's last column is stretched over what the others leave, so the width it is
// created with is only a placeholder.
constexpr int kStretchedColumnPx = 0;

// A list named `name` (as gui/PageLayout.h names controls) whose rows all show `icon`,
// with columns of these titles and widths; the last column fills the list whatever its
// size, so no horizontal scroll bar shows. Here rather than with the other page controls,
// which sit a layer below the lists.
CReportListCtrl* NewList(const std::string& name, int icon, const std::vector<std::pair<std::string, int>>& columns,
                         QWidget* parent);

}  // namespace pages
