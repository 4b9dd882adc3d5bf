#include "ConfigClass.h"

#include "CRuntime.h"
#include "ConfigAccessor.h"
#include "ConfigTreeText.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Describe;

struct SplitCase {
    const char* path;
    const char* head;
    const char* rest;
    bool found;
};

TEST(ConfigClassTest, SplitsAtTheFirstSeparator)
{
    const SplitCase cases[] = {
        {"", "", "", false},      {"::", "", "", false},       {"A", "", "A", false},
        {"A:B", "", "A:B", false}, {"A::B", "A", "B", true},    {"A::B::C", "A", "B::C", true},
        {"::Key", "", "Key", true}, {"A::", "A", "", true},      {":::", "", ":", true},
        {"::::", "", "::", true},  {"表::ソ", "表", "ソ", true},
    };
    for (const SplitCase& c : cases) {
        const ConfigPathSplit split = SplitConfigPath(c.path);
        EXPECT_EQ(split.head, c.head) << c.path;
        EXPECT_EQ(split.rest, c.rest) << c.path;
        EXPECT_EQ(split.found, c.found) << c.path;
    }
}

TEST(ConfigClassTest, AppendsTheSeparatorWhenMissing)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "::"}, {"A", "A::"}, {"A::", "A::"}, {"::", "::"}, {":", ":::"},
        {"A:", "A:::"}, {"A::B", "A::B::"}, {"表", "表::"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppendPathSeparator(c.first), c.second) << c.first;
}

TEST(ConfigClassTest, FindOrCreateParentWalksAndCreatesOnce)
{
    CConfigNode start("Start");
    std::string key;
    EXPECT_EQ(start.FindOrCreateParent("A::B::Key", key).GetName(), "B");
    EXPECT_EQ(key, "Key");
    EXPECT_EQ(&start.FindOrCreateParent("Key", key), &start);
    EXPECT_EQ(key, "Key");
    EXPECT_EQ(start.FindOrCreateParent("A::B::", key).GetName(), "B");
    EXPECT_EQ(key, "");
    EXPECT_EQ(Describe(start), "Start{A{B{}}}");
}

// The walk as literally described: split, take or append the child, go on with the rest.
CConfigNode& LiteralWalk(CConfigNode& start, const std::string& path, std::string& key)
{
    CConfigNode* node = &start;
    std::string rest = path;
    for (;;) {
        const ConfigPathSplit split = SplitConfigPath(rest);
        if (!split.found) {
            key = split.rest;
            return *node;
        }
        if (node->FindChild(split.head) < 0)
            node->AppendChild(split.head);
        node = &const_cast<CConfigNode&>(node->GetChildren()[node->FindChild(split.head)]);
        rest = split.rest;
    }
}

// Paths that exercise every rule of the split: empty levels, lone and tripled colons, a
// trailing "::" left as the last rest, double-byte names.
const char* const kOddPaths[] = {
    "",       "::",       ":",      "A",        "A::",      "A::B::Key", "::Key",   ":::",
    "::::",   ":::::",    "A:::B",  "A::::",    "A::::B",   "A:",        ":A::B",   "A::B:",
    "A::B::", "A::B::::", "表::ソ", "表\\::k", "::::::",   "A::::::B",
};

TEST(ConfigClassTest, FindOrCreateParentFollowsTheSplitRulesOnEveryOddPath)
{
    for (const char* path : kOddPaths) {
        CConfigNode literal("S"), inPlace("S"), copying("S");
        literal.AppendChild("A");  // an existing level is found, not added again
        inPlace.AppendChild("A");
        copying.AppendChild("A");
        std::string expectedKey, copiedKey;
        const std::string expectedNode = LiteralWalk(literal, path, expectedKey).GetName();
        std::string_view key = "stale";
        EXPECT_EQ(inPlace.FindOrCreateParent(std::string_view(path), key).GetName(), expectedNode) << path;
        EXPECT_EQ(key, expectedKey) << path;
        EXPECT_EQ(Describe(inPlace), Describe(literal)) << path;
        EXPECT_EQ(copying.FindOrCreateParent(std::string(path), copiedKey).GetName(), expectedNode) << path;
        EXPECT_EQ(copiedKey, expectedKey) << path;
        EXPECT_EQ(Describe(copying), Describe(literal)) << path;
    }
}

