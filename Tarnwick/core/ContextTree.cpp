#include "core/ContextTree.h"

#include <algorithm>
#include <mutex>

namespace {

const char kThreads[] = "Threads";
const char kThreadLogs[] = "ThreadLogs";

}  // namespace

CContextTree::CContextTree() = default;

void CContextTree::Begin(CLiveNode* live)
{
    std::lock_guard<CSpinLock> lock(lock_);
    live_.push_back(live);
}

std::unique_ptr<CShownNode> CContextTree::Finish(CLiveNode* live, int maxLogs)
{
    // In one locked step, so that a reader sees the request in Threads or in ThreadLogs,
    // never in both nor in neither.
    std::lock_guard<CSpinLock> lock(lock_);
    const auto listed = std::find(live_.begin(), live_.end(), live);
    if (listed != live_.end())
        live_.erase(listed);
    if (maxLogs <= 0)
        return nullptr;
    std::unique_ptr<CShownNode> node = live->TakeFinished();
    const auto same = std::find_if(finished_.begin(), finished_.end(), [&node](const auto& kept) {
        return kept->GetNodeName() == node->GetNodeName();
    });
    if (same != finished_.end()) {
        std::swap(*same, node);
        return node;
    }
    finished_.push_back(std::move(node));
    if (finished_.size() <= static_cast<size_t>(maxLogs))
        return nullptr;
    node = std::move(finished_.front());
    finished_.erase(finished_.begin());
    return node;
}

void CContextTree::CopyTo(CConfigClass& copy)
{
    std::lock_guard<CSpinLock> lock(lock_);
    CConfigClass::NodeWriter writer = copy.WriteNode("");
    CConfigNode& root = writer.Node();
    root.Clear();
    CConfigNode& threads = root.AppendChild(std::string_view(kThreads));
    for (const CLiveNode* live : live_)
        live->ShowIn(threads);
    CConfigNode& logs = root.AppendChild(std::string_view(kThreadLogs));
    for (const std::unique_ptr<CShownNode>& node : finished_)
        node->ShowIn(logs);
}

std::string CContextTree::Serialize()
{
    CConfigClass copy;
    CopyTo(copy);
    return copy.SerializeNode("");
}
