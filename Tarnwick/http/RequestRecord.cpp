#include "http/RequestRecord.h"

#include "http/RequestHeader.h"

#include "core/SecondTexts.h"

#include "IPv4Address.h"

#include <charconv>
#include <utility>

namespace {

const char kStarting[] = "初期化中です...";
const char kThreads[] = "Threads";
const char kRequestInfo[] = "RequestInfo";
const char kResponseInfo[] = "ResponseInfo";
const char kOptions[] = "Options";
const char kStartTime[] = "StartTime";
const char kEndTime[] = "EndTime";

// Parts of finished nodes kept for later ones: a node's few children, and a spare or two.
constexpr std::size_t kMaxSpareChildren = 8;

void AssignDecimal(std::string& text, int64_t value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    text.assign(digits, end.ptr);
}

}  // namespace

CRequestRecord::CRequestRecord(CConfigClass* tree) : tree_(tree) { response_.GuardWith(&lock_); }

CConfigAccessor CRequestRecord::GetThreadView() const
{
    {
        CConfigClass::NodeWriter writer = tree_->WriteNode(kThreads);
        CConfigNode& threads = writer.Node();
        const int at = threads.FindChild(name_);
        if (at >= 0)
            threads.TakeChild(at);
        ShowIn(threads);
    }
    return CConfigAccessor(tree_, nodePath_);
}

CConfigNode CRequestRecord::TakeSpare(std::string_view name)
{
    for (auto part = spareChildren_.begin(); part != spareChildren_.end(); ++part) {
        if (part->GetName() == name) {
            CConfigNode taken = std::move(*part);
            spareChildren_.erase(part);
            return taken;
        }
    }
    return CConfigNode(std::string(name));
}

void CRequestRecord::Recycle(CConfigNode node)
{
    if (!hasSpareNode_) {
        spareNode_ = std::move(node);
        hasSpareNode_ = true;
    }
}

void CRequestRecord::Begin(std::string_view name, bool secure, const CIPv4Address& peer)
{
    response_.Clear();
    const CSecondTexts& now = CSecondTexts::Now();
    const std::lock_guard<std::mutex> lock(lock_);
    name_.assign(name.data(), name.size());
    info_.assign(kStarting);
    secure_ = secure;
    host_ = peer.ToString();
    hasTargetHost_ = false;
    targetHost_.clear();
    hasScriptCommand_ = false;
    scriptCommand_.clear();
    hasSizes_ = false;
    request_.Clear();
    requestNode_ = false;
    answerMade_ = false;
    parsed_ = false;
    showsRequest_ = false;
    showsAnsweredOptions_ = false;
    showsResponse_ = false;
    responseBeforeRequest_ = false;
    showsSizes_ = false;
    ended_ = false;
    nodePath_.assign(kThreads).append("::").append(name).append("::");
    start_.date = now.Date();
    start_.time = now.Time();
    start_.gmt = now.Gmt();
}

const CHttpRequest& CRequestRecord::ParseRequest(std::string_view header)
{
    std::unique_lock<std::mutex> lock(lock_);
    const int code = request_.Parse(header);
    if (code != 0) {
        // A path refused as not Shift-JIS keeps what was asked, for the log and the page.
        if (request_.HasLeaves()) {
            requestNode_ = true;
            MarkSetPoint();
        }
        throw CRequestRefusal{code, request_.GetRefusal()};
    }
    parsed_ = true;
    requestNode_ = true;
    bool hostLinesAccepted = true;
    CRequestRefusal refusal{};
    try {
        request_.CheckHostLines();
    } catch (const CRequestRefusal& refused) {
        hostLinesAccepted = false;
        refusal = refused;
    }
    if (hostLinesAccepted) {
        // RFC 9110 5.1: field names are case-insensitive.
        const std::string* host = request_.FindHeader("Host");
        targetHost_.assign(host ? *host : std::string());
        hasTargetHost_ = true;
    }
    MarkSetPoint();
    if (!hostLinesAccepted)
        throw refusal;
    return request_;
}

void CRequestRecord::SetInfo(std::string_view text)
{
    const std::lock_guard<std::mutex> lock(lock_);
    info_.assign(text.data(), text.size());
    MarkSetPoint();
}

void CRequestRecord::SetScriptCommand(std::string_view command)
{
    const std::lock_guard<std::mutex> lock(lock_);
    scriptCommand_.assign(command.data(), command.size());
    hasScriptCommand_ = true;
}