TEST(ConfigClassTest, PrefixEndsAtALevelOnlyWhenTheWalkUsesItUpWithANamedLastLevel)
{
    const std::pair<const char*, bool> cases[] = {
        {"", true},          {"A::", true},   {"A::B::", true},  {"::A::", true},  {"A::::B::", true},
        {"::", false},       {"A", false},    {"A:", false},     {"A:::", false},  {"A::::", false},
        {"::::", false},     {":", false},    {"A::B", false},   {"表::", true},    {":::A::", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConfigPrefixEndsAtLevel(c.first), c.second) << '"' << c.first << '"';
}

TEST(ConfigClassTest, PrefixAndKeyResolveAsTheirJoinedPath)
{
    // The accessor's form: prefix and key given apart must address what prefix + key does.
    const char* const prefixes[] = {"", "::", "A::", "A::B::", ":::", "A:::", "A::::", "::::", "A:", ":"};
    const char* const keys[] = {"", "k", ":k", "::k", "B::k", "::", ":", "B::", "表::ソ"};
    for (const char* prefix : prefixes) {
        for (const char* key : keys) {
            const std::string joined = std::string(prefix) + key;
            CConfigClass apart, together;
            apart.SetValue(prefix, key, "v");
            together.SetValue(joined, "v");
            EXPECT_EQ(Describe(apart), Describe(together)) << '"' << prefix << "\" + \"" << key << '"';
            EXPECT_EQ(apart.GetValue(prefix, key, "d", 0), "v") << joined;
            EXPECT_EQ(apart.GetValue(prefix, std::string(key) + "x", "d", 0), together.GetValue(joined + "x", "d"))
                << joined;
            EXPECT_EQ(Describe(apart), Describe(together)) << "reads create the same nodes: " << joined;
        }
    }
}

TEST(ConfigClassTest, CaseInsensitiveMatchAgreesWithMbsicmp)
{
    // Letters, a lead byte, a trail byte that is a letter, and a backslash trail byte.
    const std::string alphabet = "aAzZ\x83\x5c@";
    std::vector<std::string> texts{""};
    for (size_t begin = 0, length = 1; length <= 3; ++length) {
        const size_t end = texts.size();
        for (size_t i = begin; i < end; ++i) {
            for (char c : alphabet)
                texts.push_back(texts[i] + c);
        }
        begin = end;
    }
    int matches = 0;
    for (const std::string& stored : texts) {
        CConfigNode node;
        node.SetLeaf(stored, "v");
        for (const std::string& asked : texts) {
            const bool expected = platform::_mbsicmp(stored, asked) == 0;
            matches += expected;
            ASSERT_EQ(node.FindLeaf(asked, 1) == 0, expected)
                << testing::PrintToString(stored) << " / " << testing::PrintToString(asked);
            ASSERT_EQ(node.FindLeaf(asked, 0) == 0, stored == asked);
        }
    }
    EXPECT_GT(matches, static_cast<int>(texts.size())) << "folding found more than equal texts";
}

TEST(ConfigClassTest, ReadingAMissingValueGivesTheDefaultAndCreatesOnlyNodes)
{
    CConfigClass tree;
    EXPECT_EQ(tree.GetValue("Basic::Port", "80", 0), "80");
    EXPECT_EQ(Describe(tree), "Tarnwick{Basic{}}");
}

TEST(ConfigClassTest, CaseInsensitiveReadsFindLeavesButWritesAreExact)
{
    CConfigClass tree;
    tree.SetValue("H::content-length", "5");
    EXPECT_EQ(tree.GetValue("H::Content-Length", "none", 1), "5");
    EXPECT_EQ(tree.GetValue("H::Content-Length", "none", 0), "none");
    tree.SetValue("H::Content-Length", "6");
    EXPECT_EQ(Describe(tree, "H::"), "Tarnwick{content-length=5;Content-Length=6;}");
    EXPECT_EQ(tree.GetValue("H::CONTENT-LENGTH", "none", 1), "5") << "the first match wins";
}

TEST(ConfigClassTest, CaseInsensitiveReadsFoldOnlyAsciiLetters)
{
    CConfigClass tree;
    tree.SetValue("ア", "katakana");   // 83 41
    tree.SetValue("表X", "kanji");      // 95 5C 58
    EXPECT_EQ(tree.GetValue("\x83" "a", "none", 1), "none") << "trail byte 41 is no letter";
    EXPECT_EQ(tree.GetValue("表x", "none", 1), "kanji");
}

TEST(ConfigClassTest, PathsWithoutSeparatorAddressTheRoot)
{
    CConfigClass tree;
    tree.SetValue("Key", "root");
    tree.SetValue("::Key", "unnamed child");
    EXPECT_EQ(tree.GetValue("Key", ""), "root");
    EXPECT_EQ(Describe(tree), "Tarnwick{Key=root;{Key=unnamed child;}}");
}

TEST(ConfigClassTest, SetValueReplacesTheFirstLeafAndKeepsOrder)
{
    CConfigClass tree;
    tree.SetValue("N::b", "1");
    tree.SetValue("N::a", "2");
    tree.SetValue("N::b", "3");
    tree.SetValue("N::表", "ソ\\");
    EXPECT_EQ(Describe(tree), "Tarnwick{N{b=3;a=2;表=ソ\\;}}");
}

TEST(ConfigClassTest, KeysAndSectionsNormaliseTheirPath)
{
    CConfigClass tree;
    tree.SetValue("r1", "x");
    tree.SetValue("A::k1", "x");
    tree.SetValue("A::k2", "x");
    tree.SetValue("A::Sub::k", "x");
    std::vector<std::string> list{"stale"};
    for (const char* root : {"", "::"}) {
        EXPECT_EQ(tree.GetKeys(root, list), 1) << root;
        EXPECT_EQ(list, std::vector<std::string>{"r1"}) << root;
        EXPECT_EQ(tree.GetKeyCount(root), 1);
        EXPECT_EQ(tree.GetSectionCount(root), 1);
    }
    for (const char* a : {"A", "A::"}) {
        EXPECT_EQ(tree.GetKeys(a, list), 2) << a;
        EXPECT_EQ(list, (std::vector<std::string>{"k1", "k2"})) << a;
        EXPECT_EQ(tree.GetSections(a, list), 1) << a;
        EXPECT_EQ(list, std::vector<std::string>{"Sub"}) << a;
    }
    EXPECT_EQ(tree.GetKeys("Missing", list), 0);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(tree.GetSectionCount(""), 2) << "Missing was created";
}

TEST(ConfigClassTest, ClearNodeEmptiesOnlyThatNode)
{
    CConfigClass tree;
    tree.SetValue("A::k", "1");
    tree.SetValue("A::B::k", "2");
    tree.SetValue("C::k", "3");
    tree.ClearNode("A");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{}C{k=3;}}");
    tree.ClearNode("");
    EXPECT_EQ(Describe(tree), "Tarnwick{}");
}

TEST(ConfigClassTest, RemoveNodeRemovesTheFirstMatchOrClearsTheRoot)
{
    for (const char* rootPath : {"", "::"}) {
        CConfigClass tree;
        tree.SetValue("k", "v");
        tree.SetValue("A::k", "v");
        tree.RemoveNode(rootPath);
        EXPECT_EQ(Describe(tree), "Tarnwick{}") << rootPath;
        EXPECT_EQ(tree.SerializeNode("").substr(0, 11), "STarnwick\\0") << "the root keeps its name";
    }

    CConfigClass tree;
    tree.RemoveNode("A::B");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{}}") << "missing parents are created, nothing removed";

    ASSERT_EQ(tree.LoadSerializedText("STarnwick\\0SA\\0SB\\0L1\\0\\0ESB\\0L2\\0\\0ESC\\0EEE"), 0);
    tree.RemoveNode("A::B");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{B{2=;}C{}}}") << "only the first B goes";
    tree.RemoveNode("A::C::");
    tree.RemoveNode("A::Missing");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{B{2=;}}}")
        << "the trailing separator is dropped; a missing last level is not created";
    tree.RemoveNode("A");
    EXPECT_EQ(Describe(tree), "Tarnwick{}");
}

TEST(ConfigClassTest, LeafAndNodeOperationsTakeTheirPathUnchanged)
{
    CConfigClass tree;
    tree.SetValue("A::a", "1");
    tree.SetValue("A::B::b", "2");
    std::vector<CConfigLeaf> leaves;
    tree.GetLeaves("A::B", leaves);  // names A: the last level is a key
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].key, "a");
    tree.GetLeaves("A::B::", leaves);
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].value, "2");
    EXPECT_EQ(tree.ExpandVariables("A::B", "%a%%b%", ""), "1%b%");

    CConfigNode outside("Kept");
    outside.SetLeaf("old", "x");
    tree.GetNode(outside, "A::B");
    EXPECT_EQ(Describe(outside), "Kept{a=1;B{b=2;}}") << "content of A, own name kept";
}

// --- Placeholder expansion ---------------------------------------------------------------

CConfigClass TreeWithLeaves(const std::vector<std::pair<std::string, std::string>>& leaves)
{
    CConfigClass tree;
    for (const auto& leaf : leaves)
        tree.SetValue("V::" + leaf.first, leaf.second);
    return tree;
}

TEST(ConfigClassTest, ExpandsPlaceholdersOfTheNodesLeaves)
{
    CConfigClass tree = TreeWithLeaves({{"ServerName", "Tarnwick"}, {"Port", "80"}});
    EXPECT_EQ(tree.ExpandVariables("V::", "%ServerName%:%Port%/%Other%", ""), "Tarnwick:80/%Other%");
}

