#include "ByteBuffer.h"
#include "ConfigClass.h"

#include "ConfigTreeText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::Describe;

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Field(const std::string& text)
{
    CByteBuffer buffer;
    CConfigNode::WriteText(buffer, text);
    return std::string(buffer.GetData(), buffer.GetLength());
}

const std::string kRoot = "STarnwick\\0";

TEST(ConfigSerializeTest, WritesTheDocumentedExample)
{
    CConfigClass tree;
    tree.SetValue("R::a", "b\\c");
    tree.GetSectionCount("R::C");  // creates the empty child C
    EXPECT_EQ(Hex(tree.SerializeNode("R::")),
              "53 52 5C 30 4C 61 5C 30 62 5C 5C 63 5C 30 53 43 5C 30 45 45");
}

struct FieldCase {
    const char* description;
    std::string text;
    std::string hex;
};

TEST(ConfigSerializeTest, FieldsDoubleEveryBackslashByte)
{
    const FieldCase cases[] = {
        {"empty", "", "5C 30"},
        {"path with backslashes", "C:\\Logs\\", "43 3A 5C 5C 4C 6F 67 73 5C 5C 5C 30"},
        {"backslash then zero digit", "\\0", "5C 5C 30 5C 30"},
        {"marker letters are not escaped", "SLE", "53 4C 45 5C 30"},
        {"trail byte of 表 is doubled", "表", "95 5C 5C 5C 30"},
        {"trail byte of ソ before a zero digit", "ソ0", "83 5C 5C 30 5C 30"},
        {"zero byte ends the field", std::string("ab\0cd", 5), "61 62 5C 30"},
        {"zero byte first", std::string("\0x", 2), "5C 30"},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(Hex(Field(c.text)), c.hex) << c.description;
}

TEST(ConfigSerializeTest, ReadsFieldsBackAndMovesTheCursor)
{
    const std::string texts[] = {"", "\\", "\\\\", "\\0", "0\\", "a\\b", "表示", "ソ0", "能\\", "S", "E\\0L"};
    for (const std::string& text : texts) {
        const std::string written = Field(text) + "rest";
        const char* cursor = written.data();
        std::string read;
        ASSERT_TRUE(CConfigNode::ReadSerializedString(cursor, written.data() + written.size(), read)) << text;
        EXPECT_EQ(read, text);
        EXPECT_EQ(std::string(cursor), "rest") << text;
    }
}

TEST(ConfigSerializeTest, UnterminatedFieldsLeaveTheCursor)
{
    const std::string texts[] = {"", "abc", "abc\\", "a\\\\0", "\\\\\\\\"};
    for (const std::string& text : texts) {
        const char* cursor = text.data();
        std::string read = "stale";
        EXPECT_FALSE(CConfigNode::ReadSerializedString(cursor, text.data() + text.size(), read)) << text;
        EXPECT_EQ(cursor, text.data()) << text;
        EXPECT_EQ(read, "") << text;
    }
}

TEST(ConfigSerializeTest, ALoneBackslashBeforeAnotherByteIsContent)
{
    const std::string text = "a\\b\\\\\\c\\0";  // a \ b \\ \ c, then the end
    const char* cursor = text.data();
    std::string read;
    ASSERT_TRUE(CConfigNode::ReadSerializedString(cursor, text.data() + text.size(), read));
    EXPECT_EQ(read, "a\\b\\\\c");
}

TEST(ConfigSerializeTest, RootRecordAloneReadsAsAnEmptyTree)
{
    CConfigClass tree;
    tree.SetValue("old", "x");
    EXPECT_EQ(tree.LoadSerializedText(kRoot + "E"), 0);
    EXPECT_EQ(Describe(tree), "Tarnwick{}");
}

TEST(ConfigSerializeTest, TheRootKeepsItsOwnName)
{
    CConfigClass tree;
    EXPECT_EQ(tree.LoadSerializedText("SOther\\0La\\0b\\0E"), 0);
    EXPECT_EQ(tree.SerializeNode(""), kRoot + "La\\0b\\0E");
}

struct BadTextCase {
    const char* description;
    std::string text;
    std::string left;  // what stays in the tree
};

TEST(ConfigSerializeTest, MalformedTextsFailAndKeepWhatWasRead)
{
    const BadTextCase cases[] = {
        {"empty", "", "Tarnwick{}"},
        {"not starting with S", "XTarnwick\\0E", "Tarnwick{}"},
        {"empty root name", "S\\0E", "Tarnwick{}"},
        {"unterminated root name", "STarnwick", "Tarnwick{}"},
        {"no closing E", kRoot, "Tarnwick{}"},
        {"other marker byte", kRoot + "La\\0b\\0X", "Tarnwick{a=b;}"},
        {"lower-case marker", kRoot + "e", "Tarnwick{}"},
        {"cut inside a child", kRoot + "La\\0b\\0SC\\0Lc\\0d\\0", "Tarnwick{a=b;C{c=d;}}"},
        {"unterminated child name", kRoot + "SC", "Tarnwick{}"},
        {"unterminated key", kRoot + "Lkey", "Tarnwick{}"},
        {"unterminated value", kRoot + "Lkey\\0val", "Tarnwick{}"},
        {"value ending in a lone backslash", kRoot + "Lk\\0v\\", "Tarnwick{}"},
        {"zero byte before the end", kRoot + std::string("\0E", 2), "Tarnwick{}"},
    };
    for (const BadTextCase& c : cases) {
        CConfigClass tree;
        tree.SetValue("old", "x");
        EXPECT_EQ(tree.LoadSerializedText(c.text), -1) << c.description;
        EXPECT_EQ(Describe(tree), c.left) << c.description;
    }
}

TEST(ConfigSerializeTest, ReaderAcceptsInterleavedRecordsAndIgnoresTrailingBytes)
{
    CConfigClass tree;
    EXPECT_EQ(tree.LoadSerializedText(kRoot + "SA\\0ELk\\0v\\0SB\\0EEtrailing garbage"), 0);
    EXPECT_EQ(Describe(tree), "Tarnwick{k=v;A{}B{}}");
}

TEST(ConfigSerializeTest, DuplicatesFollowTheTreeRules)
{
    CConfigClass tree;
    EXPECT_EQ(tree.LoadSerializedText(kRoot + "Lk\\01\\0Lk\\02\\0SA\\0ESA\\0La\\0b\\0EE"), 0);
    EXPECT_EQ(Describe(tree), "Tarnwick{k=2;A{}A{a=b;}}") << "second leaf value wins, nodes repeat";
}

std::string Nested(int levels)
{
    std::string text = kRoot;
    for (int i = 1; i < levels; ++i)
        text += "Sn\\0";
    return text + std::string(levels, 'E');
}

TEST(ConfigSerializeTest, NestingIsLimitedTo256Levels)
{
    CConfigClass tree;
    EXPECT_EQ(tree.LoadSerializedText(Nested(CConfigClass::kMaxSerializedDepth)), 0);
    EXPECT_EQ(tree.LoadSerializedText(Nested(CConfigClass::kMaxSerializedDepth + 1)), -1);
    EXPECT_EQ(tree.LoadSerializedText(Nested(200000)), -1) << "no stack overflow";
}

TEST(ConfigSerializeTest, WritesLeavesBeforeChildrenInOrder)
{
    CConfigClass tree;
    tree.SetValue("B::x", "1");
    tree.SetValue("k", "v");
    tree.SetValue("A::y", "2");
    EXPECT_EQ(tree.SerializeNode(""), kRoot + "Lk\\0v\\0SB\\0Lx\\01\\0ESA\\0Ly\\02\\0EE");
    EXPECT_EQ(tree.SerializeNode("B::x"), "SB\\0Lx\\01\\0E") << "the path is taken unchanged: B::x names B";
    EXPECT_EQ(tree.SerializeNode("B"), tree.SerializeNode(""));
}

TEST(ConfigSerializeTest, ZeroBytesEndNamesKeysAndValues)
{
    CConfigClass tree;
    tree.SetValue(std::string("k\0hidden", 8), std::string("v\0hidden", 8));
    tree.SetValue(std::string("N\0x::k", 6), "1");
    const std::string text = tree.SerializeNode("");
    EXPECT_EQ(text.find('\0'), std::string::npos);
    CConfigClass back;
    ASSERT_EQ(back.LoadSerializedText(text), 0);
    EXPECT_EQ(Describe(back), "Tarnwick{k=v;N{k=1;}}");
}

TEST(ConfigSerializeTest, JapaneseAndBackslashTextsRoundTrip)
{
    const std::string texts[] = {"表示", "ソ", "能\\", "ソ0", "\\0", "\\\\", "0", "C:\\Program Files\\表\\",
                                 "\x83", "a\x95", "S", "E", "L"};
    CConfigClass tree;
    int i = 0;
    for (const std::string& text : texts) {
        const std::string n = std::to_string(i++);
        tree.SetValue("N" + n + "::" + text, text);
        tree.SetValue(text + "::" + n, text);
    }
    const std::string written = tree.SerializeNode("");
    CConfigClass back;
    ASSERT_EQ(back.LoadSerializedText(written), 0);
    EXPECT_EQ(Describe(back), Describe(tree));
    EXPECT_EQ(back.SerializeNode(""), written);
}

// A tree with random names, keys and values over every byte but zero.
void Fill(CConfigClass& tree, std::mt19937& random)
{
    std::uniform_int_distribution<int> byte(1, 255), length(0, 6), pick(0, 9);
    auto text = [&] {
        std::string s;
        for (int n = length(random); n > 0; --n)
            s += static_cast<char>(pick(random) < 3 ? '\\' : byte(random));
        return s;
    };
    for (int i = 0; i < 60; ++i) {
        std::string path;
        for (int depth = pick(random) % 4; depth > 0; --depth)
            path += "N" + text() + "::";
        tree.SetValue(path + text(), text());
    }
}

TEST(ConfigSerializeTest, RandomTreesRoundTrip)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
        CConfigClass tree;
        Fill(tree, random);
        const std::string written = tree.SerializeNode("");
        CConfigClass back;
        ASSERT_EQ(back.LoadSerializedText(written), 0) << round;
        ASSERT_EQ(back.SerializeNode(""), written) << round;
    }
}

TEST(ConfigSerializeTest, DamagedTextsNeverCrashTheReader)
{
    std::mt19937 random(777);
    CConfigClass source;
    Fill(source, random);
    const std::string valid = source.SerializeNode("");
    CConfigClass tree;
    for (size_t cut = 0; cut < valid.size(); ++cut) {
        EXPECT_EQ(tree.LoadSerializedText(valid.substr(0, cut)), -1) << cut;
    }
    std::uniform_int_distribution<size_t> position(0, valid.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    const char markers[] = "SLE\\0";
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = valid;
        for (int n = 1 + round % 4; n > 0 && !damaged.empty(); --n) {
            const size_t at = position(random) % damaged.size();
            const int b = byte(random);
            switch (round % 3) {
            case 0: damaged[at] = static_cast<char>(b); break;
            case 1: damaged.insert(at, 1, markers[b % 5]); break;
            default: damaged.erase(at, 1 + b % 8); break;
            }
        }
        const int result = tree.LoadSerializedText(damaged);
        EXPECT_TRUE(result == 0 || result == -1);
        tree.SerializeNode("");  // whatever was read is a sound tree
    }
}

}  // namespace
