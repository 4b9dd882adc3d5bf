#pragma once
// The server information view: the server's state, version, type and root, and its
// connection and transfer counts since the start and over the last hour. Drawn anew from
// the server's answers on every paint, and repainted each second while its window is
// open, so the figures follow the traffic; a minimised window asks the server nothing.
// Under the state, a warning stands for as long as the settings hold no path entry.

#include "views/MainViewBase.h"

#include <QTimer>

#include <string>

class CControllerSettings;
class CServerControlClient;
class QPainter;
class QPen;

class CServerInfoView : public CMainViewBase {
    Q_OBJECT
public:
    // `tools`, `settings` and `client` must outlive the view.
    CServerInfoView(const CDrawTools& tools, const CControllerSettings& settings, CServerControlClient& client,
                    QWidget* parent = nullptr);

    // The status (and the warning under it) and every figure, running or not, as
    // label/value blocks (CP932). Asks the server afresh; does not change whether copying
    // is enabled.
    std::string GetCopyText() override;

protected:
    // Enables copying: the report holds the status text whether the server runs or not.
    void paintEvent(QPaintEvent* event) override;

private:
    void RepaintIfShown();
    void DrawInfo(QPainter& painter);
    // Label at (x, y), value one line below and indented, wrapped at the right edge;
    // `error` draws the value red. The number of lines the value took.
    int DrawBlock(QPainter& painter, int x, int y, const std::string& label, const std::string& value,
                  bool error);
    // Text from (x, y), wrapped at the right edge over whited-out lines; the lines it took.
    int DrawLines(QPainter& painter, int x, int y, const std::string& text, const QPen& pen);
    // Whites out `lines` value lines from (x, y) to the right edge.
    void ClearLine(QPainter& painter, int x, int y, int lines);

    const CControllerSettings& settings_;
    CServerControlClient& client_;
    QTimer timer_;
};