struct ExpandCase {
    const char* description;
    std::vector<std::pair<std::string, std::string>> leaves;
    std::string text;
    std::string expected;
};

TEST(ConfigClassTest, ExpansionFollowsLeafOrderAndSearchesFromTheStart)
{
    const ExpandCase cases[] = {
        {"no placeholder", {{"A", "1"}}, "plain", "plain"},
        {"adjacent", {{"A", "1"}}, "%A%%A%", "11"},
        {"empty value deletes", {{"A", ""}}, "a%A%b%A%", "ab"},
        {"keys are case-sensitive", {{"Port", "80"}}, "%port%%PORT%", "%port%%PORT%"},
        {"later leaf expands an earlier insertion", {{"A", "%B%"}, {"B", "b"}}, "%A%", "b"},
        {"earlier leaf does not expand a later insertion", {{"A", "a"}, {"B", "%A%"}}, "%B%", "%A%"},
        {"value completes a placeholder with the text before it", {{"A", "x%"}}, "%A%A%", "xx%"},
        {"completion repeats leftwards",
         {{"A", "A%%%%"}},
         "%A%A%",
         "AA" + std::string(13, '%')},
        {"value completes a placeholder with the text after it", {{"A", "%"}}, "%A%A%%", "%%"},
        {"empty key matches a doubled percent", {{"", "P"}}, "100%% %A%", "100P %A%"},
        {"Japanese key and value", {{"表", "ソ"}}, "[%表%]", "[ソ]"},
        {"own placeholder is inserted once", {{"A", "%A%"}}, "x%A%y%A%", "x%A%y%A%"},
        {"own placeholder inside a longer value", {{"A", "[%A%]"}}, "%A%", "[%A%]"},
        {"own placeholder twice", {{"A", "%A%%A%"}}, "%A%-%A%", "%A%%A%-%A%%A%"},
        {"own placeholder, then a later leaf", {{"A", "%A%%B%"}, {"B", "b"}}, "%A%", "%A%b"},
    };
    for (const ExpandCase& c : cases) {
        CConfigClass tree = TreeWithLeaves(c.leaves);
        EXPECT_EQ(tree.ExpandVariables("V::", c.text, ""), c.expected) << c.description;
    }
}

// The expansion as literally described: search from the start after every replacement.
// Gives false when it has not ended after `maxSteps` replacements.
bool LiteralExpansion(std::string text, const std::string& key, const std::string& value,
                      int maxSteps, std::string& result)
{
    const std::string pattern = "%" + key + "%";
    for (int step = 0; step <= maxSteps; ++step) {
        const std::string::size_type at = text.find(pattern);
        if (at == std::string::npos) {
            result = text;
            return true;
        }
        text.replace(at, pattern.size(), value);
    }
    return false;
}

// Every text of `alphabet` up to `maxLength` characters.
std::vector<std::string> AllTexts(const std::string& alphabet, size_t maxLength)
{
    std::vector<std::string> texts{""};
    for (size_t begin = 0, length = 1; length <= maxLength; ++length) {
        const size_t end = texts.size();
        for (size_t i = begin; i < end; ++i) {
            for (char c : alphabet)
                texts.push_back(texts[i] + c);
        }
        begin = end;
    }
    return texts;
}

TEST(ConfigClassTest, ExpansionMatchesTheLiteralAlgorithmOnEveryShortText)
{
    struct Alphabet {
        std::string key;
        std::string letters;
    };
    const Alphabet alphabets[] = {{"A", "%Ax"}, {"", "%x"}, {"AB", "%AB"}};
    for (const Alphabet& a : alphabets) {
        const std::vector<std::string> values = AllTexts(a.letters, 4);
        const std::vector<std::string> texts = AllTexts(a.letters, 6);
        const std::string pattern = "%" + a.key + "%";
        int compared = 0;
        for (const std::string& value : values) {
            if (value.find(pattern) != std::string::npos)
                continue;  // the literal algorithm would not end
            CConfigNode node;
            node.SetLeaf(a.key, value);
            for (const std::string& text : texts) {
                std::string expected;
                const std::string actual = node.ExpandVariables(text, "", nullptr);
                if (!LiteralExpansion(text, a.key, value, 200, expected))
                    continue;
                ++compared;
                ASSERT_EQ(actual, expected) << "key \"" << a.key << "\" value \"" << value
                                            << "\" text \"" << text << '"';
            }
        }
        EXPECT_GT(compared, 1000) << a.key;
    }
}

TEST(ConfigClassTest, ExpansionEndsWhenAValueKeepsRecreatingItsPlaceholder)
{
    // "%A%%" -> "A%%A%" -> "A%A%%A" -> ... grows without end when searched from the start.
    std::string literal;
    ASSERT_FALSE(LiteralExpansion("%A%%", "A", "A%%A", 10000, literal));

    CConfigClass tree = TreeWithLeaves({{"A", "A%%A"}, {"B", "b"}});
    const std::string result = tree.ExpandVariables("V::", "%B%|%A%%", "");
    EXPECT_EQ(result.substr(0, 2), "b|") << "later leaves still run";
    EXPECT_LT(result.size(), 100000u);

    // A large value grows the text fast: the growth is bounded too.
    const std::string large = "A%%" + std::string(100000, 'y') + "%%A";
    ASSERT_FALSE(LiteralExpansion("%A%%", "A", large, 50, literal));
    CConfigClass big = TreeWithLeaves({{"A", large}});
    EXPECT_LT(big.ExpandVariables("V::", "%A%%", "").size(), 16u << 20);
}

TEST(ConfigClassTest, ExpansionOfManyPlaceholdersIsComplete)
{
    std::string text, expected;
    for (int i = 0; i < 5000; ++i) {
        text += "<%A%>";
        expected += "<>";
    }
    CConfigClass tree = TreeWithLeaves({{"A", ""}});
    EXPECT_EQ(tree.ExpandVariables("V::", text, ""), expected) << "values that shorten the text";
}

struct SubstituteCase {
    const char* text;
    const char* substitute;
    const char* expected;
};

TEST(ConfigClassTest, SubstituteReplacesRemainingPlaceholders)
{
    const SubstituteCase cases[] = {
        {"a%X%b%%c%d", "-", "a-b%c-d"},
        {"a%X%b%%c%d", "", "a%X%b%%c%d"},
        {"a%X%b%%c%d", "%", "a%X%b%%c%d"},
        {"a%X%b%%c%d", "x%y", "a%X%b%%c%d"},
        {"%", "-", "-"},
        {"ab%", "-", "ab-"},
        {"%%", "-", "%"},
        {"%%%", "-", "%-"},
        {"a%b", "-", "a-b"},
        {"%a%%b%", "<>", "<><>"},
        {"no marks", "-", "no marks"},
        {"", "-", ""},
    };
    for (const SubstituteCase& c : cases) {
        CConfigClass tree;
        EXPECT_EQ(tree.ExpandVariables("V::", c.text, c.substitute), c.expected)
            << c.text << " / " << c.substitute;
    }
    CConfigClass tree = TreeWithLeaves({{"A", "1"}});
    EXPECT_EQ(tree.ExpandVariables("V::", "%A%%B%", "?"), "1?") << "after the leaves";
}

