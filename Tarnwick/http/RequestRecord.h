#pragma once
// What one request is and what became of it, worked out once and read by every step: the
// facts of its thread node (name, progress text, protocol, client, target host, sizes),
// the parsed request, and the answer's status and headers. The controller reads the
// request's node "Threads::Thread_xxxx" through the core's context tree, which lists the
// record while the request runs: the record then writes the node as it stands (ShowIn).
// Which parts the node has follows set points: the start, the parsed header, each
// progress text, the CGI command line, and the end; the parts it has show their facts as
// they are. At the end the facts go to ThreadLogs whole, which writes the finished node
// from them when it is read.
//
// A connection keeps one record and begins it anew for each request; the facts that
// ThreadLogs lets go of come back to a record, so that a request of a kept-alive
// connection fills its record without new storage.
//
// Changed by the request's own thread alone, under the record's lock, which a reader in
// another thread takes while it writes the node.

#include "http/HttpRequest.h"
#include "http/ResponseInfo.h"

#include "core/ContextTree.h"
#include "thread/SpinLock.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CIPv4Address;

// What a request's node shows: the facts of one request, with the parts its node has so
// far. Its record's while the request runs, ThreadLogs' once it has ended.
class CRequestFacts : public CShownNode {
public:
    // Appends the node as the facts stand.
    void ShowIn(CConfigNode& parent) const override;
    const std::string& GetNodeName() const override { return name; }

private:
    friend class CRequestRecord;

    // Date, Time and GMT of a second, as StartTime and EndTime hold them.
    struct Stamp {
        std::string date;
        std::string time;
        std::string gmt;
    };

    template <typename Visit>
    void VisitLeaves(Visit visit, bool withSizes) const
    {
        visit(std::string_view("ThreadName"), std::string_view(name));
        visit(std::string_view("Info"), std::string_view(info));
        visit(std::string_view("Protocol"), std::string_view(secure ? "https" : "http"));
        visit(std::string_view("Host"), std::string_view(host));
        if (hasTargetHost)
            visit(std::string_view("TargetHost"), std::string_view(targetHost));
        if (hasScriptCommand)
            visit(std::string_view("ScriptCommand"), std::string_view(scriptCommand));
        if (withSizes) {
            visit(std::string_view("RecvSize"), std::string_view(receivedText));
            visit(std::string_view("SendSize"), std::string_view(sentText));
            visit(std::string_view("Size"), std::string_view(sizeText));
        }
    }
    // Makes the parts that have come since the last set point parts of the node.
    void MarkSetPoint();
    void FillNode(CConfigNode& node) const;

    std::string name;
    std::string info;
    bool secure = false;
    std::string host;
    bool hasTargetHost = false;
    std::string targetHost;
    bool hasScriptCommand = false;
    std::string scriptCommand;
    bool hasSizes = false;
    std::string receivedText;
    std::string sentText;
    std::string sizeText;
    Stamp start;
    Stamp end;

    CHttpRequest request;
    bool requestNode = false;
    bool answerMade = false;
    bool parsed = false;
    CResponseInfo response;

    // The parts of the node, as the set points so far made them.
    bool showsRequest = false;
    // An empty Options under RequestInfo for a request refused for its path, once an
    // answer read it.
    bool showsAnsweredOptions = false;
    bool showsResponse = false;
    bool responseBeforeRequest = false;
    bool showsSizes = false;
    bool ended = false;
};

class CRequestRecord : public CLiveNode {
public:
    // `tree` is where GetThreadView writes the node, under "Threads"; not owned, it
    // outlives the record.
    explicit CRequestRecord(CConfigClass* tree);
    CRequestRecord(const CRequestRecord&) = delete;
    CRequestRecord& operator=(const CRequestRecord&) = delete;

