#include "controls/ReportListCtrl.h"

#include "Screenshot.h"
#include "gui/QtText.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

QIcon SquareIcon(Qt::GlobalColor color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// Two lists set up as a page sets them up: two columns, two icons.
class ReportListCtrlTest : public ::testing::Test {
protected:
    ReportListCtrlTest()
        : icons_{SquareIcon(Qt::darkYellow), SquareIcon(Qt::darkBlue)}
    {
        for (CReportListCtrl* list : {&left_, &right_}) {
            list->InsertColumn(0, "名前", 140);
            list->InsertColumn(1, "説明", 220);
            list->SetImageList(icons_);
        }
    }

    static void Fill(CReportListCtrl& list, const Texts& keys)
    {
        for (const std::string& key : keys)
            list.SetRow(CReportRow{0, key, {key + " column"}, {key + " secret"}, 1}, false);
        list.Rebuild(false);
    }

    static Texts Shown(const CReportListCtrl& list, int column = 0)
    {
        Texts texts;
        for (int i = 0; i < list.topLevelItemCount(); ++i)
            texts.push_back(FromQString(list.topLevelItem(i)->text(column)));
        return texts;
    }

    QList<QIcon> icons_;
    CReportListCtrl left_;
    CReportListCtrl right_;
};

TEST_F(ReportListCtrlTest, ItemIShowsRowIInArrayOrderWithoutSort)
{
    left_.SetRow(CReportRow{0, "c", {"third", "not a column"}, {}, 0}, false);
    left_.SetRow(CReportRow{1, "a", {"first"}, {}, 0}, false);
    left_.Rebuild(false);

    EXPECT_EQ((Texts{"c", "a"}), Shown(left_, 0));
    EXPECT_EQ((Texts{"third", "first"}), Shown(left_, 1));
    EXPECT_EQ(2, left_.columnCount());
}

TEST_F(ReportListCtrlTest, RebuildWithSortSortsTheArrayAndTheView)
{
    Fill(left_, {"B", "a", "A"});
    left_.Rebuild(true);

    EXPECT_EQ((Texts{"A", "B", "a"}), Shown(left_));
    EXPECT_EQ("A", left_.GetRow(0).key);
    EXPECT_EQ((Texts{"A column", "B column", "a column"}), Shown(left_, 1));
}

TEST_F(ReportListCtrlTest, IconFollowsTheRowImage)
{
    const struct {
        int image;
        int icon;  // -1: none
    } cases[] = {{0, 0}, {1, 1}, {2, -1}, {-1, -1}};
    for (const auto& c : cases)
        left_.SetRow(CReportRow{c.image, std::to_string(c.image), {}, {}, 0}, false);
    left_.Rebuild(false);

    for (int i = 0; i < left_.topLevelItemCount(); ++i) {
        const QIcon shown = left_.topLevelItem(i)->icon(0);
        if (cases[i].icon < 0)
            EXPECT_TRUE(shown.isNull()) << "image " << cases[i].image;
        else
            EXPECT_EQ(icons_[cases[i].icon].cacheKey(), shown.cacheKey()) << "image " << cases[i].image;
    }
}

TEST_F(ReportListCtrlTest, SetRowAndInPlaceChangesWaitForRebuild)
{
    Fill(left_, {"a"});
    left_.SetRow(CReportRow{0, "a", {"replaced"}, {}, 0}, true);
    left_.SetRow(CReportRow{0, "b", {}, {}, 0}, true);
    left_.GetRow(1).key = "c";
    EXPECT_EQ(Texts{"a column"}, Shown(left_, 1));
    EXPECT_EQ(1, left_.FindByKey("c"));

    left_.Rebuild(false);
    EXPECT_EQ((Texts{"a", "c"}), Shown(left_));
    EXPECT_EQ("replaced", FromQString(left_.topLevelItem(0)->text(1)));
}

TEST_F(ReportListCtrlTest, SelectionIsReadFromTheItems)
{
    Fill(left_, {"a", "b", "c"});
    EXPECT_EQ(-1, left_.GetFirstSelected());
    left_.SelectRow(3);  // no such item
    left_.SelectRow(2);
    left_.SelectRow(1);

    EXPECT_EQ(1, left_.GetFirstSelected());
    const bool expected[] = {false, false, true, true, false};  // items -1 .. 3
    for (int i = -1; i <= 3; ++i)
        EXPECT_EQ(expected[i + 1], left_.IsSelected(i)) << "item " << i;

    left_.Rebuild(false);
    EXPECT_EQ(-1, left_.GetFirstSelected());
}


TEST_F(ReportListCtrlTest, DeleteSelectedRemovesEverySelectedRowAndShowsTheRestSorted)
{
    Fill(left_, {"d", "c", "b", "a"});
    left_.SelectRow(0);
    left_.SelectRow(2);
    left_.DeleteSelected();

    EXPECT_EQ((Texts{"a", "c"}), Shown(left_));
    EXPECT_EQ(2, left_.GetRowCount());
    EXPECT_EQ(-1, left_.GetFirstSelected());
}


TEST_F(ReportListCtrlTest, MoveFromWithRemoveCarriesHiddenValuesAcross)
{
    left_.SetRow(CReportRow{1, "carol", {"c"}, {"pw-c"}, 3}, false);
    left_.SetRow(CReportRow{0, "bob", {"b"}, {"pw-b"}, 2}, false);
    left_.SetRow(CReportRow{1, "alice", {"a"}, {"pw-a"}, 1}, false);
    left_.Rebuild(false);
    Fill(right_, {"zed"});
    left_.SelectRow(0);
    left_.SelectRow(2);

    right_.MoveFrom(left_, true, false);

    EXPECT_EQ((Texts{"alice", "carol", "zed"}), Shown(right_));
    EXPECT_EQ(Texts{"pw-a"}, right_.GetRow(0).hidden);
    EXPECT_EQ(1, right_.GetRow(0).number);
    EXPECT_EQ(Texts{"pw-c"}, right_.GetRow(1).hidden);
    EXPECT_EQ(3, right_.GetRow(1).number);
    EXPECT_EQ(Texts{"bob"}, Shown(left_));
}



TEST_F(ReportListCtrlTest, MoveFromWithNothingSelectedMovesNoRowButRedrawsSorted)
{
    Fill(left_, {"y", "x"});
    Fill(right_, {"b", "a"});
    right_.MoveFrom(left_, true, false);

    EXPECT_EQ((Texts{"a", "b"}), Shown(right_));
    // The source still ran DeleteSelected, which shows it sorted too.
    EXPECT_EQ((Texts{"x", "y"}), Shown(left_));
}

TEST_F(ReportListCtrlTest, InsertColumnPlacesTitleAndWidth)
{
    const struct {
        int index;
        Texts titles;
        int inserted;
    } cases[] = {{1, {"名前", "メモ", "説明"}, 1},
                 {-1, {"メモ", "名前", "説明"}, 0},
                 {2, {"名前", "説明", "メモ"}, 2},
                 {3, {"名前", "説明", "メモ"}, 2}};
    for (const auto& c : cases) {
        CReportListCtrl list;
        list.InsertColumn(0, "名前", 140);
        list.InsertColumn(1, "説明", 220);
        list.InsertColumn(c.index, "メモ", 90);

        Texts titles;
        for (int i = 0; i < list.columnCount(); ++i)
            titles.push_back(FromQString(list.headerItem()->text(i)));
        EXPECT_EQ(c.titles, titles) << "index " << c.index;
        EXPECT_EQ(90, list.columnWidth(c.inserted)) << "index " << c.index;
        EXPECT_EQ(140, list.columnWidth(c.inserted == 0 ? 1 : 0)) << "index " << c.index;
    }
}

TEST_F(ReportListCtrlTest, ShowsJapaneseRowsWithIcons)
{
    left_.SetRow(CReportRow{1, "管理者", {"すべてのフォルダに書き込めます"}, {"secret"}, 0}, false);
    left_.SetRow(CReportRow{0, "guest", {"読み取りのみ"}, {}, 0}, false);
    left_.SetRow(CReportRow{0, "ゲスト２", {"表示のみ（CGI 不可）"}, {}, 1}, false);
    left_.Rebuild(true);
    left_.SelectRow(1);
    left_.resize(420, 160);

    EXPECT_EQ(QStringLiteral("管理者"), left_.topLevelItem(2)->text(0));
    EXPECT_EQ(QStringLiteral("表示のみ（CGI 不可）"), left_.topLevelItem(1)->text(1));
    SaveScreenshot(left_, "report-list");
}

}  // namespace
