#include "core/CoreSettings.h"

#include "ConfigClass.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Gives a value holding '%' another number at each read, as the clock does to %Second%.
class CountingFilter : public CConfigValueFilter {
public:
    explicit CountingFilter(int& reads) : reads_(reads) {}
    std::string Filter(std::string_view, std::string_view value) override
    {
        if (value.find('%') == std::string_view::npos)
            return std::string(value);
        return std::to_string(++reads_);
    }

private:
    int& reads_;
};

TEST(CoreSettingsTest, ValuesAreReadOnceUnlessTheFilterCanChangeThem)
{
    const struct {
        const char* description;
        const char* stored;  // Basic::KeepAliveTime; nullptr: missing
        int first;           // what the first and second look give
        int second;
    } cases[] = {
        {"missing: the default", nullptr, 20, 20},
        {"a number", "7", 7, 7},
        {"zero", "0", 0, 0},
        {"no number", "abc", 0, 0},
        {"a placeholder: read at each look", "%Second%", 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        int reads = 0;
        CConfigClass tree;
        tree.SetValueFilter(std::make_unique<CountingFilter>(reads));
        if (c.stored)
            tree.SetValue("Setting::Basic::KeepAliveTime", c.stored);
        const CCoreSettings settings(tree.GetAccessor("Setting"));
        EXPECT_EQ(settings.KeepAliveTime(), c.first);
        EXPECT_EQ(settings.KeepAliveTime(), c.second);
        tree.SetValue("Setting::Basic::KeepAliveTime", "99");
        EXPECT_EQ(settings.KeepAliveTime(), c.stored && c.first != c.second ? 99 : c.first)
            << "a constant value is not read again";
    }
}

TEST(CoreSettingsTest, ReadsCreateTheirNodes)
{
    CConfigClass tree;
    const CCoreSettings settings(tree.GetAccessor("Setting"));
    EXPECT_TRUE(tree.GetAccessor("Setting").HasSection("Basic"));
    EXPECT_TRUE(tree.GetAccessor("Setting").HasSection("Log"));
    EXPECT_EQ(settings.EnableKeepAlive(), 0);
    EXPECT_EQ(settings.MaxKeepAlive(), 5);
    EXPECT_EQ(settings.MaxThreadLog(), 10);
}

}  // namespace
