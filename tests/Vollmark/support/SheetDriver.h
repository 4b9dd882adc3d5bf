#pragma once
// A property sheet worked as a person would: pages brought to the front, fields typed
// into, buttons clicked and list rows read, every control found by its object name.
// Header-only: only the GUI test program includes it.

#include "controls/ReportListCtrl.h"
#include "gui/PropertySheet.h"
#include "gui/QtText.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

class SheetDriver {
public:
    explicit SheetDriver(const std::string& caption) : sheet_(caption) {}

    gui::CPropertySheet& Sheet() { return sheet_; }

    // The first call opens the sheet on the page; later ones change tabs.
    bool Show(int page)
    {
        if (sheet_.isVisible())
            return sheet_.SetActivePage(page);
        sheet_.SetActivePage(page);
        sheet_.show();
        return true;
    }
    // Fails the test when there is no such control.
    template <class Widget>
    Widget* Find(const char* name)
    {
        auto* widget = sheet_.findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void SetText(const char* name, const std::string& text) { Find<QLineEdit>(name)->setText(ToQString(text)); }
    std::string Text(const char* name) { return FromQString(Find<QLineEdit>(name)->text()); }
    // Half the height in from the left edge: on a check box's indicator, inside any button.
    void Click(const char* name)
    {
        QAbstractButton* button = Find<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
    }
    // Exactly these rows of the list selected.
    void Select(const char* list, const std::vector<int>& rows)
    {
        Find<CReportListCtrl>(list)->clearSelection();
        for (int row : rows)
            Find<CReportListCtrl>(list)->SelectRow(row);
    }
    // The keys of the list's rows, in the list's order.
    std::vector<std::string> RowsOf(const char* list)
    {
        std::vector<std::string> rows;
        const CReportListCtrl* control = Find<CReportListCtrl>(list);
        for (int i = 0; i < control->GetRowCount(); ++i)
            rows.push_back(control->GetRow(i).key);
        return rows;
    }

private:
    gui::CPropertySheet sheet_;
};
