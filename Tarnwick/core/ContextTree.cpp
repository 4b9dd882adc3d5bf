#include "core/ContextTree.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

namespace {

const char kThreads[] = "Threads";
const char kThreadLogs[] = "ThreadLogs";

}  // namespace

CContextTree::CContextTree()
{
    // Clearing a missing node creates it: both top nodes exist, in this order, from the start.
    tree_.ClearNode(kThreads);
    tree_.ClearNode(kThreadLogs);
}

void CContextTree::Begin(const CLiveNode* live)
{
    std::lock_guard<std::mutex> lock(liveLock_);
    live_.push_back(live);
}

CConfigNode CContextTree::Finish(const CLiveNode* live, CConfigNode finished, int maxLogs)
{
    // Under the tree's lock, so that a reader sees the request in Threads or in
    // ThreadLogs, never in both nor in neither.
    CConfigClass::NodeWriter writer = tree_.WriteNode(kThreadLogs);
    {
        std::lock_guard<std::mutex> listLock(liveLock_);
        const auto listed = std::find(live_.begin(), live_.end(), live);
        if (listed != live_.end())
            live_.erase(listed);
    }
    if (maxLogs <= 0)
        return finished;
    CConfigNode& logs = writer.Node();
    const int at = logs.FindChild(finished.GetName());
    if (at >= 0)
        logs.GetChild(at).AssignContent(std::move(finished));
    else
        logs.AppendChild(std::move(finished));
    return logs.GetSectionCount() > maxLogs ? logs.TakeChild(0) : CConfigNode();
}

void CContextTree::CopyTo(CConfigClass& copy)
{
    std::shared_lock<const CConfigClass> lock(tree_);
    std::lock_guard<std::mutex> listLock(liveLock_);
    copy.CopyNode("", "", &tree_);
    CConfigClass::NodeWriter writer = copy.WriteNode(kThreads);
    for (const CLiveNode* live : live_)
        live->ShowIn(writer.Node());
}

std::string CContextTree::Serialize()
{
    CConfigClass copy;
    CopyTo(copy);
    return copy.SerializeNode("");
}
