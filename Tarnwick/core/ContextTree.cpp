#include "core/ContextTree.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

CContextTree::CContextTree()
{
    // Clearing a missing node creates it: both top nodes exist, in this order, from the start.
    tree_.ClearNode("Threads");
    tree_.ClearNode("ThreadLogs");
}

void CContextTree::Begin(const CConfigAccessor& node)
{
    std::lock_guard<std::mutex> lock(liveLock_);
    live_.push_back(node);
}

void CContextTree::Finish(const CConfigAccessor& node, const std::string& name, int maxLogs)
{
    const CConfigAccessor logs = GetThreadLogsAccessor();
    CConfigNode dropped;  // freed after the lock is released
    {
        std::lock_guard<const CConfigClass> lock(tree_);
        {
            std::lock_guard<std::mutex> listLock(liveLock_);
            const auto listed = std::find_if(live_.begin(), live_.end(), [&](const CConfigAccessor& entry) {
                return entry.GetTree() == node.GetTree() && entry.GetPrefix() == node.GetPrefix();
            });
            if (listed != live_.end())
                live_.erase(listed);
        }
        if (maxLogs > 0) {
            node.MoveTo(logs.GetSubAccessor(name));
            if (logs.GetSectionCount() > maxLogs)
                dropped = tree_.TakeFirstSection(logs.GetPrefix());
            return;
        }
    }
    node.GetTree()->RemoveNode(node.GetPrefix());
}

void CContextTree::CopyTo(CConfigClass& copy)
{
    std::shared_lock<const CConfigClass> lock(tree_);
    std::lock_guard<std::mutex> listLock(liveLock_);
    copy.CopyNode("", "", &tree_);
    for (const CConfigAccessor& node : live_)
        copy.CopyNode(node.GetPrefix(), node.GetPrefix(), node.GetTree());
}

std::string CContextTree::Serialize()
{
    CConfigClass copy;
    CopyTo(copy);
    return copy.SerializeNode("");
}
