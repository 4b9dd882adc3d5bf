#pragma once
// A custom-drawn list of equally tall rows that scrolls by whole rows: the scroll bar counts
// rows, shows only while they do not all fit, and the wheel and the keys move one row (or a
// page) at a time. Subclasses say how many rows there are and draw one.

#include <QAbstractScrollArea>

class CRowListArea : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Narrower windows still draw rows this wide, so their text stays whole.
    static constexpr int kMinRowWidth = 400;

    CRowListArea(int rowHeight, QWidget* parent = nullptr);

    int GetRowHeight() const { return rowHeight_; }
    // The first row shown.
    int GetScrollPosition() const;
    // How many rows fit, at least one.
    int PageRows() const;
    // The visible row at height y of the viewport, or -1 when it shows no row.
    int HitTest(int y) const;
    // Where visible row `row` is drawn in the viewport.
    QRect RowRect(int row) const;
    // Takes in a changed row count and repaints.
    void Refresh();

protected:
    virtual int RowCount() const = 0;
    // Draws row `index` (of all rows) at visible row `row`.
    virtual void DrawRow(QPainter& painter, int row, int index) = 0;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateScrollBar();

    int rowHeight_;
};
