#include "http/RequestRecord.h"

#include "http/RequestHeader.h"

#include "ConfigTreeText.h"
#include "IPv4Address.h"
#include "core/SecondTexts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Describe;

// A request's record, with the tree its view is written to.
class RequestRecordTest : public testing::Test {
protected:
    // The request's node as the controller would read it, with the time leaves masked.
    std::string Node()
    {
        record.GetThreadView();
        return Masked(Describe(tree, record.GetNodePath()));
    }
    static std::string Masked(std::string text)
    {
        const CSecondTexts& now = CSecondTexts::Now();
        for (const std::string* moment : {&now.Gmt(), &now.Date(), &now.Time()})
            for (std::string::size_type at; (at = text.find(*moment)) != std::string::npos;)
                text.replace(at, moment->size(), "<t>");
        return text;
    }

    CConfigClass tree;
    CRequestRecord record{&tree};
};

const char kBegun[] = "Tarnwick{ThreadName=Thread_0007;Info=初期化中です...;Protocol=http;Host=10.0.0.5;"
                      "StartTime{Date=<t>;Time=<t>;GMT=<t>;}";

TEST_F(RequestRecordTest, TheStartIsPublishedAtOnce)
{
    record.Begin("Thread_0007", false, CIPv4Address("10.0.0.5"));
    EXPECT_EQ(Node(), std::string(kBegun) + "}");
    EXPECT_EQ(record.GetNodePath(), "Threads::Thread_0007::");
    EXPECT_EQ(record.GetStartGmt(), CSecondTexts::Now().Gmt());
    record.Begin("Thread_0008", true, CIPv4Address("10.0.0.5"));
    EXPECT_EQ(record.GetThreadView().GetString("Protocol", ""), "https");
}

TEST_F(RequestRecordTest, EachSetPointPublishesItsPartInTheNodesOrder)
{
    record.Begin("Thread_0007", false, CIPv4Address("10.0.0.5"));
    record.ParseRequest("GET /a?q=1 HTTP/1.1\r\nHost: example.test\r\nX-One: 1\r\n\r\n");
    EXPECT_EQ(Node(), "Tarnwick{ThreadName=Thread_0007;Info=初期化中です...;Protocol=http;Host=10.0.0.5;"
                      "TargetHost=example.test;StartTime{Date=<t>;Time=<t>;GMT=<t>;}"
                      "RequestInfo{Method=GET;URL=/a?q=1;Object=/a;Version=1.1;Query=q=1;QueryDecoded=q=1;"
                      "User=;Passwd=;Options{Host=example.test;X-One=1;}}}")
        << "RequestInfo, and TargetHost after the leaves of the start";

    record.Response().SetCode(200);
    record.Response().SetHeader("Server", "s");
    EXPECT_EQ(record.GetThreadView().GetSectionCount(), 2) << "the answer waits for the next set point";
    record.SetInfo("working");
    EXPECT_EQ(record.GetThreadView().GetString("ResponseInfo::Options::Server", "-"), "s");
    record.Response().SetHeader("Content-Length", "0");
    record.SetScriptCommand("/bin/run");
    record.SetTransferSizes(10, 20);
    EXPECT_EQ(record.GetThreadView().GetString("RecvSize", "-"), "-") << "the sizes wait for the end";
    record.End();
    EXPECT_EQ(Node(), "Tarnwick{ThreadName=Thread_0007;Info=working;Protocol=http;Host=10.0.0.5;"
                      "TargetHost=example.test;ScriptCommand=/bin/run;RecvSize=20;SendSize=10;Size=30;"
                      "StartTime{Date=<t>;Time=<t>;GMT=<t>;}"
                      "RequestInfo{Method=GET;URL=/a?q=1;Object=/a;Version=1.1;Query=q=1;QueryDecoded=q=1;"
                      "User=;Passwd=;Options{Host=example.test;X-One=1;}}"
                      "ResponseInfo{ResponseCode=200;ResponseText=200 OK;Options{Server=s;Content-Length=0;}}"
                      "EndTime{Date=<t>;Time=<t>;GMT=<t>;}}");
}

