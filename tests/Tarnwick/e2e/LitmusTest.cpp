// The WebDAV conformance suite litmus (Debian package "litmus") against a WebDAV path of a
// running core on a loopback port: its basic and copymove suites.

#include "CurlFixture.h"

#include "ChildProcess.h"
#include "ServerTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

using namespace std::chrono_literals;

constexpr const char* kLitmus = "/usr/bin/litmus";
// Two suites of a few dozen requests each, with the client's start-up.
constexpr auto kLitmusLimit = 60s;

// One suite as litmus reported it.
struct SuiteResult {
    int run = -1;  // -1 until its summary line was seen
    int passed = -1;
    std::set<std::string> failed;  // the names of the tests that failed
};

// litmus writes "-> running `basic':", then a line per test (" 8. put_no_parent.... FAIL
// (...)"; a test that warns first ends on a line of dots, which may run on into the next
// test's), then "<- summary for `basic': of 16 tests run: 13 passed, 3 failed. 81.2%".
std::map<std::string, SuiteResult> ParseLitmusOutput(const std::string& out)
{
    static const std::regex suiteLine(R"(^-> running `([a-z]+)':)");
    static const std::regex testLine(R"((?:^|\s)\d+\.\s+([A-Za-z0-9_]+)\.)");
    static const std::regex summaryLine(R"(^<- summary for `([a-z]+)': of (\d+) tests run: (\d+) passed)");
    std::map<std::string, SuiteResult> suites;
    std::string suite;
    std::string test;
    for (const std::string& line : servertest::SplitLines(out)) {
        std::smatch match;
        if (std::regex_search(line, match, suiteLine)) {
            suite = match[1];
            suites[suite];
        } else if (std::regex_search(line, match, summaryLine)) {
            suites[match[1]].run = std::stoi(match[2]);
            suites[match[1]].passed = std::stoi(match[3]);
        } else {
            if (std::regex_search(line, match, testLine))
                test = match[1];
            if (!suite.empty() && line.find(". FAIL") != std::string::npos)
                suites[suite].failed.insert(test);
        }
    }
    return suites;
}

class LitmusTest : public servertest::CurlFixture {
protected:
    void SetUp() override
    {
        CurlFixture::SetUp();
        ASSERT_EQ(::access(kLitmus, X_OK), 0) << kLitmus << " is missing: scripts/setup installs it";
        const std::string dav = docs.Path() + "dav/";
        ASSERT_EQ(::mkdir(dav.c_str(), 0755), 0);
        ServeFolder(0, "/dav/", dav, {"EnableIndex", "EnableWrite", "EnableWebDAV"});
    }
};

TEST(LitmusOutputTest, ParsesSummariesAndFailedTests)
{
    const std::string out = "-> running `basic':\n"
                            " 0. init.................. pass\n"
                            " 5. delete_fragment....... WARNING: unsafe\n"
                            "    ...................... pass (with 1 warning)\n"
                            "    ......................  6. put_get....... FAIL (GET failed)\n"
                            " 8. put_no_parent......... FAIL (PUT with no parent should fail)\n"
                            "<- summary for `basic': of 3 tests run: 2 passed, 1 failed. 66.7%\n"
                            "-> running `copymove':\n"
                            " 4. copy_overwrite........ WARNING: one\n"
                            "    ...................... FAIL (COPY on existing)\n"
                            "<- summary for `copymove': of 1 tests run: 0 passed, 1 failed. 0.0%\n";
    const std::map<std::string, SuiteResult> suites = ParseLitmusOutput(out);
    ASSERT_EQ(suites.size(), 2u);
    EXPECT_EQ(suites.at("basic").run, 3);
    EXPECT_EQ(suites.at("basic").passed, 2);
    EXPECT_EQ(suites.at("basic").failed, (std::set<std::string>{"put_get", "put_no_parent"}));
    EXPECT_EQ(suites.at("copymove").passed, 0);
    EXPECT_EQ(suites.at("copymove").failed, std::set<std::string>{"copy_overwrite"});
}

TEST_F(LitmusTest, BasicAndCopyMoveFailOnlyWhereTheServerMakesParentsAndIgnoresBodies)
{
    Start();
    // litmus leaves its logs in the folder it runs in.
    testsupport::ChildProcess litmus("/bin/sh", {"-c", std::string("cd \"$1\" && exec ") + kLitmus + " -k \"$2\"",
                                                 "sh", scratch.Path(), Url("/dav/")},
                                     {"TESTS=basic copymove", "http_proxy", "https_proxy", "HTTP_PROXY"});
    const testsupport::ChildResult result = litmus.Wait(kLitmusLimit);
    ASSERT_FALSE(result.timedOut) << result.out << result.err;
    const std::map<std::string, SuiteResult> suites = ParseLitmusOutput(result.out);

    ASSERT_EQ(suites.count("copymove"), 1u) << result.out;
    const SuiteResult& copymove = suites.at("copymove");
    EXPECT_EQ(copymove.run, 13) << result.out;
    EXPECT_EQ(copymove.passed, 13) << result.out;
    EXPECT_TRUE(copymove.failed.empty()) << result.out;

    // PUT and MKCOL make missing folders above the target, and MKCOL reads no body; a path
    // with a character Shift-JIS lacks (litmus uses U+20AC) is refused rather than named
    // with a substitute.
    ASSERT_EQ(suites.count("basic"), 1u) << result.out;
    const SuiteResult& basic = suites.at("basic");
    const std::set<std::string> expected = {"put_get_utf8_segment", "put_no_parent", "mkcol_no_parent",
                                            "mkcol_with_body"};
    EXPECT_EQ(basic.failed, expected) << result.out;
    EXPECT_GT(basic.run, 0) << result.out;
    EXPECT_EQ(basic.passed, basic.run - static_cast<int>(expected.size())) << result.out;
}

}  // namespace
