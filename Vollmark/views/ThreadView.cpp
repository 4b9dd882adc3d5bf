#include "views/ThreadView.h"

#include "core/ServerControlClient.h"
#include "core/TransferTotals.h"
#include "gui/DrawTools.h"
#include "gui/QtText.h"
#include "gui/Resources.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTreeWidget>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

// The context changes at most once a second: the server writes a request's progress
// that often.
constexpr int kRefreshMs = 1000;

// The band above the list where the details are drawn.
constexpr int kDetailHeight = 200;
// The list leaves this much of the view free at its right and bottom edges.
constexpr int kListMargin = 5;

// Indices into the view's icons.
constexpr int kImageRunning = 0;
constexpr int kImageFinished = 1;

struct Column {
    const char* title;
    int width;
    const char* leaf;  // null: the request's URL
};
constexpr Column kColumns[] = {
    {"Host", 105, "Host"},
    {"Time", 60, "StartTime::Time"},
    {"Method", 60, "RequestInfo::Method"},
    {"ResponseText", 100, "ResponseInfo::ResponseText"},
    {"Info", 300, "Info"},
    {"URL", 600, nullptr},
};

// A block is a label line and a value line below it, indented; the value line starts
// before the label line ends, as the 12-pixel text leaves room for it.
constexpr int kLabelHeight = 16;
constexpr int kValueTop = 14;
constexpr int kValueIndent = 14;

// The detail blocks stand in three columns below two full-width lines.
constexpr int kLeftX = 2;
constexpr int kMiddleX = 152;
constexpr int kRightX = 302;
constexpr int kNarrowWidth = 150;
constexpr int kTopRows[] = {10, 40};
constexpr int kGridRows[] = {80, 110, 140};

constexpr int kHintWidth = 400;
constexpr const char* kHint = "リストの項目をクリックすると、ここに詳細が表示されます。";

constexpr const char* kUnknownHost = "-不明-";
constexpr const char* kDefaultProtocol = "http";

// RFC 9110 5.1: header field names are case-insensitive, so the request's own
// spelling of them is matched whatever its case.
constexpr int kHeaderCase = 1;

// "" for a request whose target was never read (it broke off before its header).
std::string RequestUrl(const CConfigAccessor& node)
{
    const std::string object = node.GetString("RequestInfo::Object", "");
    if (object.empty())
        return object;
    return node.GetString("Protocol", kDefaultProtocol) + "://" +
           node.GetString("RequestInfo::Options::Host", kUnknownHost, kHeaderCase) + object;
}

std::string TransferSizes(const CConfigAccessor& node)
{
    const int64_t received = GetInt64Leaf(node, "RecvSize");
    const int64_t sent = GetInt64Leaf(node, "SendSize");
    if (received == 0 && sent == 0)
        return std::string();
    char text[64];
    std::snprintf(text, sizeof text, "Recv : %" PRId64 " / Send : %" PRId64, received, sent);
    return text;
}

struct DetailBlock {
    const char* label;
    std::string value;
    int x;
    int y;
    int width;
};

// What the view shows of one request, in drawing and copying order, laid out for a
// view `viewWidth` pixels wide.
std::vector<DetailBlock> DetailBlocks(const CConfigAccessor& node, int viewWidth)
{
    const auto leaf = [&](const char* key) { return node.GetString(key, ""); };
    const auto header = [&](const char* key) { return node.GetString(key, "", kHeaderCase); };
    const int rightWidth = viewWidth - kRightX;
    return {
        {"■URL", RequestUrl(node), kLeftX, kTopRows[0], viewWidth},
        {"■Info", leaf("Info"), kLeftX, kTopRows[1], viewWidth},
        {"■Host", leaf("Host"), kLeftX, kGridRows[0], kNarrowWidth},
        {"■Method", leaf("RequestInfo::Method"), kLeftX, kGridRows[1], kNarrowWidth},
        {"■ResponseText", leaf("ResponseInfo::ResponseText"), kLeftX, kGridRows[2], kNarrowWidth},
        {"■StartTime", leaf("StartTime::Date") + " " + leaf("StartTime::Time"), kMiddleX, kGridRows[0],
         kNarrowWidth},
        {"■EndTime", leaf("EndTime::Date") + " " + leaf("EndTime::Time"), kMiddleX, kGridRows[1], kNarrowWidth},
        {"■User", leaf("RequestInfo::User"), kMiddleX, kGridRows[2], kNarrowWidth},
        {"■User-Agent", header("RequestInfo::Options::User-Agent"), kRightX, kGridRows[0], rightWidth},
        {"■Referer", header("RequestInfo::Options::Referer"), kRightX, kGridRows[1], rightWidth},
        {"■RecvSize/SendSize", TransferSizes(node), kRightX, kGridRows[2], rightWidth},
    };
}

}  // namespace

