#pragma once
// The settings section: seven categories as a custom-drawn list of icons, titles and
// descriptions; a click opens the sheet or dialog that edits that part of the settings.

#include "gui/RowListArea.h"
#include "views/MainViewBase.h"

#include <string>
#include <vector>

class CControllerSettings;
class CSettingMenuView;

// One category of the menu.
struct CSettingMenuItem {
    int iconId;
    const char* title;
    const char* description;
};

class CSettingMenuList : public CRowListArea {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 50;

    CSettingMenuList(CSettingMenuView& view, QWidget* parent);

    // The item last drawn as hovered, -1 for none; one for the program, as the view is
    // made anew each time its section is shown.
    static int GetHotItem();
    // The item a press went down on and has not come up yet, -1 for none.
    int GetPressedItem() const { return pressed_; }

signals:
    // An item was clicked, just before it opens.
    void clickSound();

protected:
    int RowCount() const override;
    void DrawRow(QPainter& painter, int row, int index) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The item under the point, or -1.
    int ItemAt(const QPoint& at) const;

    CSettingMenuView& view_;
    int pressed_ = -1;
};

class CSettingMenuView : public CMainViewBase {
    Q_OBJECT
public:
    static constexpr const char* kTemplateQuestion =
        "表示のカスタマイズを行う為には、表示に使用するHTMLファイルを編集する必要があります。\n"
        "詳細はドキュメントを参照してください。\nHTMLフォルダを開きますか？";

    // `tools` and `settings` must outlive the view.
    CSettingMenuView(const CDrawTools& tools, CControllerSettings& settings, QWidget* parent = nullptr);

    static const std::vector<CSettingMenuItem>& Items();
    CSettingMenuList* GetList() const { return list_; }

    // Opens what item `index` edits; an unknown index does nothing.
    void OpenItem(int index);
    void OpenServerSheet();
    void OpenCgiSheet();
    // Item 4: asks, naming the page templates' folder by its full path, then shows it in the
    // desktop's file manager.
    void OpenTemplateFolder();
    using CMainViewBase::Tools;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    CControllerSettings& settings_;
    CSettingMenuList* list_;
};