// --- Value filter ------------------------------------------------------------------------

class RecordingFilter : public CConfigValueFilter {
public:
    RecordingFilter(std::vector<std::string>& calls, int& destroyed) : calls_(calls), destroyed_(destroyed) {}
    ~RecordingFilter() override { ++destroyed_; }
    std::string Filter(std::string_view key, std::string_view value) override
    {
        calls_.push_back(std::string(key) + "=" + std::string(value));
        return "<" + std::string(value) + std::to_string(calls_.size()) + ">";
    }

private:
    std::vector<std::string>& calls_;
    int& destroyed_;
};

TEST(ConfigClassTest, FilterRewritesValuesAndDefaults)
{
    std::vector<std::string> calls;
    int destroyed = 0;
    CConfigClass tree;
    tree.SetValue("A::k", "v");
    tree.SetValueFilter(std::make_unique<RecordingFilter>(calls, destroyed));
    EXPECT_EQ(tree.GetValue("A::k", "d"), "<v1>");
    EXPECT_EQ(tree.GetValue("A::missing", "d"), "<d2>");
    EXPECT_EQ(calls, (std::vector<std::string>{"k=v", "missing=d"}));
}

TEST(ConfigClassTest, FilterIsCalledOncePerReplacement)
{
    std::vector<std::string> calls;
    int destroyed = 0;
    CConfigClass tree = TreeWithLeaves({{"A", "a"}});
    tree.SetValueFilter(std::make_unique<RecordingFilter>(calls, destroyed));
    EXPECT_EQ(tree.ExpandVariables("V::", "%A%-%A%-%B%", ""), "<a1>-<a2>-%B%");
    EXPECT_EQ(calls.size(), 2u);
}

class EchoPlaceholderFilter : public CConfigValueFilter {
public:
    std::string Filter(std::string_view key, std::string_view value) override
    {
        return std::string(value) + "%" + std::string(key) + "%";
    }
};

TEST(ConfigClassTest, ExpansionEndsWhenTheFilterReturnsThePlaceholder)
{
    CConfigClass tree = TreeWithLeaves({{"A", "a"}});
    tree.SetValueFilter(std::make_unique<EchoPlaceholderFilter>());
    EXPECT_EQ(tree.ExpandVariables("V::", "%A%|%A%", ""), "a%A%|a%A%");
}

TEST(ConfigClassTest, FilterIsDeletedWhenReplacedAndWithTheTree)
{
    std::vector<std::string> calls;
    int destroyed = 0;
    {
        CConfigClass tree;
        tree.SetValueFilter(std::make_unique<RecordingFilter>(calls, destroyed));
        tree.SetValueFilter(std::make_unique<RecordingFilter>(calls, destroyed));
        EXPECT_EQ(destroyed, 1);
        tree.SetValueFilter(nullptr);
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(tree.GetValue("k", "raw"), "raw");
        tree.SetValueFilter(std::make_unique<RecordingFilter>(calls, destroyed));
    }
    EXPECT_EQ(destroyed, 3);
}

// Counts, in its destructor, whether it was deleted while a call was running in it.
class GuardedFilter : public CConfigValueFilter {
public:
    explicit GuardedFilter(std::atomic<int>& violations) : violations_(violations) {}
    ~GuardedFilter() override
    {
        if (busy_.load())
            ++violations_;
        busy_.store(true);  // a late caller would see a dead filter as busy
    }
    std::string Filter(std::string_view, std::string_view value) override
    {
        if (busy_.exchange(true))
            ++violations_;
        std::string out(value);
        for (int i = 0; i < 50; ++i)
            out = std::to_string(out.size()) + out.substr(0, 8);
        busy_.store(false);
        return out;
    }

private:
    std::atomic<int>& violations_;
    std::atomic<bool> busy_{false};
};

TEST(ConfigClassTest, ReplacingTheFilterWaitsForReadersOnOtherThreads)
{
    std::atomic<int> violations{0};
    CConfigClass tree;
    tree.SetValue("k", "value");
    tree.SetValueFilter(std::make_unique<GuardedFilter>(violations));
    std::atomic<bool> go{false};
    std::thread reader([&] {
        while (!go.load()) {
        }
        for (int i = 0; i < 20000; ++i)
            tree.GetValue("k", "d");
    });
    std::thread writer([&] {
        while (!go.load()) {
        }
        for (int i = 0; i < 2000; ++i)
            tree.SetValueFilter(std::make_unique<GuardedFilter>(violations));
    });
    go.store(true);
    reader.join();
    writer.join();
    EXPECT_EQ(violations.load(), 0);
}

// --- Copies ------------------------------------------------------------------------------

TEST(ConfigClassTest, CopyConstructorCopiesDeeplyWithoutTheFilter)
{
    CConfigClass source;
    source.SetValue("A::k", "v");
    source.SetValue("A::B::k", "w");
    source.SetValueFilter(std::make_unique<EchoPlaceholderFilter>());
    CConfigClass copy(source);
    EXPECT_EQ(copy.GetValue("A::k", ""), "v") << "no filter in the copy";
    copy.SetValue("A::B::k", "changed");
    source.SetValueFilter(nullptr);
    EXPECT_EQ(source.GetValue("A::B::k", ""), "w");
    EXPECT_EQ(copy.SerializeNode("").substr(0, 11), "STarnwick\\0");
}

TEST(ConfigClassTest, CopyingATreeWaitsForItsWriters)
{
    CConfigClass source;
    std::atomic<bool> stop{false}, started{false};
    std::thread writer([&] {
        started.store(true);
        // Nodes are removed and grown again, so that vectors keep moving in memory.
        for (int i = 0; !stop.load() && i < 1000000; ++i) {
            source.SetValue("N" + std::to_string(i % 50) + "::k" + std::to_string(i % 40), "v");
            if (i % 7 == 0)
                source.RemoveNode("N" + std::to_string(i / 7 % 50));
        }
    });
    while (!started.load())
        std::this_thread::yield();
    for (int round = 0; round < 300; ++round) {
        CConfigClass copy(source);
        const std::string text = copy.SerializeNode("");
        CConfigClass back;
        ASSERT_EQ(back.LoadSerializedText(text), 0) << "a torn copy";
    }
    stop.store(true);
    writer.join();
}