void CRequestRecord::SetTransferSizes(int64_t sent, int64_t received)
{
    const std::lock_guard<std::mutex> lock(lock_);
    AssignDecimal(receivedText_, received);
    AssignDecimal(sentText_, sent);
    AssignDecimal(sizeText_, sent + received);
    hasSizes_ = true;
}

void CRequestRecord::PublishResponse()
{
    const std::lock_guard<std::mutex> lock(lock_);
    MarkSetPoint();
}

void CRequestRecord::End()
{
    // A reader of the node (the request log's, before) finds both Options nodes, even
    // empty ones.
    response_.MakeHeaderNode();
    const CSecondTexts& now = CSecondTexts::Now();
    const std::lock_guard<std::mutex> lock(lock_);
    showsSizes_ = hasSizes_;
    MarkSetPoint();
    end_.date = now.Date();
    end_.time = now.Time();
    end_.gmt = now.Gmt();
    ended_ = true;
}

void CRequestRecord::MarkSetPoint()
{
    if (requestNode_ && !showsRequest_)
        showsRequest_ = true;
    // A request refused for its path gets its (empty) Options once an answer reads them.
    if (showsRequest_ && answerMade_)
        showsAnsweredOptions_ = true;
    if (response_.Exists() && !showsResponse_) {
        showsResponse_ = true;
        responseBeforeRequest_ = !showsRequest_;
    }
}

template <typename TakePart>
void CRequestRecord::FillNode(CConfigNode& node, TakePart takePart) const
{
    node.SetName(name_);
    std::size_t leaves = 0;
    VisitLeaves([&](std::string_view key, std::string_view value) { node.SetLeafAt(leaves++, key, value); },
                showsSizes_);
    node.TruncateLeaves(leaves);

    const auto stamp = [&](const char* name, const Stamp& moment) {
        CConfigNode part = takePart(name);
        part.SetName(name);
        part.SetLeafAt(0, "Date", moment.date);
        part.SetLeafAt(1, "Time", moment.time);
        part.SetLeafAt(2, "GMT", moment.gmt);
        part.TruncateLeaves(3);
        part.TruncateChildren(0);
        node.AppendChild(std::move(part));
    };
    const auto request = [&] {
        CConfigNode part = takePart(kRequestInfo);
        part.SetName(kRequestInfo);
        // The leaves the request has (none for a header not parsed), and its header lines.
        request_.FillNode(part);
        if (part.GetSectionCount() == 0 && showsAnsweredOptions_)
            part.AppendChild(std::string_view(kOptions));
        node.AppendChild(std::move(part));
    };
    const auto response = [&] {
        CConfigNode part = takePart(kResponseInfo);
        part.SetName(kResponseInfo);
        FillResponseNode(part);
        node.AppendChild(std::move(part));
    };
    stamp(kStartTime, start_);
    if (showsResponse_ && responseBeforeRequest_)
        response();
    if (showsRequest_)
        request();
    if (showsResponse_ && !responseBeforeRequest_)
        response();
    if (ended_)
        stamp(kEndTime, end_);
}

void CRequestRecord::ShowIn(CConfigNode& parent) const
{
    const std::lock_guard<std::mutex> lock(lock_);
    FillNode(parent.AppendChild(name_), [](std::string_view name) { return CConfigNode(std::string(name)); });
}

CConfigNode CRequestRecord::TakeFinishedNode()
{
    // Only this thread changes the record, so it reads it without the lock.
    CConfigNode node;
    if (hasSpareNode_) {
        node = std::move(spareNode_);
        hasSpareNode_ = false;
        node.TakeChildren(0, spareChildren_);
        if (spareChildren_.size() > kMaxSpareChildren)
            spareChildren_.erase(spareChildren_.begin() + kMaxSpareChildren, spareChildren_.end());
    }
    FillNode(node, [this](std::string_view name) { return TakeSpare(name); });
    return node;
}

void CRequestRecord::FillResponseNode(CConfigNode& responseInfo) const
{
    std::size_t leaves = 0;
    response_.VisitLeaves(
        [&](std::string_view key, std::string_view value) { responseInfo.SetLeafAt(leaves++, key, value); });
    responseInfo.TruncateLeaves(leaves);
    if (!response_.HasHeaderNode()) {
        responseInfo.TruncateChildren(0);
        return;
    }
    FillFieldNode(responseInfo, kOptions, response_.GetHeaders());
}
