#include "core/ContextTree.h"

#include "ConfigTreeText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Describe;

// A finished request's node as ThreadLogs keeps it.
struct Kept : CShownNode {
    explicit Kept(CConfigNode node) : node(std::move(node)) {}
    void ShowIn(CConfigNode& parent) const override { parent.AppendChild(node); }
    const std::string& GetNodeName() const override { return node.GetName(); }
    CConfigNode node;
};

// A request in progress as a connection keeps it: a node it changes under its own lock.
struct Request : CLiveNode {
    explicit Request(const std::string& name, const std::string& info = "running") : node(name)
    {
        node.SetLeaf("ThreadName", name);
        node.SetLeaf("Info", info);
    }
    void Set(const std::string& key, const std::string& value)
    {
        std::lock_guard<std::mutex> hold(lock);
        node.SetLeaf(key, value);
    }
    void ShowIn(CConfigNode& parent) const override
    {
        std::lock_guard<std::mutex> hold(lock);
        parent.AppendChild(node);
    }
    std::unique_ptr<CShownNode> TakeFinished() override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++handedOver;
        return std::make_unique<Kept>(node);
    }

    mutable std::mutex lock;
    CConfigNode node;
    int handedOver = 0;
};

std::string Shown(CContextTree& context)
{
    CConfigClass copy;
    context.CopyTo(copy);
    return Describe(copy);
}

std::vector<std::string> Finished(CContextTree& context)
{
    CConfigClass copy;
    context.CopyTo(copy);
    std::vector<std::string> names;
    copy.GetSections("ThreadLogs", names);
    return names;
}

std::string Given(const std::unique_ptr<CShownNode>& node)
{
    if (!node)
        return "none";
    CConfigNode parent;
    node->ShowIn(parent);
    return Describe(parent.GetChildren().front());
}

TEST(ContextTreeTest, BothTopNodesExistFromTheStart)
{
    CContextTree context;
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{}ThreadLogs{}}");
    CConfigClass back;
    ASSERT_EQ(back.LoadSerializedText(context.Serialize()), 0);
    EXPECT_EQ(Describe(back), "Tarnwick{Threads{}ThreadLogs{}}");
    // A copy holds the context alone, whatever it held before.
    CConfigClass copy;
    copy.SetValue("Old::k", "v");
    context.CopyTo(copy);
    EXPECT_EQ(Describe(copy), "Tarnwick{Threads{}ThreadLogs{}}");
}

TEST(ContextTreeTest, RequestsInProgressAreShownInTheOrderTheyBegan)
{
    CContextTree context;
    Request second("Thread_0001"), first("Thread_0000");
    context.Begin(&second);
    context.Begin(&first);
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{Thread_0001{ThreadName=Thread_0001;Info=running;}"
                              "Thread_0000{ThreadName=Thread_0000;Info=running;}}ThreadLogs{}}");
    // Later writes to a node show at the next reading.
    first.Set("Info", "sending");
    EXPECT_NE(Shown(context).find("Thread_0000{ThreadName=Thread_0000;Info=sending;}"), std::string::npos);
    context.Finish(&second, 10);
    context.Finish(&first, 10);
}

TEST(ContextTreeTest, FinishHandsTheNodeToThreadLogs)
{
    CContextTree context;
    Request request("Thread_0007", "正常に終了しました");
    context.Begin(&request);
    context.Finish(&request, 10);
    EXPECT_EQ(request.handedOver, 1);
    EXPECT_EQ(Shown(context),
              "Tarnwick{Threads{}ThreadLogs{Thread_0007{ThreadName=Thread_0007;Info=正常に終了しました;}}}");
}

TEST(ContextTreeTest, ThreadLogsKeepsAtMostMaxAndShrinksByOneARequest)
{
    const struct {
        const char* description;
        int max;
        std::vector<std::string> kept;
    } cases[] = {
        {"zero keeps none", 0, {}},
        {"one", 1, {"T4"}},
        {"three", 3, {"T2", "T3", "T4"}},
        {"more than were made", 10, {"T0", "T1", "T2", "T3", "T4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        CContextTree context;
        for (int i = 0; i < 5; ++i) {
            Request request("T" + std::to_string(i));
            context.Begin(&request);
            context.Finish(&request, c.max);
        }
        EXPECT_EQ(Finished(context), c.kept);
    }

    CContextTree lowered;
    for (int i = 0; i < 4; ++i) {
        Request request("T" + std::to_string(i));
        lowered.Begin(&request);
        lowered.Finish(&request, 10);
    }
    Request next("T4");
    lowered.Begin(&next);
    lowered.Finish(&next, 2);
    EXPECT_EQ(Finished(lowered).size(), 4u) << "one removed for one request";
}

TEST(ContextTreeTest, FinishGivesBackTheNodeThatLeftThreadLogs)
{
    CContextTree context;
    Request first("T0", "first");
    context.Begin(&first);
    EXPECT_EQ(Given(context.Finish(&first, 1)), "none") << "nothing left yet";
    Request second("T1", "second");
    context.Begin(&second);
    EXPECT_EQ(Given(context.Finish(&second, 1)), "T0{ThreadName=T0;Info=first;}") << "the oldest, trimmed";
    Request third("T2", "third");
    context.Begin(&third);
    EXPECT_EQ(Given(context.Finish(&third, 0)), "none") << "without logs the request keeps its node";
    EXPECT_EQ(third.handedOver, 0);
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{}ThreadLogs{T1{ThreadName=T1;Info=second;}}}");
    // A node of a name ThreadLogs holds takes its place, and the one it replaced is given back.
    Request again("T1", "again");
    context.Begin(&again);
    EXPECT_EQ(Given(context.Finish(&again, 5)), "T1{ThreadName=T1;Info=second;}");
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{}ThreadLogs{T1{ThreadName=T1;Info=again;}}}");
}

TEST(ContextTreeTest, AReaderSeesEachRequestOnceWhileRequestsComeAndGo)
{
    // Several connections begin and finish requests while a reader takes copies: every
    // copy shows each request in Threads or in ThreadLogs, never in both.
    constexpr int kWorkers = 4;
    constexpr int kRequestsEach = 300;
    CContextTree context;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            CConfigClass copy;
            context.CopyTo(copy);
            std::vector<std::string> live, logged;
            copy.GetSections("Threads", live);
            copy.GetSections("ThreadLogs", logged);
            for (const std::string& name : live)
                for (const std::string& other : logged)
                    if (name == other)
                        ++torn;
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kRequestsEach; ++i) {
                Request request("W" + std::to_string(w) + "_" + std::to_string(i));
                context.Begin(&request);
                request.Set("Info", "done");
                context.Finish(&request, 50);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(Finished(context).size(), 50u);
    EXPECT_EQ(Shown(context).find("Threads{}"), std::string("Tarnwick{").size());
}

}  // namespace