TEST(ConfigClassTest, CopyNodeCopiesDeeplyAndIndependently)
{
    CConfigClass tree;
    tree.SetValue("Threads::T1::Info", "busy");
    tree.SetValue("Threads::T1::RequestInfo::Method", "GET");
    tree.CopyNode("ThreadLogs::T1", "Threads::T1");
    EXPECT_EQ(Describe(tree, "ThreadLogs::T1::"), "Tarnwick{Info=busy;RequestInfo{Method=GET;}}");
    tree.SetValue("Threads::T1::RequestInfo::Method", "PUT");
    tree.SetValue("ThreadLogs::T1::Info", "done");
    EXPECT_EQ(tree.GetValue("ThreadLogs::T1::RequestInfo::Method", ""), "GET");
    EXPECT_EQ(tree.GetValue("Threads::T1::Info", ""), "busy");
}

TEST(ConfigClassTest, CopyNodeReplacesTheDestinationsContentAndKeepsItsName)
{
    CConfigClass tree;
    tree.SetValue("D::old", "x");
    tree.SetValue("D::Old::k", "x");
    tree.SetValue("S::new", "y");
    tree.CopyNode("D::", "S");
    EXPECT_EQ(Describe(tree), "Tarnwick{D{new=y;}S{new=y;}}");
}

TEST(ConfigClassTest, CopyNodeFromAnotherTreeLeavesThatTreeAlone)
{
    CConfigClass source, destination;
    source.SetValue("Path::Path_0::Url", "/");
    destination.CopyNode("Scratch", "Path::Path_0", &source);
    EXPECT_EQ(Describe(destination), "Tarnwick{Scratch{Url=/;}}");
    destination.SetValue("Scratch::Url", "/x");
    EXPECT_EQ(Describe(source), "Tarnwick{Path{Path_0{Url=/;}}}");
}

TEST(ConfigClassTest, CopyNodeIntoAnAncestorOfTheSource)
{
    CConfigClass tree;
    tree.SetValue("A::a", "1");
    tree.SetValue("A::B::C::c", "3");
    tree.SetValue("A::B::C::D::d", "4");
    tree.CopyNode("A", "A::B::C");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{c=3;D{d=4;}}}");

    CConfigClass rooted;
    rooted.SetValue("A::B::b", "2");
    rooted.SetValue("k", "v");
    rooted.CopyNode("", "A::B");
    EXPECT_EQ(Describe(rooted), "Tarnwick{b=2;}");
    EXPECT_EQ(rooted.SerializeNode("").substr(0, 11), "STarnwick\\0");
}

TEST(ConfigClassTest, CopyNodeIntoADescendantOfTheSource)
{
    CConfigClass tree;
    tree.SetValue("A::a", "1");
    tree.SetValue("A::B::b", "2");
    tree.CopyNode("A::B", "A");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{a=1;B{a=1;B{b=2;}}}}");

    CConfigClass rooted;
    rooted.SetValue("k", "v");
    rooted.SetValue("Backup::old", "x");
    rooted.CopyNode("Backup", "");
    EXPECT_EQ(Describe(rooted), "Tarnwick{k=v;Backup{k=v;Backup{old=x;}}}");
}

TEST(ConfigClassTest, CopyNodeOntoItselfChangesNothing)
{
    CConfigClass tree;
    tree.SetValue("A::a", "1");
    tree.SetValue("A::B::b", "2");
    tree.CopyNode("A", "A::");
    tree.CopyNode("", "", &tree);
    EXPECT_EQ(Describe(tree), "Tarnwick{A{a=1;B{b=2;}}}");
}

TEST(ConfigClassTest, CopyNodeFromAMissingSiblingEmptiesTheDestination)
{
    // Resolving the missing source adds a sibling of the destination, which may move it.
    for (int siblings = 1; siblings <= 33; ++siblings) {
        CConfigClass tree;
        for (int i = 0; i < siblings; ++i)
            tree.SetValue("P::D" + std::to_string(i) + "::k", "v");
        tree.CopyNode("P::D0", "P::Missing");
        EXPECT_EQ(tree.GetKeyCount("P::D0"), 0) << siblings;
        EXPECT_EQ(tree.GetSectionCount("P"), siblings + 1) << siblings;
        EXPECT_EQ(tree.GetValue("P::D" + std::to_string(siblings - 1) + "::k", ""), siblings > 1 ? "v" : "");
    }
}

TEST(ConfigClassTest, CopyNodeSurvivesSiblingsMovingInMemory)
{
    CConfigClass tree;
    for (int i = 0; i < 64; ++i)
        tree.SetValue("P::N" + std::to_string(i) + "::k", std::to_string(i));
    // Each copy adds a sibling of its source, which may move the source.
    for (int i = 0; i < 64; ++i)
        tree.CopyNode("P::Copy" + std::to_string(i), "P::N" + std::to_string(i));
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(tree.GetValue("P::Copy" + std::to_string(i) + "::k", ""), std::to_string(i));
    EXPECT_EQ(tree.GetSectionCount("P"), 128);
}

// A filter in force that leaves every value as stored, so the reads below still compare.
class UnchangedValuesFilter : public CConfigValueFilter {
public:
    std::string Filter(std::string_view, std::string_view value) override { return std::string(value); }
};

// Writes remember the nodes their prefixes resolved to. After each step that reshapes the
// tree, writes and reads through the same prefixes must land where a fresh copy of the
// tree (which remembers nothing) puts them; a node remembered past its move would be a
// freed one (the sanitizer build reports it).
TEST(ConfigClassTest, WritesThroughRememberedNodesFollowEveryReshaping)
{
    CConfigClass other;
    other.SetValue("Taken::k", "taken");
    testsupport::TempFolder files;
    const struct {
        const char* step;
        std::function<void(CConfigClass&)> reshape;
    } cases[] = {
        {"siblings added by writes", [](CConfigClass& t) {
             for (int i = 0; i < 64; ++i)
                 t.SetValue("A::", "More" + std::to_string(i) + "::k", "v");
         }},
        {"siblings added by reads", [](CConfigClass& t) {
             for (int i = 0; i < 64; ++i)
                 t.GetValue("A::Read" + std::to_string(i) + "::k", "");
         }},
        {"siblings added by reads under an exclusive hold", [](CConfigClass& t) {
             CConfigLock lock(t.GetAccessor(""));
             for (int i = 0; i < 64; ++i)
                 t.GetValue("A::Held" + std::to_string(i) + "::k", "");
         }},
        {"RemoveNode", [](CConfigClass& t) { t.RemoveNode("A::N0"); }},
        {"ClearNode", [](CConfigClass& t) { t.ClearNode("A"); }},
        {"TakeFirstSection", [](CConfigClass& t) { t.TakeFirstSection("A"); }},
        {"MoveNode", [](CConfigClass& t) { t.MoveNode("B", "A::N1"); }},
        {"MoveNodeFrom", [&](CConfigClass& t) { t.MoveNodeFrom("A::N0", other, "Taken"); }},
        {"CopyNode", [](CConfigClass& t) { t.CopyNode("A", "C"); }},
        {"LoadSerializedText", [](CConfigClass& t) { t.LoadSerializedText(CConfigClass().SerializeNode("")); }},
        {"LoadXml of the tree's own save", [&](CConfigClass& t) {
             ASSERT_EQ(t.SaveXml(files.Path() + "whole.xml", ""), 0);
             ASSERT_EQ(t.LoadXml(files.Path() + "whole.xml"), 0);
         }},
        {"LoadXml of a missing file", [&](CConfigClass& t) { t.LoadXml(files.Path() + "absent.xml"); }},
        {"SaveXml of a missing node", [&](CConfigClass& t) {
             ASSERT_EQ(t.SaveXml(files.Path() + "part.xml", "A::N9"), 0);
         }},
        {"SetValueFilter", [](CConfigClass& t) { t.SetValueFilter(std::make_unique<UnchangedValuesFilter>()); }},
        {"SetValueFilter removing it", [](CConfigClass& t) {
             t.SetValueFilter(std::make_unique<UnchangedValuesFilter>());
             t.SetValueFilter(nullptr);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        CConfigClass tree;
        tree.SetValue("C::N2::k", "c");
        // Twice, so that the second round finds every node and remembers all four.
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 4; ++i)
                tree.SetValue("A::N" + std::to_string(i) + "::", "k", "0");
        }
        c.reshape(tree);
        // The last first: a write that creates a node forgets what the others remembered.
        for (int i = 4; i-- > 0;)
            tree.SetValue("A::N" + std::to_string(i) + "::", "k", "1");
        CConfigClass fresh(tree);
        for (int i = 0; i < 4; ++i) {
            const std::string prefix = "A::N" + std::to_string(i) + "::";
            EXPECT_EQ(fresh.GetValue(prefix, "k", "", 0), "1");
            EXPECT_EQ(tree.GetValue(prefix, "k", "", 0), "1");
        }
        EXPECT_EQ(Describe(tree), Describe(fresh));
    }
}

