#pragma once
// What one request is and what became of it, worked out once and read by every step: the
// facts of its thread node (name, progress text, protocol, client, target host, sizes),
// the parsed request, and the answer's status and headers. The controller reads the
// request's node "Threads::Thread_xxxx" through the core's context tree, which lists the
// record while the request runs: the record then writes the node as it stands (ShowIn).
// Which parts the node has follows set points: the start, the parsed header, each
// progress text, the CGI command line, and the end; the parts it has show their facts as
// they are. At the end the record makes the finished node once, for ThreadLogs.
//
// A connection keeps one record and begins it anew for each request: its texts and the
// parts of a finished node that the context tree hands back are used again, so that a
// request of a kept-alive connection fills its record and node without new storage.
//
// Changed by the request's own thread alone, under the record's lock, which a reader in
// another thread takes while it writes the node.

#include "http/HttpRequest.h"
#include "http/ResponseInfo.h"

#include "core/ContextTree.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CIPv4Address;

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
    // The finished node for ThreadLogs (after End), made of recycled parts when there are.
    CConfigNode TakeFinishedNode();
    // Takes a finished node that the context tree let go of, to use its parts for the
    // next requests' finished nodes.
    void Recycle(CConfigNode node);

    // Appends the node as it stands now: for the context tree's readers.
    void ShowIn(CConfigNode& parent) const override;

    // --- the thread node ---------------------------------------------------------------
    const std::string& GetThreadName() const { return name_; }
    const std::string& GetInfo() const { return info_; }
    bool IsSecure() const { return secure_; }
    // The client's address as dotted text.
    const std::string& GetHost() const { return host_; }
    // The request's Host header as sent ("" without one), once the header was parsed.
    const std::string& GetTargetHost() const { return targetHost_; }
    const std::string& GetScriptCommand() const { return scriptCommand_; }
    // The moment the request began, as an HTTP date: the answer's Date.
    const std::string& GetStartGmt() const { return start_.gmt; }
    // "Threads::Thread_xxxx::": the node's path in the connection's tree.
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
        VisitLeaves(visit, hasSizes_);
    }

    // --- the request -------------------------------------------------------------------
    // Empty until ParseRequest succeeded.
    const CHttpRequest& GetRequest() const { return request_; }
    // Whether the node has RequestInfo: once the header was parsed (or refused for its
    // path), or once an answer was made for a header that was not. An answer reads the
    // request's headers from there, which makes its Options: a parsed request has them
    // at once, a request refused for its path once MakeRequestNode says an answer came.
    bool HasRequestNode() const { return requestNode_; }
    void MakeRequestNode()
    {
        const std::lock_guard<std::mutex> lock(lock_);
        requestNode_ = true;
        answerMade_ = true;
    }
    bool IsParsed() const { return parsed_; }

    // --- the answer --------------------------------------------------------------------
    // Written by every response of the request, in turn; in the node from a set point on.
    CResponseInfo& Response() { return response_; }
    const CResponseInfo& Response() const { return response_; }

private:
    // Date, Time and GMT of a second, as StartTime and EndTime hold them.
    struct Stamp {
        std::string date;
        std::string time;
        std::string gmt;
    };
    template <typename Visit>
    void VisitLeaves(Visit visit, bool withSizes) const
    {
        visit(std::string_view("ThreadName"), std::string_view(name_));
        visit(std::string_view("Info"), std::string_view(info_));
        visit(std::string_view("Protocol"), std::string_view(secure_ ? "https" : "http"));
        visit(std::string_view("Host"), std::string_view(host_));
        if (hasTargetHost_)
            visit(std::string_view("TargetHost"), std::string_view(targetHost_));
        if (hasScriptCommand_)
            visit(std::string_view("ScriptCommand"), std::string_view(scriptCommand_));
        if (withSizes) {
            visit(std::string_view("RecvSize"), std::string_view(receivedText_));
            visit(std::string_view("SendSize"), std::string_view(sentText_));
            visit(std::string_view("Size"), std::string_view(sizeText_));
        }
    }
    // Makes the parts that have come since the last set point parts of the node.
    void MarkSetPoint();
    // Fills `node` with the node as it stands; `takePart(name)` gives each child node.
    template <typename TakePart>
    void FillNode(CConfigNode& node, TakePart takePart) const;
    void FillResponseNode(CConfigNode& responseInfo) const;
    // A node named `name` made of a recycled part when there is one.
    CConfigNode TakeSpare(std::string_view name);

    CConfigClass* tree_;
    std::string nodePath_;
    // Guards what the node shows against its readers.
    mutable std::mutex lock_;

    std::string name_;
    std::string info_;
    bool secure_ = false;
    std::string host_;
    bool hasTargetHost_ = false;
    std::string targetHost_;
    bool hasScriptCommand_ = false;
    std::string scriptCommand_;
    bool hasSizes_ = false;
    std::string receivedText_;
    std::string sentText_;
    std::string sizeText_;
    Stamp start_;
    Stamp end_;

    CHttpRequest request_;
    bool requestNode_ = false;
    bool answerMade_ = false;
    bool parsed_ = false;
    CResponseInfo response_;

    // The parts of the node, as the set points so far made them.
    bool showsRequest_ = false;
    // An empty Options under RequestInfo for a request refused for its path, once an
    // answer read it.
    bool showsAnsweredOptions_ = false;
    bool showsResponse_ = false;
    bool responseBeforeRequest_ = false;
    bool showsSizes_ = false;
    bool ended_ = false;

    // Parts of finished nodes, for the next nodes.
    CConfigNode spareNode_;
    bool hasSpareNode_ = false;
    std::vector<CConfigNode> spareChildren_;
};
