#pragma once
// The server's context tree: the requests in progress under "Threads" and the finished
// ones under "ThreadLogs" (at most Log::MaxThreadLog, oldest first).
//
// A request changes many times while it runs (its progress, its header, its answer), and
// almost always ends before anyone reads it. So its node is not written as it changes,
// nor when it ends: the request is listed here while it runs, its facts are kept here
// once it has ended, and the nodes are written from them when the tree is read.
//
// Lock order: the tree's lock, then a request's own; a request's thread takes only its own
// while it changes.

#include "ConfigClass.h"

#include "thread/SpinLock.h"

#include <memory>
#include <string>
#include <vector>

// A request's node, written when the context tree is read.
class CShownNode {
public:
    virtual ~CShownNode() = default;
    // Appends the node as it stands now to `parent`.
    virtual void ShowIn(CConfigNode& parent) const = 0;
    virtual const std::string& GetNodeName() const = 0;
};

// A request in progress.
class CLiveNode {
public:
    // Appends the node as it stands now to `parent`, under the lock that guards it.
    virtual void ShowIn(CConfigNode& parent) const = 0;
    // Hands over what its node shows, at its end, for ThreadLogs to keep.
    virtual std::unique_ptr<CShownNode> TakeFinished() = 0;

protected:
    ~CLiveNode() = default;
};

class CContextTree {
public:
    // "Threads" and "ThreadLogs", both empty, in that order.
    CContextTree();
    CContextTree(const CContextTree&) = delete;
    CContextTree& operator=(const CContextTree&) = delete;

    // Lists `live` under Threads, after the requests listed before it, until Finish. Not
    // owned; it stays until then.
    void Begin(CLiveNode* live);
    // Ends the listing of `live`. With maxLogs above 0 its finished node (TakeFinished)
    // becomes ThreadLogs' last (in place of one of the same name), and when ThreadLogs
    // then holds more than maxLogs its first is removed (one, so that the list shrinks by
    // at most one a request when the limit is lowered); otherwise `live` keeps what it
    // has. Gives back the node removed from ThreadLogs, or null, for its storage to serve
    // a later request.
    std::unique_ptr<CShownNode> Finish(CLiveNode* live, int maxLogs);

    // The whole tree as a copy, the requests in progress included: taken under the
    // tree's lock, then each request's, so that every node is seen in one state and
    // every request in Threads or in ThreadLogs, never in both nor in neither.
    void CopyTo(CConfigClass& copy);
    // The marker text of CopyTo's copy, as the controller reads it.
    std::string Serialize();

private:
    // Every request takes it twice, each time for a few steps, and a reader once a while
    // for a copy: a spin lock spares the requests a sleep and a wake-up when they meet.
    CSpinLock lock_;
    std::vector<CLiveNode*> live_;                       // under lock_
    std::vector<std::unique_ptr<CShownNode>> finished_;  // under lock_, oldest first
};