// --- Moves -------------------------------------------------------------------------------

CConfigClass ContextTree()
{
    CConfigClass tree;
    tree.SetValue("Threads::Thread_0000::ThreadName", "Thread_0000");
    tree.SetValue("Threads::Thread_0001::ThreadName", "Thread_0001");
    tree.SetValue("Threads::Thread_0001::Info", "正常に終了しました");
    tree.SetValue("Threads::Thread_0001::StartTime::Date", "2004/03/02");
    tree.SetValue("Threads::Thread_0001::RequestInfo::Options::Host", "example");
    tree.SetValue("Threads::Thread_0002::ThreadName", "Thread_0002");
    tree.SetValue("ThreadLogs::Thread_fffe::ThreadName", "Thread_fffe");
    return tree;
}

TEST(ConfigClassTest, MoveNodeAppendsTheWholeNodeToTheDestinationParent)
{
    CConfigClass tree = ContextTree();
    const std::string node = Describe(tree, "Threads::Thread_0001::");
    EXPECT_EQ(tree.MoveNode("ThreadLogs::Thread_0001::", "Threads::Thread_0001::"), 0);
    EXPECT_EQ(Describe(tree, "ThreadLogs::Thread_0001::"), node);
    std::vector<std::string> names;
    tree.GetSections("ThreadLogs", names);
    EXPECT_EQ(names, (std::vector<std::string>{"Thread_fffe", "Thread_0001"})) << "appended last";
    tree.GetSections("Threads", names);
    EXPECT_EQ(names, (std::vector<std::string>{"Thread_0000", "Thread_0002"}));
}

struct MoveCase {
    const char* what;
    const char* destination;
    const char* source;
};

TEST(ConfigClassTest, MoveNodeLeavesWhatCopyThenRemoveLeave)
{
    const MoveCase cases[] = {
        {"to another parent", "ThreadLogs::Thread_0001", "Threads::Thread_0001"},
        {"paths without the trailing separator", "ThreadLogs::T", "Threads::Thread_0000"},
        {"onto an existing node", "ThreadLogs::Thread_fffe::", "Threads::Thread_0001::"},
        {"to a later sibling", "Threads::Thread_0002", "Threads::Thread_0000"},
        {"to an earlier sibling", "Threads::Thread_0000", "Threads::Thread_0002"},
        {"to a new sibling", "Threads::New", "Threads::Thread_0001"},
        {"into a later sibling", "Threads::Thread_0002::Inner", "Threads::Thread_0001"},
        {"into an earlier sibling", "Threads::Thread_0000::Inner", "Threads::Thread_0001"},
        {"into a missing branch", "Archive::2004::Thread_0001", "Threads::Thread_0001"},
        {"a missing source", "ThreadLogs::Thread_fffe", "Threads::Missing"},
        {"a missing source under missing parents", "ThreadLogs::New", "Gone::Missing"},
        {"a whole top node", "Old", "Threads"},
        {"a nested node up", "Top", "Threads::Thread_0001::RequestInfo::Options"},
    };
    for (const MoveCase& c : cases) {
        CConfigClass moved = ContextTree();
        CConfigClass copied = ContextTree();
        EXPECT_EQ(moved.MoveNode(c.destination, c.source), 0) << c.what;
        copied.CopyNode(c.destination, c.source);
        copied.RemoveNode(c.source);
        EXPECT_EQ(Describe(moved), Describe(copied)) << c.what;
    }
}

TEST(ConfigClassTest, MoveNodeIntoAnAncestorKeepsOnlyTheSource)
{
    CConfigClass tree = ContextTree();
    EXPECT_EQ(tree.MoveNode("Threads", "Threads::Thread_0001::RequestInfo"), 0);
    EXPECT_EQ(Describe(tree, "Threads::"), "Tarnwick{Options{Host=example;}}");
    EXPECT_EQ(tree.GetValue("ThreadLogs::Thread_fffe::ThreadName", ""), "Thread_fffe");

    CConfigClass rooted = ContextTree();
    EXPECT_EQ(rooted.MoveNode("", "Threads::Thread_0002"), 0);
    EXPECT_EQ(Describe(rooted), "Tarnwick{ThreadName=Thread_0002;}");
    EXPECT_EQ(rooted.SerializeNode("").substr(0, 11), "STarnwick\\0") << "the root keeps its name";
}

TEST(ConfigClassTest, MoveNodeRefusesTheRootAndMovesIntoItself)
{
    const MoveCase cases[] = {
        {"the root", "Elsewhere", ""},
        {"the root written as a separator", "Elsewhere", "::"},
        {"onto itself", "Threads::Thread_0001", "Threads::Thread_0001::"},
        {"into itself", "Threads::Thread_0001::RequestInfo", "Threads::Thread_0001"},
        {"deep into itself", "Threads::Thread_0001::RequestInfo::Options::New", "Threads"},
    };
    for (const MoveCase& c : cases) {
        CConfigClass tree = ContextTree();
        tree.GetSectionCount(c.destination);  // only what the move may create itself
        const std::string before = Describe(tree);
        EXPECT_EQ(tree.MoveNode(c.destination, c.source), -1) << c.what;
        EXPECT_EQ(Describe(tree), before) << c.what;
    }
}

