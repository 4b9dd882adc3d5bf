#pragma once
// The connection view: one row per request the server is working on (newest first), then
// one per request it finished recently (newest first), and above the list the details of
// the request last clicked. The server's context tree is fetched once a second while the
// view's window is open; a minimised window asks the server nothing.
//
// A clicked request is remembered by its node name, not its row, so its details follow it
// from the running requests to the finished ones while the rows below it shift.

#include "views/MainViewBase.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <QIcon>
#include <QList>
#include <QTimer>

#include <string>

class CServerControlClient;
class QPainter;
class QTreeWidget;

class CThreadView : public CMainViewBase {
    Q_OBJECT
public:
    // Creates the list and fills it from the server at once. `tools` and `client` must
    // outlive the view.
    CThreadView(const CDrawTools& tools, CServerControlClient& client, QWidget* parent = nullptr);

    // The details of the clicked request as label/value blocks (CP932), the same values
    // the view draws; before any click the blocks are there with blank values.
    std::string GetCopyText() override;

    // Fetches the server's context tree and shows it (RefreshFromText).
    void RefreshList();
    // Shows the requests of a context tree in marker text: rows are overwritten in place
    // by position, so the list's own selection stays on its row index; surplus rows go.
    // An empty text (no server) empties the list. The details are not
    // repainted here.
    void RefreshFromText(const std::string& context);
    // Makes the first selected row's request the one whose details are shown, and
    // repaints them; nothing selected keeps the current one. Called for mouse clicks on a
    // row only: moving the selection with the keyboard leaves the details alone.
    void OnListClick();

    // The list; owned by the view.
    QTreeWidget& List() const { return *list_; }
    // The node name of the request whose details are shown ("Thread_" names none).
    const std::string& GetSelectedName() const { return selectedName_; }

protected:
    // Copying is enabled exactly while the last paint showed a request.
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnTimer();
    // Writes row `row` (appending it when the list is shorter) from a request node.
    void WriteRow(int row, int image, const CConfigAccessor& node);
    // Brings the detail node up to date with the selected request, when the context
    // still holds it.
    void TakeSelectedNode();
    void DrawDetail(QPainter& painter);
    // Label in the bold font along (x, y), elided at the right; the value one line below,
    // indented, elided in the middle; both clipped to `width`, their lines whited out first.
    void DrawDetailBlock(QPainter& painter, int x, int y, int width, const std::string& label,
                         const std::string& value);

    CServerControlClient& client_;
    QTreeWidget* list_;
    QList<QIcon> icons_;
    CConfigClass context_;  // the last context text parsed
    CConfigAccessor threads_;
    CConfigAccessor threadLogs_;
    CConfigClass detail_;  // holds one node, ThreadView: the request shown
    CConfigAccessor threadView_;
    std::string selectedName_ = "Thread_";
    QTimer timer_;
};
