#include "core/ContextTree.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <string_view>

namespace {

const char kThreadLogsPath[] = "ThreadLogs::";

}  // namespace

CContextTree::CContextTree()
{
    // Clearing a missing node creates it: both top nodes exist, in this order, from the start.
    tree_.ClearNode("Threads");
    tree_.ClearNode("ThreadLogs");
}

void CContextTree::Begin(CConfigClass* tree, std::string_view nodePath)
{
    std::lock_guard<std::mutex> lock(liveLock_);
    live_.push_back({tree, nodePath});
}

CConfigNode CContextTree::Finish(CConfigClass* tree, std::string_view nodePath, int maxLogs)
{
    // The node's path below ThreadLogs: its name and "::".
    const std::string_view::size_type separator = nodePath.find("::");
    const std::string_view childPath =
        separator == std::string_view::npos ? nodePath : nodePath.substr(separator + 2);
    {
        std::lock_guard<const CConfigClass> lock(tree_);
        {
            std::lock_guard<std::mutex> listLock(liveLock_);
            const auto listed = std::find_if(live_.begin(), live_.end(), [&](const Listed& entry) {
                return entry.tree == tree && entry.nodePath == nodePath;
            });
            if (listed != live_.end())
                live_.erase(listed);
        }
        if (maxLogs > 0)
            return tree_.MoveNodeFromAndTrim(kThreadLogsPath, childPath, *tree, nodePath, maxLogs);
    }
    const std::string_view path = nodePath.substr(0, nodePath.size() >= 2 ? nodePath.size() - 2 : 0);
    return tree->TakeNode(path);
}

void CContextTree::CopyTo(CConfigClass& copy)
{
    std::shared_lock<const CConfigClass> lock(tree_);
    std::lock_guard<std::mutex> listLock(liveLock_);
    copy.CopyNode("", "", &tree_);
    for (const Listed& node : live_)
        copy.CopyNode(node.nodePath, node.nodePath, node.tree);
}

std::string CContextTree::Serialize()
{
    CConfigClass copy;
    CopyTo(copy);
    return copy.SerializeNode("");
}
