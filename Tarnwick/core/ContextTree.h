#pragma once
// The server's context tree: the requests in progress under "Threads" and the finished
// ones under "ThreadLogs" (at most Log::MaxThreadLog, oldest first).
//
// A request in progress changes many times (its progress, its header, its answer), and
// almost always ends before anyone reads it. So it is not written into this tree as it
// changes: it is listed here, and writes its node as it stands when the tree is read.
// Its finished node, made once at its end, takes its place in ThreadLogs in the same
// locked step that ends its listing.
//
// Lock order: this tree's lock, then the list of requests in progress, then a request's
// own; a request's thread takes only its own while it changes.

#include "ConfigAccessor.h"

#include <mutex>
#include <string>
#include <vector>

// A request in progress as the context tree shows it.
class CLiveNode {
public:
    // Appends the node as it stands now to `parent`, under the lock that guards it.
    virtual void ShowIn(CConfigNode& parent) const = 0;

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
    void Begin(const CLiveNode* live);
    // Ends the listing of `live`. With maxLogs above 0 its `finished` node becomes
    // ThreadLogs' last child (in place of one of the same name), and when ThreadLogs then
    // holds more than maxLogs children its first is removed (one, so that the list
    // shrinks by at most one a request when the limit is lowered); otherwise `finished` is
    // dropped. Gives back the node that left the context (the one removed from ThreadLogs,
    // or the dropped one; an empty node when none did), for its parts to serve a later
    // request.
    CConfigNode Finish(const CLiveNode* live, CConfigNode finished, int maxLogs);

    // The whole tree as a copy, the requests in progress included: taken under this
    // tree's lock, then each request's, so that every node is seen in one state.
    void CopyTo(CConfigClass& copy);
    // The marker text of CopyTo's copy, as the controller reads it.
    std::string Serialize();

    CConfigAccessor GetThreadLogsAccessor() { return tree_.GetAccessor("ThreadLogs"); }

private:
    CConfigClass tree_;
    // Its own lock, so that a request that begins waits for no request that finishes; a
    // finishing request takes it inside tree_'s, as readers do.
    std::mutex liveLock_;
    std::vector<const CLiveNode*> live_;  // under liveLock_
};
