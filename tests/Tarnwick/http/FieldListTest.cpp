#include "http/FieldList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Listed(const CFieldList& fields)
{
    std::string text;
    for (const CFieldList::Field& field : fields)
        text += field.name + "=" + field.value + ";";
    return text;
}

TEST(FieldListTest, ANameSetAgainKeepsItsPlaceAndTakesTheNewValue)
{
    CFieldList fields;
    fields.Set("Host", "a");
    fields.Set("X-Twice", "first");
    fields.Set("x-twice", "lower");
    fields.Set("X-Twice", "second");
    EXPECT_EQ(Listed(fields), "Host=a;X-Twice=second;x-twice=lower;") << "names are set by their exact spelling";
    EXPECT_EQ(fields.Size(), 3u);
}

TEST(FieldListTest, LookupsMatchExactlyOrWithoutRegardToCase)
{
    CFieldList fields;
    fields.Set("x-twice", "lower");
    fields.Set("X-Twice", "upper");
    const struct {
        const char* description;
        const char* name;
        const char* exact;   // "" for none
        const char* folded;  // "" for none
    } cases[] = {
        {"exact spelling", "X-Twice", "upper", "lower"},
        {"other spelling: the first that folds alike", "X-TWICE", "", "lower"},
        {"missing", "Host", "", ""},
    };
    for (const auto& c : cases) {
        const std::string* exact = fields.Find(c.name);
        const std::string* folded = fields.FindIgnoringCase(c.name);
        EXPECT_EQ(exact ? *exact : "", c.exact) << c.description;
        EXPECT_EQ(folded ? *folded : "", c.folded) << c.description;
    }
}

TEST(FieldListTest, ErasingAndReplacingByNameKeepTheOrderOfTheRest)
{
    CFieldList fields;
    for (const char* name : {"Server", "Keep-Alive", "Connection", "keep-alive", "X-After"})
        fields.Set(name, "v");
    fields.EraseIgnoringCase("KEEP-ALIVE");
    fields.ReplaceIgnoringCase("connection", "Close");
    EXPECT_EQ(Listed(fields), "Server=v;Connection=Close;X-After=v;");
    fields.Set("New", "n");
    EXPECT_EQ(Listed(fields), "Server=v;Connection=Close;X-After=v;New=n;") << "added after the kept ones";
}

TEST(FieldListTest, ClearedListIsEmptyAndFillsAnew)
{
    CFieldList fields;
    fields.Set("A", "a long value that does not fit in a short string");
    fields.Clear();
    EXPECT_TRUE(fields.Empty());
    EXPECT_EQ(fields.Find("A"), nullptr);
    fields.Set("B", "b");
    EXPECT_EQ(Listed(fields), "B=b;");
}

}  // namespace
