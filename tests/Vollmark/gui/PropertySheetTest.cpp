// Property sheets: pages load when first shown, may refuse to be left on a tab change and
// on OK, and only pages that were shown store or hear of a cancel.

#include "gui/PropertySheet.h"

#include "Screenshot.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A page that writes what happens to it into a shared journal.
class JournalPage : public gui::CPropertyPage {
public:
    JournalPage(const std::string& title, std::vector<std::string>& journal)
        : CPropertyPage(title), journal_(journal)
    {
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(QString::fromUtf8(title.c_str()), this));
    }
    void OnInitDialog() override { Note("init"); }
    void OnSetActive() override { Note("active"); }
    bool OnKillActive() override
    {
        Note("kill");
        return letGo;
    }
    void OnOK() override { Note("ok"); }
    void OnCancel() override { Note("cancel"); }

    bool letGo = true;

private:
    void Note(const char* what) { journal_.push_back(GetTitle() + ":" + what); }
    std::vector<std::string>& journal_;
};

class PropertySheetTest : public testing::Test {
protected:
    PropertySheetTest() : sheet_("Sheet")
    {
        for (const char* title : {"A", "B", "C"}) {
            pages_.push_back(new JournalPage(title, journal_));
            sheet_.AddPage(pages_.back());
        }
    }

    QTabWidget* Tabs() { return sheet_.findChild<QTabWidget*>(); }

    std::vector<std::string> journal_;
    gui::CPropertySheet sheet_;
    std::vector<JournalPage*> pages_;
};

TEST_F(PropertySheetTest, OnlyShownPagesInitialiseAndStore)
{
    SaveScreenshot(sheet_, "property-sheet");
    EXPECT_EQ(journal_, (std::vector<std::string>{"A:init", "A:active"}));
    Tabs()->setCurrentIndex(2);
    EXPECT_EQ(sheet_.GetActiveIndex(), 2);
    EXPECT_FALSE(pages_[1]->IsInitialized());
    journal_.clear();
    EXPECT_TRUE(sheet_.PressOk());
    EXPECT_EQ(journal_, (std::vector<std::string>{"C:kill", "A:ok", "C:ok"}));
    EXPECT_EQ(sheet_.result(), QDialog::Accepted);
}

TEST_F(PropertySheetTest, APageThatRefusesKeepsTheFrontOnTabChangeAndOk)
{
    sheet_.show();
    pages_[0]->letGo = false;
    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Tabs()->currentIndex(), 0);
    EXPECT_EQ(sheet_.GetActiveIndex(), 0);
    EXPECT_FALSE(pages_[1]->IsInitialized());
    EXPECT_FALSE(sheet_.PressOk());
    EXPECT_TRUE(sheet_.isVisible());
    EXPECT_EQ(std::count(journal_.begin(), journal_.end(), "A:ok"), 0);

    pages_[0]->letGo = true;
    EXPECT_TRUE(sheet_.SetActivePage(1));
    EXPECT_TRUE(pages_[1]->IsInitialized());
}

TEST_F(PropertySheetTest, CancelReachesInitialisedPagesOnly)
{
    sheet_.show();
    journal_.clear();
    sheet_.PressCancel();
    EXPECT_EQ(journal_, (std::vector<std::string>{"A:cancel"}));
    EXPECT_EQ(sheet_.result(), QDialog::Rejected);
}

TEST_F(PropertySheetTest, AChosenStartPageIsTheFirstShown)
{
    sheet_.SetActivePage(1);
    sheet_.show();
    EXPECT_EQ(journal_, (std::vector<std::string>{"B:init", "B:active"}));
    EXPECT_FALSE(pages_[0]->IsInitialized());
}

}  // namespace
