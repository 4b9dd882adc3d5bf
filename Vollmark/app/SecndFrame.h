#pragma once
// The main window's client area: the section strip on the left, the header at the top and
// the content view that the section buttons replace. It handles the copy command, which
// puts the shown view's text on the clipboard. It gives each part what it uses: the
// drawing tools, the settings, the server client; and it passes on the click sound that
// the section buttons and the views ask for.

#include "gui/CommandRouter.h"

#include <QWidget>

#include <memory>
#include <string>

class CControllerSettings;
class CHeadderView;
class CMainViewBase;
class CServerControlClient;
class CTabBar;
struct CDrawTools;

class CSecndFrame : public QWidget, public gui::CCmdTarget {
    Q_OBJECT
public:
    static constexpr int kIdCopyViewText = 32769;
    // The first screen's longer description of the information section.
    static constexpr const char* kFirstDescription =
        "サーバの設定やサーバの動作状況など、サーバの情報を表示します。";

    // `tools`, `settings` and `client` must outlive the frame.
    CSecndFrame(const CDrawTools& tools, CControllerSettings& settings, CServerControlClient& client,
                QWidget* parent = nullptr);
    ~CSecndFrame() override;

    CTabBar* GetTabBar() const { return tabBar_; }
    CHeadderView* GetHeader() const { return header_; }
    // The content view shown, null only while the frame is being made.
    CMainViewBase* GetView() const { return view_; }

    // Shows the section's header and a fresh view of it; an unknown id does nothing.
    void OnSectionButton(int id);
    // Replaces the content view with `view` (taken).
    void ShowView(CMainViewBase* view);
    // The text on the clipboard as the platform's text.
    static void CopyViewText(const std::string& text);

    bool HandlesCommand(int id) const override { return id == kIdCopyViewText; }
    bool IsCommandEnabled(int id) const override;
    void OnCommand(int id) override;

signals:
    // A section button or the shown view asks for the click sound.
    void clickSound();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // A new view of the section `id`.
    CMainViewBase* MakeView(int id);
    void LayOut();

    const CDrawTools& tools_;
    CControllerSettings& settings_;
    CServerControlClient& client_;
    CTabBar* tabBar_ = nullptr;
    CHeadderView* header_ = nullptr;
    CMainViewBase* view_ = nullptr;
};
