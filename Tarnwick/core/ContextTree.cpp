#include "core/ContextTree.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string_view>

CContextTree::CContextTree()
{
    // Clearing a missing node creates it: both top nodes exist, in this order, from the start.
    tree_.ClearNode("Threads");
    tree_.ClearNode("ThreadLogs");
}

void CContextTree::Begin(const CConfigAccessor& node)
{
    CConfigAccessor listed = node;  // copied before the lock, so that only a move is under it
    std::lock_guard<std::mutex> lock(liveLock_);
    live_.push_back(std::move(listed));
}

void CContextTree::Finish(const CConfigAccessor& node, const std::string& name, int maxLogs)
{
    // Named before the lock is taken, so that the lock is held only for the move itself.
    const CConfigAccessor logs = GetThreadLogsAccessor();
    const CConfigAccessor destination = logs.GetSubAccessor(name);
    const std::string_view childPath = std::string_view(destination.GetPrefix()).substr(logs.GetPrefix().size());
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
            dropped = tree_.MoveNodeFromAndTrim(logs.GetPrefix(), childPath, *node.GetTree(), node.GetPrefix(), maxLogs);
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
