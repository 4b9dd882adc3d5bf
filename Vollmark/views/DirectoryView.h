#pragma once
// The directory section: every path entry of the settings as a custom-drawn scrolling list,
// with buttons to make, edit and delete entries. The list keeps no copy of the entries: each
// paint and click reads the live settings again, and the one state it keeps, which entries
// are selected, lives in the entries themselves (their `Selected` leaf).

#include "views/MainViewBase.h"

#include "ConfigAccessor.h"

#include "gui/RowListArea.h"

#include <string>
#include <vector>

class CControllerSettings;
class CIconButton;

class CDirectoryListCtrl : public CRowListArea {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 68;

    // Lists the entries under `path`, the "Path" node of the live settings. `tools` must
    // outlive the list.
    CDirectoryListCtrl(const CDrawTools& tools, const CConfigAccessor& path, QWidget* parent = nullptr);

    // The second, third and fourth lines of an entry's row: where it answers, what it
    // serves, and its options ("認証 : ○    Index : ×    ...").
    static std::string FormatServerLine(const CConfigAccessor& entry);
    static std::string FormatLocationLine(const CConfigAccessor& entry);
    static std::string FormatOptions(const CConfigAccessor& entry);
    // The clicked entry that Shift-clicks count from; -1 before the first click.
    static int GetAnchor();

signals:
    // A double click: the selected entry should be edited.
    void editRequested();

protected:
    int RowCount() const override;
    void DrawRow(QPainter& painter, int row, int index) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The entries' names in stored order.
    std::vector<std::string> EntryNames() const;
    void SetAllSelected(const std::vector<std::string>& names, int value);

    const CDrawTools& tools_;
    CConfigAccessor path_;
};

class CDirectoryView : public CMainViewBase {
    Q_OBJECT
public:
    enum ButtonId : int { kIdNew = 256, kIdEdit = 257, kIdDelete = 258 };

    // `tools` and `settings` must outlive the view.
    CDirectoryView(const CDrawTools& tools, CControllerSettings& settings, QWidget* parent = nullptr);

    CDirectoryListCtrl* GetList() const { return list_; }
    CIconButton* GetButton(int index) const { return buttons_[index]; }

    void OnButton(int id);
    // "Path_%d" with the smallest number that no entry is named (exactly) yet.
    std::string MakeNewPathKey() const;
    // Runs the path sheet on a scratch copy of the entry; OK copies it back and saves.
    void NewPath(const std::string& name);
    void EditPath(const std::string& name);
    // The first entry in stored order whose `Selected` is set, or -1.
    int FindFirstSelected() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RunSheet(const std::string& name, bool edit);

    CControllerSettings& settings_;
    CConfigAccessor path_;
    CDirectoryListCtrl* list_;
    CIconButton* buttons_[3];
};
