// Command routing: the active view first, then the frame, then the application; a command
// nobody handles is disabled.

#include "gui/CommandRouter.h"

#include <QAction>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

class Target : public gui::CCmdTarget {
public:
    Target(std::string name, std::vector<std::string>& journal) : name_(std::move(name)), journal_(journal) {}
    bool HandlesCommand(int id) const override { return enabled.count(id) != 0; }
    void OnCommand(int id) override { journal_.push_back(name_ + ":" + std::to_string(id)); }
    bool IsCommandEnabled(int id) const override { return enabled.at(id); }

    std::map<int, bool> enabled;

private:
    std::string name_;
    std::vector<std::string>& journal_;
};

TEST(CommandRouterTest, TheFirstTargetThatHandlesACommandDecides)
{
    std::vector<std::string> journal;
    Target view("view", journal), frame("frame", journal), app("app", journal);
    view.enabled = {{1, false}};
    frame.enabled = {{1, true}, {2, true}};
    app.enabled = {{2, true}, {3, true}};
    Target* active = &view;
    gui::CCommandRouter router([&] { return std::vector<gui::CCmdTarget*>{active, &frame, &app}; });

    QAction one, two, three, none;
    router.AddAction(&one, 1);
    router.AddAction(&two, 2);
    router.AddAction(&three, 3);
    router.AddAction(&none, 4);
    router.UpdateActions();
    EXPECT_FALSE(one.isEnabled());  // the view handles it and says no
    EXPECT_TRUE(two.isEnabled());
    EXPECT_TRUE(three.isEnabled());
    EXPECT_FALSE(none.isEnabled());  // nobody handles it

    one.trigger();  // disabled: nothing runs
    two.trigger();
    three.trigger();
    EXPECT_EQ(journal, (std::vector<std::string>{"frame:2", "app:3"}));

    // Another view in front: the frame's handler is reached for command 1.
    active = nullptr;
    router.UpdateActions();
    EXPECT_TRUE(one.isEnabled());
    EXPECT_TRUE(router.Execute(1));
    EXPECT_EQ(journal.back(), "frame:1");
    EXPECT_FALSE(router.Execute(4));
}

}  // namespace
