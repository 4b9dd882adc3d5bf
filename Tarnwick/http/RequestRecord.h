#pragma once
// What one request is and what became of it, worked out once and read by every step: the
// facts of its thread node (name, progress text, protocol, client, target host, sizes),
// the parsed request, and the answer's status and headers. The request's node
// "Threads::Thread_xxxx" in the connection's own tree, which the controller reads through
// the core's context tree, is published from it at set points: the start, the parsed
// header, each progress text (with the answer as it stands then), the CGI command line,
// and the end. Each set point writes its part of the node in one locked step of that
// tree. Nothing reads the node back as the request's state.
//
// A connection keeps one record and begins it anew for each request: its texts and the
// parts of a finished node that the context tree hands back are used again, so that a
// request of a kept-alive connection fills its record and node without new storage.
//
// The request's own thread only; the tree locks itself against its readers.

#include "http/HttpRequest.h"
#include "http/ResponseInfo.h"

#include "ConfigAccessor.h"
#include "ConfigClass.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CIPv4Address;

class CRequestRecord {
public:
    // `tree` is the connection's own tree, in which the request's node is published under
    // "Threads"; not owned, it outlives the record.
    explicit CRequestRecord(CConfigClass* tree);
    CRequestRecord(const CRequestRecord&) = delete;
    CRequestRecord& operator=(const CRequestRecord&) = delete;

    // --- set points --------------------------------------------------------------------
    // Starts the record of a request named `name` ("Thread_xxxx") and publishes its node:
    // ThreadName, Info "初期化中です...", Protocol ("https" on a secure socket, else
    // "http"), Host (the client's dotted address) and StartTime (Date, Time and GMT of
    // this second), under "Threads" of the tree (in place of a node of that name).
    void Begin(std::string_view name, bool secure, const CIPv4Address& peer);
    // Parses the request header and publishes RequestInfo, then TargetHost (the Host
    // header, "" without one). Throws CRequestRefusal for a header Parse refuses (nothing
    // published but the leaves of a path refused as not Shift-JIS) or whose Host lines
    // CheckHostLines refuses (RequestInfo published, no TargetHost).
    const CHttpRequest& ParseRequest(std::string_view header);
    // Info := text, published with the answer as it stands now when that has changed.
    void SetInfo(std::string_view text);
    // ScriptCommand := the CGI command line, published at once.
    void SetScriptCommand(std::string_view command);
    // RecvSize, SendSize and their sum Size; published by End.
    void SetTransferSizes(int64_t sent, int64_t received);
    // Publishes what is pending and the end: the sizes, EndTime (this second), and the
    // Options nodes of RequestInfo and ResponseInfo, which readers of the node find there
    // even when empty. The node is then ready to leave the tree (CContextTree::Finish).
    void End();
    // Publishes the answer as it stands now, when that has changed.
    void PublishResponse();
    // Takes a finished node that the context tree let go of, to use its parts for the
    // next requests' nodes.
    void Recycle(CConfigNode node);

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
    const std::string& GetStartGmt() const { return startGmt_; }
    // "Threads::Thread_xxxx::": the node's path in the connection's tree.
    const std::string& GetNodePath() const { return nodePath_; }
    CConfigClass* GetTree() const { return tree_; }
    // A view of the published node, for code that reads what the controller sees.
    CConfigAccessor GetThreadView() const;
    // The node's leaves as they stand, in their stored order, as visit(key, value):
    // ThreadName, Info, Protocol, Host, then TargetHost, ScriptCommand and the three sizes
    // once they were set.
    template <typename Visit>
    void VisitThreadLeaves(Visit visit) const
    {
        visit(std::string_view("ThreadName"), std::string_view(name_));
        visit(std::string_view("Info"), std::string_view(info_));
        visit(std::string_view("Protocol"), std::string_view(secure_ ? "https" : "http"));
        visit(std::string_view("Host"), std::string_view(host_));
        if (hasTargetHost_)
            visit(std::string_view("TargetHost"), std::string_view(targetHost_));
        if (hasScriptCommand_)
            visit(std::string_view("ScriptCommand"), std::string_view(scriptCommand_));
        if (hasSizes_) {
            visit(std::string_view("RecvSize"), std::string_view(receivedText_));
            visit(std::string_view("SendSize"), std::string_view(sentText_));
            visit(std::string_view("Size"), std::string_view(sizeText_));
        }
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
        requestNode_ = true;
        answerMade_ = true;
    }
    bool IsParsed() const { return parsed_; }

    // --- the answer --------------------------------------------------------------------
    // Written by every response of the request, in turn; published at the set points.
    CResponseInfo& Response() { return response_; }
    const CResponseInfo& Response() const { return response_; }

private:
    // Writes the parts the node lacks or that changed since the last set point.
    void PublishPending(CConfigNode& node);
    void FillResponseNode(CConfigNode& responseInfo) const;
    // A node named `name` made of a recycled part when there is one.
    CConfigNode TakeSpare(std::string_view name);

    CConfigClass* tree_;
    std::string nodePath_;

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
    std::string startGmt_;

    CHttpRequest request_;
    bool requestNode_ = false;
    bool answerMade_ = false;
    bool parsed_ = false;
    CResponseInfo response_;

    // What the node shows so far.
    bool requestPublished_ = false;
    bool requestOptionsPublished_ = false;
    bool responsePublished_ = false;
    uint64_t responseVersion_ = 0;

    // Parts of finished nodes, for the next nodes.
    CConfigNode spareNode_;
    bool hasSpareNode_ = false;
    std::vector<CConfigNode> spareChildren_;
};
