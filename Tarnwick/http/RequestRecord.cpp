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

template <typename Source>
void FillStamp(CConfigNode& node, const Source& texts)
{
    std::size_t leaves = 0;
    texts.VisitStamp([&](std::string_view key, std::string_view value) { node.SetLeafAt(leaves++, key, value); });
    node.TruncateLeaves(leaves);
    node.TruncateChildren(0);
}

}  // namespace

CRequestRecord::CRequestRecord(CConfigClass* tree) : tree_(tree) {}

CConfigAccessor CRequestRecord::GetThreadView() const { return CConfigAccessor(tree_, nodePath_); }

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
    response_.Clear();
    requestPublished_ = false;
    requestOptionsPublished_ = false;
    responsePublished_ = false;
    responseVersion_ = response_.GetVersion();
    nodePath_.assign(kThreads).append("::").append(name).append("::");

    const CSecondTexts& now = CSecondTexts::Now();
    startGmt_ = now.Gmt();

    // Made before it is published, from a finished node's parts when there is one.
    CConfigNode node;
    if (hasSpareNode_) {
        node = std::move(spareNode_);
        hasSpareNode_ = false;
        node.TakeChildren(0, spareChildren_);
        if (spareChildren_.size() > kMaxSpareChildren)
            spareChildren_.erase(spareChildren_.begin() + kMaxSpareChildren, spareChildren_.end());
    }
    node.SetName(name);
    std::size_t leaves = 0;
    VisitThreadLeaves([&](std::string_view key, std::string_view value) { node.SetLeafAt(leaves++, key, value); });
    node.TruncateLeaves(leaves);
    CConfigNode startTime = TakeSpare(kStartTime);
    startTime.SetName(kStartTime);
    FillStamp(startTime, now);
    node.AppendChild(std::move(startTime));

    CConfigClass::NodeWriter writer = tree_->WriteNode(kThreads);
    CConfigNode& threads = writer.Node();
    const int at = threads.FindChild(name);
    if (at >= 0)
        threads.GetChild(at) = std::move(node);
    else
        threads.AppendChild(std::move(node));
}

const CHttpRequest& CRequestRecord::ParseRequest(std::string_view header)
{
    const int code = request_.Parse(header);
    if (code != 0) {
        // A path refused as not Shift-JIS keeps what was asked, for the log and the page.
        if (request_.HasLeaves()) {
            requestNode_ = true;
            CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
            PublishPending(writer.Node());
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
    {
        CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
        CConfigNode& node = writer.Node();
        PublishPending(node);
        if (hasTargetHost_)
            node.SetLeaf("TargetHost", targetHost_);
    }
    if (!hostLinesAccepted)
        throw refusal;
    return request_;
}

void CRequestRecord::SetInfo(std::string_view text)
{
    info_.assign(text.data(), text.size());
    CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
    CConfigNode& node = writer.Node();
    node.SetLeaf("Info", info_);
    PublishPending(node);
}

void CRequestRecord::SetScriptCommand(std::string_view command)
{
    scriptCommand_.assign(command.data(), command.size());
    hasScriptCommand_ = true;
    CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
    writer.Node().SetLeaf("ScriptCommand", scriptCommand_);
}

void CRequestRecord::SetTransferSizes(int64_t sent, int64_t received)
{
    AssignDecimal(receivedText_, received);
    AssignDecimal(sentText_, sent);
    AssignDecimal(sizeText_, sent + received);
    hasSizes_ = true;
}

void CRequestRecord::PublishResponse()
{
    if (responsePublished_ && responseVersion_ == response_.GetVersion() && (requestOptionsPublished_ || !requestNode_))
        return;
    CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
    PublishPending(writer.Node());
}

void CRequestRecord::End()
{
    // A reader of the node (the request log's, before) finds both Options nodes, even
    // empty ones.
    response_.MakeHeaderNode();
    CConfigNode endTime = TakeSpare(kEndTime);
    endTime.SetName(kEndTime);
    FillStamp(endTime, CSecondTexts::Now());

    CConfigClass::NodeWriter writer = tree_->WriteNode(nodePath_);
    CConfigNode& node = writer.Node();
    if (hasSizes_) {
        node.SetLeaf("RecvSize", receivedText_);
        node.SetLeaf("SendSize", sentText_);
        node.SetLeaf("Size", sizeText_);
    }
    PublishPending(node);
    node.AppendChild(std::move(endTime));
}

void CRequestRecord::PublishPending(CConfigNode& node)
{
    if (requestNode_ && !requestPublished_) {
        CConfigNode requestInfo = TakeSpare(kRequestInfo);
        requestInfo.SetName(kRequestInfo);
        // The leaves the request has (none for a header not parsed), and its header lines.
        request_.FillNode(requestInfo);
        requestOptionsPublished_ = requestInfo.GetSectionCount() > 0;
        node.AppendChild(std::move(requestInfo));
        requestPublished_ = true;
    }
    // A request refused for its path gets its (empty) Options once an answer reads them.
    if (!requestOptionsPublished_ && requestPublished_ && answerMade_) {
        const int at = node.FindChild(kRequestInfo);
        if (at >= 0)
            node.GetChild(at).AppendChild(std::string_view("Options"));
        requestOptionsPublished_ = true;
    }
    if (!response_.Exists() || (responsePublished_ && responseVersion_ == response_.GetVersion()))
        return;
    if (!responsePublished_) {
        CConfigNode responseInfo = TakeSpare(kResponseInfo);
        responseInfo.SetName(kResponseInfo);
        FillResponseNode(responseInfo);
        node.AppendChild(std::move(responseInfo));
        responsePublished_ = true;
    } else {
        const int at = node.FindChild(kResponseInfo);
        if (at >= 0)
            FillResponseNode(node.GetChild(at));
    }
    responseVersion_ = response_.GetVersion();
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