TEST(ConfigClassTest, MoveNodeTakesTheFirstOfTwoNodesWithOneName)
{
    CConfigClass tree;
    ASSERT_EQ(tree.LoadSerializedText("STarnwick\\0SA\\0SB\\0L1\\0\\0ESB\\0L2\\0\\0EEE"), 0);
    EXPECT_EQ(tree.MoveNode("C", "A::B"), 0);
    EXPECT_EQ(Describe(tree), "Tarnwick{A{B{2=;}}C{1=;}}");
}

TEST(ConfigClassTest, MoveNodeSurvivesSiblingsMovingInMemory)
{
    CConfigClass tree;
    for (int i = 0; i < 64; ++i)
        tree.SetValue("P::N" + std::to_string(i) + "::k", std::to_string(i));
    // Each move adds a sibling of its source, which may move the source.
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(tree.MoveNode("P::Moved" + std::to_string(i), "P::N" + std::to_string(i)), 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(tree.GetValue("P::Moved" + std::to_string(i) + "::k", ""), std::to_string(i));
    EXPECT_EQ(tree.GetSectionCount("P"), 64);
}

TEST(ConfigClassTest, MovedNodeIsNeverSeenTwiceOrNotAtAll)
{
    // Copying and removing in two steps would show a reader the node in both places.
    constexpr int kNodes = 2000;
    CConfigClass tree;
    for (int i = 0; i < kNodes; ++i)
        tree.SetValue("Threads::T" + std::to_string(i) + "::k", "v");
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        const CConfigAccessor threads = tree.GetAccessor("Threads");
        while (!done.load()) {
            CConfigLock lock(threads);
            if (tree.GetSectionCount("Threads") + tree.GetSectionCount("ThreadLogs") != kNodes)
                ++torn;
        }
    });
    for (int i = 0; i < kNodes; ++i)
        tree.MoveNode("ThreadLogs::T" + std::to_string(i), "Threads::T" + std::to_string(i));
    done.store(true);
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(tree.GetSectionCount("ThreadLogs"), kNodes);
}

TEST(ConfigClassTest, MoveNodeFromAnotherTreeTakesItWhole)
{
    CConfigClass source;
    source.SetValue("Threads::T1::k", "v");
    source.SetValue("Threads::T1::Sub::k", "w");
    source.SetValue("Threads::T2::k", "x");
    CConfigClass destination;
    destination.SetValue("ThreadLogs::T0::k", "old");

    EXPECT_EQ(destination.MoveNodeFrom("ThreadLogs::T1", source, "Threads::T1"), 0);
    EXPECT_EQ(Describe(destination, "ThreadLogs::"), "Tarnwick{T0{k=old;}T1{k=v;Sub{k=w;}}}");
    std::vector<std::string> left;
    source.GetSections("Threads", left);
    EXPECT_EQ(left, std::vector<std::string>{"T2"});

    EXPECT_EQ(destination.MoveNodeFrom("ThreadLogs::T0", source, "Threads::Missing"), 0);
    EXPECT_EQ(destination.GetKeyCount("ThreadLogs::T0"), 0) << "a missing source empties the destination";
    EXPECT_EQ(destination.MoveNodeFrom("Elsewhere", source, "::"), -1) << "the root stays";
    EXPECT_EQ(source.GetValue("Threads::T2::k", ""), "x");
}

TEST(ConfigClassTest, TakeFirstSectionGivesTheChildBack)
{
    CConfigClass tree = ContextTree();
    const CConfigNode first = tree.TakeFirstSection("Threads");
    EXPECT_EQ(first.GetName(), "Thread_0000");
    EXPECT_EQ(tree.GetSectionCount("Threads"), 2);
    EXPECT_EQ(tree.TakeFirstSection("Empty").GetName(), "") << "nothing to take";
}

// --- Readers and writers on several threads ---------------------------------------------

TEST(ConfigClassTest, ReadersDoNotWaitForAReadBatch)
{
    CConfigClass tree;
    tree.SetValue("Setting::Basic::Port", "80");
    const CConfigAccessor settings = tree.GetAccessor("Setting");
    CConfigReadLock batch(settings);
    std::atomic<bool> read{false};
    std::thread reader([&] { read.store(tree.GetValue("Setting::Basic::Port", "") == "80"); });
    reader.join();  // would never return if readers excluded each other
    EXPECT_TRUE(read.load());
}