CThreadView::CThreadView(const CDrawTools& tools, CServerControlClient& client, QWidget* parent)
    : CMainViewBase(tools, parent),
      client_(client),
      list_(new QTreeWidget(this)),
      icons_{LoadIconResource(kIconRequestActive), LoadIconResource(kIconRequestDone)},
      threads_(context_.GetAccessor("Threads")),
      threadLogs_(context_.GetAccessor("ThreadLogs")),
      threadView_(detail_.GetAccessor("ThreadView"))
{
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSortingEnabled(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    // The clicked row stays as visible as the details it explains when focus moves on.
    QPalette palette = list_->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    list_->setPalette(palette);
    QStringList titles;
    for (const Column& column : kColumns)
        titles.append(ToQString(column.title));
    list_->setHeaderLabels(titles);
    for (int i = 0; i < titles.size(); ++i)
        list_->setColumnWidth(i, kColumns[i].width);
    connect(list_, &QTreeWidget::itemClicked, this, &CThreadView::OnListClick);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &CThreadView::OnListClick);

    RefreshList();
    connect(&timer_, &QTimer::timeout, this, &CThreadView::OnTimer);
    timer_.start(kRefreshMs);
}

std::string CThreadView::GetCopyText()
{
    TakeSelectedNode();
    std::string text;
    for (const DetailBlock& block : DetailBlocks(threadView_, width()))
        AppendTextBlock(text, block.label, block.value);
    return text;
}

void CThreadView::RefreshList() { RefreshFromText(client_.GetServerContext()); }

void CThreadView::RefreshFromText(const std::string& context)
{
    context_.LoadSerializedText(context);
    std::vector<std::string> running;
    std::vector<std::string> finished;
    threads_.GetSections(running);
    threadLogs_.GetSections(finished);
    // Both lists keep the oldest first; the newest request is wanted on top.
    int row = 0;
    for (auto name = running.rbegin(); name != running.rend(); ++name)
        WriteRow(row++, kImageRunning, threads_.GetSubAccessor(*name));
    for (auto name = finished.rbegin(); name != finished.rend(); ++name)
        WriteRow(row++, kImageFinished, threadLogs_.GetSubAccessor(*name));
    while (list_->topLevelItemCount() > row)
        delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
}

void CThreadView::WriteRow(int row, int image, const CConfigAccessor& node)
{
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item == nullptr) {
        item = new QTreeWidgetItem;
        list_->addTopLevelItem(item);
    }
    item->setIcon(0, icons_[image]);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        const char* leaf = kColumns[i].leaf;
        item->setText(i, ToQString(leaf != nullptr ? node.GetString(leaf, "") : RequestUrl(node)));
    }
}

void CThreadView::OnListClick()
{
    int row = -1;
    for (int i = 0; i < list_->topLevelItemCount() && row < 0; ++i) {
        if (list_->topLevelItem(i)->isSelected())
            row = i;
    }
    // Read again rather than taken from the rows: the context may have been fetched
    // since the list was last written.
    std::vector<std::string> running;
    std::vector<std::string> finished;
    const int runningCount = threads_.GetSections(running);
    const int finishedCount = threadLogs_.GetSections(finished);
    // A control-click can leave nothing selected (row -1); the details then stay.
    if (row >= 0 && row < runningCount)
        selectedName_ = running[static_cast<size_t>(runningCount - 1 - row)];
    else if (row >= runningCount && row - runningCount < finishedCount)
        selectedName_ = finished[static_cast<size_t>(finishedCount - 1 - (row - runningCount))];
    update();
}

void CThreadView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawDetail(painter);
}

void CThreadView::resizeEvent(QResizeEvent*)
{
    list_->setGeometry(0, kDetailHeight, std::max(0, width() - kListMargin),
                       std::max(0, height() - kDetailHeight - kListMargin));
}

void CThreadView::OnTimer()
{
    if (window()->isMinimized())
        return;
    update();
    RefreshList();
}

void CThreadView::TakeSelectedNode()
{
    // A request listed in both shows its finished state.
    if (threadLogs_.HasSection(selectedName_))
        threadView_.CopyFrom(threadLogs_.GetSubAccessor(selectedName_));
    else if (threads_.HasSection(selectedName_))
        threadView_.CopyFrom(threads_.GetSubAccessor(selectedName_));
}

void CThreadView::DrawDetail(QPainter& painter)
{
    TakeSelectedNode();
    if (threadView_.GetString("ThreadName", "").empty()) {
        DrawDetailBlock(painter, kLeftX, kTopRows[0], kHintWidth, kHint, "");
        SetCopyEnabled(false);
        return;
    }
    SetCopyEnabled(true);
    for (const DetailBlock& block : DetailBlocks(threadView_, width()))
        DrawDetailBlock(painter, block.x, block.y, block.width, block.label, block.value);
}

void CThreadView::DrawDetailBlock(QPainter& painter, int x, int y, int width, const std::string& label,
                                  const std::string& value)
{
    const CDrawTools& tools = Tools();
    const QRect labelLine(x, y, width, kLabelHeight);
    const QRect valueLine(x + kValueIndent, y + kValueTop, width - kValueIndent, kLabelHeight);
    // Both whited out before either is drawn: the value line would cut the label's descenders.
    painter.fillRect(labelLine, tools.white);
    painter.fillRect(valueLine, tools.white);
    painter.setFont(tools.boldFont);
    painter.setPen(tools.bluePen);
    painter.drawText(labelLine, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(ToQString(label), Qt::ElideRight, labelLine.width()));

    painter.setFont(tools.normalFont);
    painter.setPen(tools.darkPen);
    // Both ends of a URL or a path say more than its middle.
    painter.drawText(valueLine, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(ToQString(value), Qt::ElideMiddle, valueLine.width()));
}