    // --- set points --------------------------------------------------------------------
    // Starts the record of a request named `name` ("Thread_xxxx"); its node has
    // ThreadName, Info "初期化中です...", Protocol ("https" on a secure socket, else
    // "http"), Host (the client's dotted address) and StartTime (Date, Time and GMT of
    // this second).
    void Begin(std::string_view name, bool secure, const CIPv4Address& peer);
    // Parses the request header; the node gets RequestInfo, then TargetHost (the Host
    // header, "" without one). Throws CRequestRefusal for a header Parse refuses (the node
    // gets nothing but the leaves of a path refused as not Shift-JIS) or whose Host lines
    // CheckHostLines refuses (RequestInfo, no TargetHost).
    const CHttpRequest& ParseRequest(std::string_view header);
    // Info := text; the node gets the answer's parts once there is an answer.
    void SetInfo(std::string_view text);
    // ScriptCommand := the CGI command line, in the node at once.
    void SetScriptCommand(std::string_view command);
    // RecvSize, SendSize and their sum Size; in the node from End.
    void SetTransferSizes(int64_t sent, int64_t received);
    // The end: the node gets the sizes, EndTime (this second), and the Options nodes of
    // RequestInfo and ResponseInfo, which readers of the node find there even when empty.
    void End();
    // The node gets the answer's parts, when there is an answer.
    void PublishResponse();

    // Appends the node as it stands now: for the context tree's readers.
    void ShowIn(CConfigNode& parent) const override;
    // Hands the facts over for ThreadLogs (after End); the record has none until Adopt.
    std::unique_ptr<CShownNode> TakeFinished() override;
    // Takes facts that ThreadLogs let go of, for the next requests: the record keeps its
    // own when it has them still, and makes new ones when it has none and gets none.
    void Adopt(std::unique_ptr<CShownNode> finished);

    // --- the thread node ---------------------------------------------------------------
    const std::string& GetThreadName() const { return facts_->name; }
    const std::string& GetInfo() const { return facts_->info; }
    bool IsSecure() const { return facts_->secure; }
    // The client's address as dotted text.
    const std::string& GetHost() const { return facts_->host; }
    // The request's Host header as sent ("" without one), once the header was parsed.
    const std::string& GetTargetHost() const { return facts_->targetHost; }
    const std::string& GetScriptCommand() const { return facts_->scriptCommand; }
    // The moment the request began, as an HTTP date: the answer's Date.
    const std::string& GetStartGmt() const { return facts_->start.gmt; }
    // "Threads::Thread_xxxx::": the node's path in the view's tree.
    const std::string& GetNodePath() const { return nodePath_; }
    CConfigClass* GetTree() const { return tree_; }
    // The node as it stands now, written to the tree given at construction: for code
    // that reads what the controller sees.
    CConfigAccessor GetThreadView() const;
    // The request's leaves, in the node's order, as visit(key, value): ThreadName, Info,
    // Protocol, Host, then TargetHost, ScriptCommand and the three sizes once they were
    // set (the node shows the sizes from End).
    template <typename Visit>
    void VisitThreadLeaves(Visit visit) const
    {
        facts_->VisitLeaves(visit, facts_->hasSizes);
    }

    // --- the request -------------------------------------------------------------------
    // Empty until ParseRequest succeeded.
    const CHttpRequest& GetRequest() const { return facts_->request; }
    // Whether the node has RequestInfo: once the header was parsed (or refused for its
    // path), or once an answer was made for a header that was not. An answer reads the
    // request's headers from there, which makes its Options: a parsed request has them
    // at once, a request refused for its path once MakeRequestNode says an answer came.
    bool HasRequestNode() const { return facts_->requestNode; }
    void MakeRequestNode();
    bool IsParsed() const { return facts_->parsed; }

    // --- the answer --------------------------------------------------------------------
    // Written by every response of the request, in turn; in the node from a set point on.
    CResponseInfo& Response() { return facts_->response; }
    const CResponseInfo& Response() const { return facts_->response; }

private:
    CConfigClass* tree_;
    std::string nodePath_;
    // Guards the facts against the node's readers.
    mutable CSpinLock lock_;
    std::unique_ptr<CRequestFacts> facts_;
};