TEST(ConfigClassTest, WritersWaitForAReadBatch)
{
    CConfigClass tree;
    tree.SetValue("A::k", "before");
    std::atomic<bool> written{false};
    std::thread writer;
    {
        CConfigReadLock batch(tree.GetAccessor("A"));
        writer = std::thread([&] {
            tree.SetValue("A::k", "after");
            written.store(true);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(written.load());
        EXPECT_EQ(tree.GetValue("A::k", ""), "before") << "the tree stays as it is across the batch";
    }
    writer.join();
    EXPECT_EQ(tree.GetValue("A::k", ""), "after");
}

TEST(ConfigClassTest, AReadBatchCreatesNoNodes)
{
    CConfigClass tree;
    tree.SetValue("A::k", "v");
    {
        CConfigReadLock batch(tree.GetAccessor("A"));
        EXPECT_EQ(tree.GetValue("Missing::Deeper::k", "default"), "default");
        EXPECT_EQ(tree.GetSectionCount("Missing"), 0);
        std::vector<CConfigLeaf> leaves;
        tree.GetLeaves("Missing::", leaves);
        EXPECT_TRUE(leaves.empty());
        EXPECT_EQ(tree.GetValue("A::k", ""), "v");
    }
    EXPECT_EQ(Describe(tree), "Tarnwick{A{k=v;}}");
    // Outside a batch the first read through a missing node creates it, as always.
    EXPECT_EQ(tree.GetValue("Missing::k", "d"), "d");
    EXPECT_EQ(Describe(tree), "Tarnwick{A{k=v;}Missing{}}");
}

TEST(ConfigClassTest, AnExclusiveHolderCreatesNodesItReadsThrough)
{
    CConfigClass tree;
    CConfigLock lock(tree.GetAccessor(""));
    EXPECT_EQ(tree.GetValue("New::k", "d"), "d");
    EXPECT_EQ(tree.GetSectionCount(""), 1);
}

TEST(ConfigClassTest, ConcurrentReadsThatCreateNodesLeaveOneOfEach)
{
    // Readers race to be the first through each missing node while the tree's vectors
    // grow; every node is created once and every read sees its default or its value.
    constexpr int kThreads = 8;
    constexpr int kNodes = 300;
    CConfigClass tree;
    tree.SetValue("Fixed::k", "v");
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t)
        readers.emplace_back([&, t] {
            for (int i = 0; i < kNodes; ++i) {
                const int n = (i + t * 37) % kNodes;
                if (tree.GetValue("N" + std::to_string(n) + "::Deeper::k", "d") != "d")
                    ++wrong;
                if (tree.GetValue("Fixed::k", "") != "v")
                    ++wrong;
            }
        });
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(tree.GetSectionCount(""), kNodes + 1);
    for (int n = 0; n < kNodes; ++n)
        ASSERT_EQ(tree.GetSectionCount("N" + std::to_string(n)), 1) << n;
}

TEST(ConfigClassTest, HasSectionAndRemoveFirstSection)
{
    CConfigClass tree = ContextTree();
    EXPECT_TRUE(tree.HasSection("Threads", "Thread_0001"));
    EXPECT_TRUE(tree.HasSection("Threads::", "Thread_0002"));
    EXPECT_FALSE(tree.HasSection("Threads", "thread_0001")) << "names compare exactly";
    EXPECT_FALSE(tree.HasSection("Threads", "Thread_0001::StartTime")) << "one level only";
    EXPECT_FALSE(tree.HasSection("Threads", "Missing"));
    EXPECT_EQ(tree.GetSectionCount("Threads"), 3) << "asking creates no child";

    tree.RemoveFirstSection("Threads");
    std::vector<std::string> names;
    tree.GetSections("Threads", names);
    EXPECT_EQ(names, (std::vector<std::string>{"Thread_0001", "Thread_0002"}));
    tree.RemoveFirstSection("ThreadLogs::Thread_fffe");
    tree.RemoveFirstSection("Empty");
    EXPECT_EQ(tree.GetKeyCount("ThreadLogs::Thread_fffe"), 1) << "leaves stay";
    EXPECT_EQ(tree.GetSectionCount("Empty"), 0);
}

TEST(ConfigClassTest, AWriterFillsANodeInPlaceInOneStep)
{
    CConfigClass tree;
    tree.SetValue("Threads::T1::Old", "x");
    tree.SetValue("Threads::T1::Child::Leaf", "y");
    const uint64_t writes = tree.GetWriteCount();
    {
        CConfigClass::NodeWriter writer = tree.WriteNode("Threads::T1");
        CConfigNode& node = writer.Node();
        node.SetLeafAt(0, "ThreadName", "T1");  // in place of Old
        node.SetLeafAt(1, "Info", "running");   // appended
        node.TruncateChildren(0);
        node.AppendChild(CConfigNode("StartTime")).SetLeafAt(0, "Date", "2004/03/02");
    }
    EXPECT_GT(tree.GetWriteCount(), writes);
    EXPECT_EQ(Describe(tree), "Tarnwick{Threads{T1{ThreadName=T1;Info=running;StartTime{Date=2004/03/02;}}}}");
    {
        CConfigClass::NodeWriter writer = tree.WriteNode("Created::");
        writer.Node().SetLeafAt(0, "A", "1");
    }
    EXPECT_EQ(tree.GetValue("Created::A", "-"), "1") << "a missing node is created";
    {
        CConfigClass::NodeWriter writer = tree.WriteNode("Threads::T1");
        writer.Node().TruncateLeaves(1);
    }
    EXPECT_EQ(tree.GetKeyCount("Threads::T1"), 1);
}

// The tree remembers a writer's node; every way the node can move since must be seen, as
// under the sanitizers a stale one would be a use after free.
TEST(ConfigClassTest, AWriterFindsItsNodeWhereverTheTreeMovedIt)
{
    CConfigClass tree;
    const auto write = [&tree](std::string_view path, std::string_view value) {
        CConfigClass::NodeWriter writer = tree.WriteNode(path);
        writer.Node().SetLeaf("V", value);
    };
    write("Threads::B::", "b1");
    write("Threads::B::Sub::", "s1");
    const struct {
        const char* what;
        std::function<void()> reshape;
    } steps[] = {
        {"a sibling before it removed", [&] { tree.RemoveNode("Threads::A"); }},
        {"siblings added until the children move", [&] {
             for (int i = 0; i < 64; ++i)
                 tree.SetValue("Threads::N" + std::to_string(i) + "::X", "1");
         }},
        {"its parent's writer replaced it", [&] {
             CConfigClass::NodeWriter writer = tree.WriteNode("Threads::");
             CConfigNode& threads = writer.Node();
             CConfigNode fresh("B");
             fresh.SetLeaf("V", "fresh");
             threads.GetChild(threads.FindChild("B")) = std::move(fresh);
         }},
        {"a leaf write created a level", [&] { tree.SetValue("Threads::New::Deep::X", "1"); }},
        {"the tree reloaded", [&] {
             const std::string text = tree.SerializeNode("");
             tree.LoadSerializedText(text);
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        tree.SetValue("Threads::A::X", "1");  // something before B to remove
        write("Threads::B::", "before");
        write("Threads::B::Sub::", "before");
        step.reshape();
        write("Threads::B::", "after");
        write("Threads::B::Sub::", "after");
        EXPECT_EQ(tree.GetValue("Threads::B::V", "-"), "after");
        EXPECT_EQ(tree.GetValue("Threads::B::Sub::V", "-"), "after");
    }
}

TEST(ConfigClassTest, ChildrenTakenOutKeepTheirContent)
{
    CConfigNode node("T");
    node.AppendChild(std::string_view("A")).SetLeaf("a", "1");
    node.AppendChild(std::string_view("B")).SetLeaf("b", "2");
    node.AppendChild(std::string_view("C"));
    std::vector<CConfigNode> taken;
    node.TakeChildren(1, taken);
    EXPECT_EQ(Describe(node), "T{A{a=1;}}");
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(Describe(taken[0]), "B{b=2;}");
    EXPECT_EQ(Describe(taken[1]), "C{}");
    taken[0].SetName("D");
    node.AppendChild(std::move(taken[0]));
    EXPECT_EQ(Describe(node), "T{A{a=1;}D{b=2;}}");
}

TEST(ConfigClassTest, TakeNodeGivesTheNodeBackWhole)
{
    CConfigClass tree;
    tree.SetValue("Threads::T1::Info", "x");
    tree.SetValue("Threads::T1::Sub::A", "1");
    const CConfigNode taken = tree.TakeNode("Threads::T1");
    EXPECT_EQ(Describe(taken), "T1{Info=x;Sub{A=1;}}");
    EXPECT_EQ(Describe(tree), "Tarnwick{Threads{}}");
    EXPECT_EQ(Describe(tree.TakeNode("Threads::Missing")), "{}");
}

TEST(ConfigClassTest, FilterValueGivesWhatAReadWould)
{
    class Upper : public CConfigValueFilter {
    public:
        std::string Filter(std::string_view, std::string_view value) override { return "[" + std::string(value) + "]"; }
    };
    CConfigClass tree;
    EXPECT_EQ(tree.FilterValue("Key", "v"), "v") << "no filter";
    tree.SetValueFilter(std::make_unique<Upper>());
    tree.SetValue("Key", "v");
    EXPECT_EQ(tree.FilterValue("Key", "v"), tree.GetValue("Key", ""));
}

}  // namespace
