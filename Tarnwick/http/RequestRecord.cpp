#include "http/RequestRecord.h"

#include "http/RequestHeader.h"

#include "core/SecondTexts.h"

#include "IPv4Address.h"

#include <charconv>
#include <mutex>
#include <utility>

namespace {

const char kStarting[] = "初期化中です...";
const char kThreads[] = "Threads";
const char kRequestInfo[] = "RequestInfo";
const char kResponseInfo[] = "ResponseInfo";
const char kOptions[] = "Options";
const char kStartTime[] = "StartTime";
const char kEndTime[] = "EndTime";

void AssignDecimal(std::string& text, int64_t value)
{
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    text.assign(digits, end.ptr);
}

}  // namespace

// --- CRequestFacts ---------------------------------------------------------------------

void CRequestFacts::ShowIn(CConfigNode& parent) const { FillNode(parent.AppendChild(name)); }

void CRequestFacts::MarkSetPoint()
{
    if (requestNode)
        showsRequest = true;
    // A request refused for its path gets its (empty) Options once an answer reads them.
    if (showsRequest && answerMade)
        showsAnsweredOptions = true;
    if (response.Exists() && !showsResponse) {
        showsResponse = true;
        responseBeforeRequest = !showsRequest;
    }
}

void CRequestFacts::FillNode(CConfigNode& node) const
{
    VisitLeaves([&node](std::string_view key, std::string_view value) { node.SetLeaf(key, value); }, showsSizes);

    const auto stamp = [&node](const char* name, const Stamp& moment) {
        CConfigNode& part = node.AppendChild(std::string_view(name));
        part.SetLeaf("Date", moment.date);
        part.SetLeaf("Time", moment.time);
        part.SetLeaf("GMT", moment.gmt);
    };
    const auto requestInfo = [&] {
        CConfigNode& part = node.AppendChild(std::string_view(kRequestInfo));
        // The leaves the request has (none for a header not parsed), and its header lines.
        request.FillNode(part);
        if (part.GetSectionCount() == 0 && showsAnsweredOptions)
            part.AppendChild(std::string_view(kOptions));
    };
    const auto responseInfo = [&] {
        CConfigNode& part = node.AppendChild(std::string_view(kResponseInfo));
        response.VisitLeaves([&part](std::string_view key, std::string_view value) { part.SetLeaf(key, value); });
        if (response.HasHeaderNode())
            FillFieldNode(part, kOptions, response.GetHeaders());
    };
    stamp(kStartTime, start);
    if (showsResponse && responseBeforeRequest)
        responseInfo();
    if (showsRequest)
        requestInfo();
    if (showsResponse && !responseBeforeRequest)
        responseInfo();
    if (ended)
        stamp(kEndTime, end);
}

// --- CRequestRecord --------------------------------------------------------------------

CRequestRecord::CRequestRecord(CConfigClass* tree) : tree_(tree) { Adopt(nullptr); }

CConfigAccessor CRequestRecord::GetThreadView() const
{
    {
        CConfigClass::NodeWriter writer = tree_->WriteNode(kThreads);
        CConfigNode& threads = writer.Node();
        const int at = threads.FindChild(facts_->name);
        if (at >= 0)
            threads.TakeChild(at);
        ShowIn(threads);
    }
    return CConfigAccessor(tree_, nodePath_);
}

void CRequestRecord::ShowIn(CConfigNode& parent) const
{
    const std::lock_guard<CSpinLock> lock(lock_);
    facts_->ShowIn(parent);
}

std::unique_ptr<CShownNode> CRequestRecord::TakeFinished()
{
    const std::lock_guard<CSpinLock> lock(lock_);
    return std::move(facts_);
}

void CRequestRecord::Adopt(std::unique_ptr<CShownNode> finished)
{
    if (facts_)
        return;
    // ThreadLogs gives back what records gave it.
    if (auto* facts = dynamic_cast<CRequestFacts*>(finished.get())) {
        finished.release();
        facts_.reset(facts);
    } else {
        facts_ = std::make_unique<CRequestFacts>();
    }
    facts_->response.GuardWith(&lock_);
}

