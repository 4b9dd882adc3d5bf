#include "views/ServerInfoView.h"

#include "core/ControllerSettings.h"
#include "core/PathEntryList.h"
#include "core/ServerControlClient.h"
#include "core/TransferTotals.h"
#include "gui/DrawTools.h"
#include "gui/QtText.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>

#include <algorithm>

#include <iterator>
#include <vector>

namespace {

// The figures change at most once a second: the server publishes them that often.
constexpr int kRepaintMs = 1000;

constexpr int kLeft = 2;
constexpr int kStatusTop = 10;
// The blocks below the status, in the order DetailBlocks gives them; the wider gap
// parts what the server is from what it has done.
constexpr int kDetailTops[] = {50, 90, 130, 190, 230, 270, 310, 350};
// The counts start after the wider gap: a push of up to its extra width only narrows it,
// so a line more under the status leaves the counts where they are, whole in the default
// window.
constexpr int kFirstCount = 3;
constexpr int kGapSlack = (kDetailTops[kFirstCount] - kDetailTops[kFirstCount - 1]) - (kDetailTops[1] - kDetailTops[0]);
// A value sits one 12-pixel text line below its label and a little to the right.
constexpr int kLineHeight = 16;
constexpr int kValueIndent = 14;

constexpr const char* kStatusLabel = "■サーバ動作状況";
constexpr const char* kConnectionUnit = " 接続";

struct TextBlock {
    const char* label;
    std::string value;
};

// What the server is and has done, from one answer of GetServerInfo, top to bottom.
// `countUnits`: whether the connection counts since the start carry their unit (the
// copy text leaves it off them, though not off the last hour's).
std::vector<TextBlock> DetailBlocks(CServerControlClient& client, bool countUnits)
{
    CConfigClass info;
    info.LoadSerializedText(client.GetServerInfo());
    const CConfigAccessor node = info.GetAccessor("ServerInfo");
    const std::string unit = countUnits ? kConnectionUnit : "";
    return {
        {"■サーバ・バージョン", node.GetString("ServerSignature", "")},
        {"■サーバ・タイプ", client.IsService() ? "システム サービス" : "スタンドアロン アプリケーション"},
        {"■サーバ・ルート", node.GetString("ServerRoot", "")},
        {"■現在処理中の接続数", node.GetString("CurrentConnection", "0") + unit},
        {"■サーバが起動してから現在までの接続数", node.GetString("AllConnected", "0") + unit},
        {"■サーバが起動してから現在までの合計転送量",
         FormatTransferTotals(GetInt64Leaf(node, "AllSendSize"), GetInt64Leaf(node, "AllRecvSize"))},
        {"■過去１時間の接続数", node.GetString("Connected1Hour", "0") + kConnectionUnit},
        {"■過去１時間の合計転送量",
         FormatTransferTotals(GetInt64Leaf(node, "SendSize1Hour"), GetInt64Leaf(node, "RecvSize1Hour"))},
    };
}

// The lines `text` takes in `width` pixels; at least one, so an empty value still clears
// its line.
QStringList WrapText(const QString& text, const QFont& font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines << QString();
    return lines;
}

}  // namespace

CServerInfoView::CServerInfoView(const CDrawTools& tools, const CControllerSettings& settings,
                                 CServerControlClient& client, QWidget* parent)
    : CMainViewBase(tools, parent), settings_(settings), client_(client)
{
    connect(&timer_, &QTimer::timeout, this, &CServerInfoView::RepaintIfShown);
    timer_.start(kRepaintMs);
}

std::string CServerInfoView::GetCopyText()
{
    std::string text;
    const std::string warning = NoPathEntryWarning(settings_.GetSetting());
    const std::string status = client_.GetServerErrorString();
    AppendTextBlock(text, kStatusLabel, warning.empty() ? status : status + "\r\n　" + warning);
    for (const TextBlock& block : DetailBlocks(client_, false))
        AppendTextBlock(text, block.label, block.value);
    return text;
}

void CServerInfoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawInfo(painter);
}

void CServerInfoView::RepaintIfShown()
{
    if (!window()->isMinimized())
        update();
}

void CServerInfoView::DrawInfo(QPainter& painter)
{
    painter.setBackgroundMode(Qt::TransparentMode);
    // The report says why a stopped server stopped, so it is worth copying then too.
    SetCopyEnabled(true);
    const bool running = client_.IsRunning() != 0;
    const std::string status = client_.GetServerErrorString();
    int statusLines =
        DrawBlock(painter, kLeft, kStatusTop, kStatusLabel, running ? status : "起動エラー : " + status, !running);
    // Running or not: a server started on these settings answers nothing either.
    const std::string warning = NoPathEntryWarning(settings_.GetSetting());
    if (!warning.empty())
        statusLines += DrawLines(painter, kLeft + kValueIndent, kStatusTop + (1 + statusLines) * kLineHeight, warning,
                                 Tools().redPen);
    // Asked again: the server may have stopped while the status was drawn.
    if (client_.IsRunning() == 0)
        return;
    // A status wrapped onto more lines, or a warning under it, pushes the figures down.
    const int shift = (statusLines - 1) * kLineHeight;
    const std::vector<TextBlock> blocks = DetailBlocks(client_, true);
    for (size_t i = 0; i < blocks.size() && i < std::size(kDetailTops); ++i) {
        const int push = i < kFirstCount ? shift : std::max(shift - kGapSlack, 0);
        DrawBlock(painter, kLeft, kDetailTops[i] + push, blocks[i].label, blocks[i].value, false);
    }
}

int CServerInfoView::DrawBlock(QPainter& painter, int x, int y, const std::string& label, const std::string& value,
                               bool error)
{
    const CDrawTools& tools = Tools();
    // Positions are the text's top-left; Qt draws from the baseline.
    painter.setFont(tools.boldFont);
    painter.setPen(tools.bluePen);
    painter.drawText(x, y + QFontMetrics(tools.boldFont).ascent(), ToQString(label));

    // Wrapped at the right edge rather than cut there: a start error is read whole.
    return DrawLines(painter, x + kValueIndent, y + kLineHeight, value, error ? tools.redPen : tools.darkPen);
}

int CServerInfoView::DrawLines(QPainter& painter, int x, int y, const std::string& text, const QPen& pen)
{
    const CDrawTools& tools = Tools();
    const QStringList lines = WrapText(ToQString(text), tools.normalFont, std::max(width() - x, 1));
    ClearLine(painter, x, y, static_cast<int>(lines.size()));
    painter.setFont(tools.normalFont);
    painter.setPen(pen);
    const int ascent = QFontMetrics(tools.normalFont).ascent();
    for (qsizetype i = 0; i < lines.size(); ++i)
        painter.drawText(x, y + static_cast<int>(i) * kLineHeight + ascent, lines[i]);
    return static_cast<int>(lines.size());
}

void CServerInfoView::ClearLine(QPainter& painter, int x, int y, int lines)
{
    painter.fillRect(QRect(x, y, width() - x, kLineHeight * lines), Tools().white);
}