TEST_F(RequestRecordTest, LeavesAreVisitedAsTheNodeHoldsThem)
{
    record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
    record.ParseRequest("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
    record.SetTransferSizes(1, 2);
    record.End();
    std::string visited;
    record.VisitThreadLeaves([&](std::string_view key, std::string_view value) {
        visited += std::string(key) + "=" + std::string(value) + ";";
    });
    std::vector<CConfigLeaf> leaves;
    record.GetThreadView().GetLeaves(leaves);
    std::string stored;
    for (const CConfigLeaf& leaf : leaves)
        stored += leaf.key + "=" + leaf.value + ";";
    EXPECT_EQ(visited, stored);
}

TEST_F(RequestRecordTest, RefusedHeaderPublishesNothingOfTheRequest)
{
    record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
    try {
        record.ParseRequest("GARBAGE\r\n\r\n");
        ADD_FAILURE() << "accepted";
    } catch (const CRequestRefusal& refusal) {
        EXPECT_EQ(refusal.code, 400);
    }
    EXPECT_FALSE(record.HasRequestNode());
    EXPECT_EQ(record.GetThreadView().GetSectionCount(), 1) << "StartTime alone";
    // An answer made for it reads the request's headers from RequestInfo, which that makes.
    record.MakeRequestNode();
    record.Response().SetCode(400);
    record.End();
    EXPECT_EQ(Node().substr(Node().find("RequestInfo")),
              "RequestInfo{Options{}}ResponseInfo{ResponseCode=400;ResponseText=400 Bad Request;Options{}}"
              "EndTime{Date=<t>;Time=<t>;GMT=<t>;}}");
}

TEST_F(RequestRecordTest, PathRefusedShowsWhatWasAskedAndItsHeadersOnceAnAnswerReadsThem)
{
    record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
    EXPECT_THROW(record.ParseRequest("GET /%82 HTTP/1.1\r\nHost: a\r\n\r\n"), CRequestRefusal);
    const std::string asked = "RequestInfo{Method=GET;URL=/%82;Object=/%82;Version=1.1;Query=;";
    EXPECT_EQ(Node().substr(Node().find("RequestInfo")), asked + "}}");
    record.MakeRequestNode();
    record.Response().SetCode(400);
    record.End();
    EXPECT_EQ(Node().substr(Node().find("RequestInfo")),
              asked + "Options{}}ResponseInfo{ResponseCode=400;ResponseText=400 Bad Request;Options{}}"
                      "EndTime{Date=<t>;Time=<t>;GMT=<t>;}}");
}

TEST_F(RequestRecordTest, HostLinesRefusedLeaveTheRequestPublishedWithoutTargetHost)
{
    record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
    EXPECT_THROW(record.ParseRequest("GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n"), CRequestRefusal);
    EXPECT_TRUE(record.IsParsed());
    EXPECT_EQ(record.GetThreadView().GetString("RequestInfo::Method", "-"), "GET");
    EXPECT_EQ(record.GetThreadView().GetString("TargetHost", "-"), "-");
}

TEST_F(RequestRecordTest, FactsBackFromThreadLogsShowNothingOfTheirLastRequest)
{
    record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
    record.ParseRequest("GET /old HTTP/1.1\r\nHost: old\r\nX-Old: 1\r\nX-Old-Too: 2\r\n\r\n");
    record.SetScriptCommand("/bin/old");
    record.Response().SetCode(200);
    record.Response().SetHeader("X-Old", "1");
    record.Response().SetCgiHeader("X-Cgi: 1\r\n");
    record.SetTransferSizes(1, 2);
    record.End();
    // ThreadLogs keeps the facts, then lets them go to a record for a later request.
    record.Adopt(record.TakeFinished());

    record.Begin("Thread_0002", false, CIPv4Address("10.0.0.6"));
    record.ParseRequest("HEAD /new HTTP/1.1\r\nHost: new\r\n\r\n");
    record.Response().SetCode(404);
    record.End();
    EXPECT_EQ(Node(), "Tarnwick{ThreadName=Thread_0002;Info=初期化中です...;Protocol=http;Host=10.0.0.6;"
                      "TargetHost=new;StartTime{Date=<t>;Time=<t>;GMT=<t>;}"
                      "RequestInfo{Method=HEAD;URL=/new;Object=/new;Version=1.1;Query=;QueryDecoded=;User=;"
                      "Passwd=;Options{Host=new;}}"
                      "ResponseInfo{ResponseCode=404;ResponseText=404 Not Found;Options{}}"
                      "EndTime{Date=<t>;Time=<t>;GMT=<t>;}}");
    std::vector<std::string> names;
    tree.GetSections("Threads", names);
    EXPECT_EQ(names, std::vector<std::string>{"Thread_0002"}) << "the old node is gone from the tree";
}

TEST_F(RequestRecordTest, AReaderInAnotherThreadFindsEveryHeaderWhole)
{
    // The controller reads the node while the request's thread changes it: each reading
    // finds every header of the answer whole.
    constexpr int kRounds = 200;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            CConfigNode threads;
            record.ShowIn(threads);
            const CConfigNode& node = threads.GetChildren().front();
            const int at = node.FindChild("ResponseInfo");
            if (at < 0)
                continue;
            const CConfigNode& response = node.GetChildren()[static_cast<std::size_t>(at)];
            const int options = response.FindChild("Options");
            if (options < 0)
                continue;
            for (const CConfigLeaf& header : response.GetChildren()[static_cast<std::size_t>(options)].GetLeafArray())
                if (header.value != std::string(100, header.key[2] == 'A' ? 'a' : 'b'))
                    ++torn;
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        record.Begin("Thread_0001", false, CIPv4Address("10.0.0.5"));
        record.ParseRequest("GET / HTTP/1.1\r\nHost: h\r\n\r\n");
        record.Response().SetCode(200);
        for (int pair = 0; pair < 8; ++pair) {
            record.Response().SetHeader("X-A" + std::to_string(pair), std::string(100, 'a'));
            record.Response().SetHeader("X-B" + std::to_string(pair), std::string(100, 'b'));
            record.SetInfo("working");
        }
        record.End();
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