void CRequestRecord::Begin(std::string_view name, bool secure, const CIPv4Address& peer)
{
    CRequestFacts& facts = *facts_;
    facts.response.Clear();  // takes the lock itself
    const CSecondTexts& now = CSecondTexts::Now();
    const std::lock_guard<CSpinLock> lock(lock_);
    facts.name.assign(name.data(), name.size());
    facts.info.assign(kStarting);
    facts.secure = secure;
    facts.host = peer.ToString();
    facts.hasTargetHost = false;
    facts.targetHost.clear();
    facts.hasScriptCommand = false;
    facts.scriptCommand.clear();
    facts.hasSizes = false;
    facts.request.Clear();
    facts.requestNode = false;
    facts.answerMade = false;
    facts.parsed = false;
    facts.showsRequest = false;
    facts.showsAnsweredOptions = false;
    facts.showsResponse = false;
    facts.responseBeforeRequest = false;
    facts.showsSizes = false;
    facts.ended = false;
    facts.start.date = now.Date();
    facts.start.time = now.Time();
    facts.start.gmt = now.Gmt();
    nodePath_.assign(kThreads).append("::").append(name).append("::");
}

const CHttpRequest& CRequestRecord::ParseRequest(std::string_view header)
{
    CRequestFacts& facts = *facts_;
    const std::lock_guard<CSpinLock> lock(lock_);
    const int code = facts.request.Parse(header);
    if (code != 0) {
        // A path refused as not Shift-JIS keeps what was asked, for the log and the page.
        if (facts.request.HasLeaves()) {
            facts.requestNode = true;
            facts.MarkSetPoint();
        }
        throw CRequestRefusal{code, facts.request.GetRefusal()};
    }
    facts.parsed = true;
    facts.requestNode = true;
    bool hostLinesAccepted = true;
    CRequestRefusal refusal{};
    try {
        facts.request.CheckHostLines();
    } catch (const CRequestRefusal& refused) {
        hostLinesAccepted = false;
        refusal = refused;
    }
    if (hostLinesAccepted) {
        // RFC 9110 5.1: field names are case-insensitive.
        const std::string* host = facts.request.FindHeader("Host");
        facts.targetHost.assign(host ? *host : std::string());
        facts.hasTargetHost = true;
    }
    facts.MarkSetPoint();
    if (!hostLinesAccepted)
        throw refusal;
    return facts.request;
}

void CRequestRecord::SetInfo(std::string_view text)
{
    const std::lock_guard<CSpinLock> lock(lock_);
    facts_->info.assign(text.data(), text.size());
    facts_->MarkSetPoint();
}

void CRequestRecord::SetScriptCommand(std::string_view command)
{
    const std::lock_guard<CSpinLock> lock(lock_);
    facts_->scriptCommand.assign(command.data(), command.size());
    facts_->hasScriptCommand = true;
}

void CRequestRecord::SetTransferSizes(int64_t sent, int64_t received)
{
    const std::lock_guard<CSpinLock> lock(lock_);
    AssignDecimal(facts_->receivedText, received);
    AssignDecimal(facts_->sentText, sent);
    AssignDecimal(facts_->sizeText, sent + received);
    facts_->hasSizes = true;
}

void CRequestRecord::MakeRequestNode()
{
    const std::lock_guard<CSpinLock> lock(lock_);
    facts_->requestNode = true;
    facts_->answerMade = true;
}

void CRequestRecord::PublishResponse()
{
    const std::lock_guard<CSpinLock> lock(lock_);
    facts_->MarkSetPoint();
}

void CRequestRecord::End()
{
    CRequestFacts& facts = *facts_;
    // A reader of the node (the request log's, before) finds both Options nodes, even
    // empty ones.
    facts.response.MakeHeaderNode();  // takes the lock itself
    const CSecondTexts& now = CSecondTexts::Now();
    const std::lock_guard<CSpinLock> lock(lock_);
    facts.showsSizes = facts.hasSizes;
    facts.MarkSetPoint();
    facts.end.date = now.Date();
    facts.end.time = now.Time();
    facts.end.gmt = now.Gmt();
    facts.ended = true;
}
