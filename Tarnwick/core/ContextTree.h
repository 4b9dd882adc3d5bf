#pragma once
// The server's context tree: the requests in progress under "Threads" and the finished
// ones under "ThreadLogs" (at most Log::MaxThreadLog, oldest first).
//
// A request in progress writes its node many times (its progress, its header, its
// answer). So that requests do not wait for one another on one lock, each keeps its node
// in a tree of its connection's own while it runs; this tree lists those nodes under
// "Threads", in the order they began, and shows them with its own when it is read. A
// finished node is moved, not copied, into "ThreadLogs".
//
// Lock order: this tree's lock, then the list of requests in progress, then a request
// tree's; a request's thread takes only its own tree's lock while it writes its node.

#include "ConfigAccessor.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class CContextTree {
public:
    // "Threads" and "ThreadLogs", both empty, in that order.
    CContextTree();
    CContextTree(const CContextTree&) = delete;
    CContextTree& operator=(const CContextTree&) = delete;

    // Lists the node `nodePath` ("Threads::<name>::") of `tree`, a tree of the caller's,
    // under Threads, after the requests listed before it. The caller keeps the tree and
    // the text of `nodePath` as they are until it ends the listing with Finish.
    void Begin(CConfigClass* tree, std::string_view nodePath);
    // Ends the listing of the node and moves it out of its tree. With maxLogs above 0 it
    // becomes ThreadLogs' last child, and when ThreadLogs then holds more than maxLogs
    // children its first is removed (one, so that the list shrinks by at most one a
    // request when the limit is lowered); otherwise it is dropped. Gives back the node
    // that left the context (the one removed from ThreadLogs, or the dropped one; an
    // empty node when none did), for its parts to serve a later request.
    CConfigNode Finish(CConfigClass* tree, std::string_view nodePath, int maxLogs);

    // The whole tree as a copy, the requests in progress included: taken under this
    // tree's lock, then each request tree's, so that every node is seen in one state.
    void CopyTo(CConfigClass& copy);
    // The marker text of CopyTo's copy, as the controller reads it.
    std::string Serialize();

    CConfigAccessor GetThreadLogsAccessor() { return tree_.GetAccessor("ThreadLogs"); }

private:
    struct Listed {
        CConfigClass* tree;
        std::string_view nodePath;
    };

    CConfigClass tree_;
    // Its own lock, so that a request that begins waits for no request that finishes; a
    // finishing request takes it inside tree_'s, as readers do.
    std::mutex liveLock_;
    std::vector<Listed> live_;  // under liveLock_
};
