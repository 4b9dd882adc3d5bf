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
    // The finished node, as the connection hands it over at the end.
    CConfigNode Finished() const { return node; }

    mutable std::mutex lock;
    CConfigNode node;
};

std::string Shown(CContextTree& context)
{
    CConfigClass copy;
    context.CopyTo(copy);
    return Describe(copy);
}

TEST(ContextTreeTest, BothTopNodesExistFromTheStart)
{
    CContextTree context;
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{}ThreadLogs{}}");
    CConfigClass back;
    ASSERT_EQ(back.LoadSerializedText(context.Serialize()), 0);
    EXPECT_EQ(Describe(back), "Tarnwick{Threads{}ThreadLogs{}}");
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
    context.Finish(&second, second.Finished(), 10);
    context.Finish(&first, first.Finished(), 10);
}

TEST(ContextTreeTest, FinishMovesTheNodeToThreadLogs)
{
    CContextTree context;
    Request request("Thread_0007", "正常に終了しました");
    context.Begin(&request);
    context.Finish(&request, request.Finished(), 10);
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
        {"zero drops every node", 0, {}},
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
            context.Finish(&request, request.Finished(), c.max);
        }
        std::vector<std::string> kept;
        context.GetThreadLogsAccessor().GetSections(kept);
        EXPECT_EQ(kept, c.kept);
    }

    CContextTree lowered;
    for (int i = 0; i < 4; ++i) {
        Request request("T" + std::to_string(i));
        lowered.Begin(&request);
        lowered.Finish(&request, request.Finished(), 10);
    }
    Request next("T4");
    lowered.Begin(&next);
    lowered.Finish(&next, next.Finished(), 2);
    EXPECT_EQ(lowered.GetThreadLogsAccessor().GetSectionCount(), 4) << "one removed for one request";
}

TEST(ContextTreeTest, FinishGivesBackTheNodeThatLeftTheContext)
{
    CContextTree context;
    Request first("T0", "first");
    context.Begin(&first);
    EXPECT_EQ(Describe(context.Finish(&first, first.Finished(), 1)), "{}") << "nothing left yet";
    Request second("T1", "second");
    context.Begin(&second);
    EXPECT_EQ(Describe(context.Finish(&second, second.Finished(), 1)), "T0{ThreadName=T0;Info=first;}")
        << "the oldest, trimmed from ThreadLogs";
    Request third("T2", "third");
    context.Begin(&third);
    EXPECT_EQ(Describe(context.Finish(&third, third.Finished(), 0)), "T2{ThreadName=T2;Info=third;}")
        << "dropped at once without logs";
    EXPECT_EQ(Shown(context), "Tarnwick{Threads{}ThreadLogs{T1{ThreadName=T1;Info=second;}}}");
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
                context.Finish(&request, request.Finished(), 50);
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(context.GetThreadLogsAccessor().GetSectionCount(), 50);
    EXPECT_EQ(Shown(context).find("Threads{}"), std::string("Tarnwick{").size());
}

}  // namespace
