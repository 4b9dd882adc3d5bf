// Dialogs open inside their screen's available area: the fitting itself, and the real
// dialogs of the program over windows near the screen's edges.

#include "gui/DialogPlacement.h"

#include "app/ControllerApp.h"
#include "dialogs/KeyGenDialog.h"
#include "gui/PropertySheet.h"
#include "gui/UserPrompts.h"
#include "pages/ServerPages.h"
#include "ModalDriver.h"
#include "Screenshot.h"
#include "ServerSandbox.h"
#include "SheetDriver.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DialogPlacementTest, FitIntoAreaMovesThenShrinksTheFramedWindowInside)
{
    const QRect screen(0, 0, 1280, 900);
    const QMargins titleBar(5, 24, 5, 5);
    const struct {
        const char* description;
        QRect client;
        QMargins frame;
        QRect area;
        QSize minimum;
        QRect fitted;
    } cases[] = {
        {"inside stays", {100, 100, 400, 300}, titleBar, screen, {0, 0}, {100, 100, 400, 300}},
        {"touching every edge stays", {5, 24, 1270, 871}, titleBar, screen, {0, 0}, {5, 24, 1270, 871}},
        {"title bar above the top edge", {87, 0, 616, 616}, titleBar, screen, {593, 616}, {87, 24, 616, 616}},
        {"one pixel above", {87, 23, 616, 616}, titleBar, screen, {0, 0}, {87, 24, 616, 616}},
        {"below the bottom", {87, 400, 616, 616}, titleBar, screen, {0, 0}, {87, 279, 616, 616}},
        {"off the left", {-50, 100, 300, 200}, titleBar, screen, {0, 0}, {5, 100, 300, 200}},
        {"off the right", {1100, 100, 300, 200}, titleBar, screen, {0, 0}, {975, 100, 300, 200}},
        {"taller than the area, shrinks to it", {0, 0, 300, 1000}, titleBar, screen, {100, 100}, {5, 24, 300, 871}},
        {"taller even at its least: top-left inside", {0, -40, 300, 1000}, titleBar, screen, {100, 950},
         {5, 24, 300, 950}},
        {"wider than the area, shrinks to it", {-10, 10, 2000, 100}, titleBar, screen, {100, 100},
         {5, 24, 1270, 100}},
        {"no frame", {0, -10, 100, 100}, QMargins(), screen, {0, 0}, {0, 0, 100, 100}},
        {"an area below a top panel on a second screen", {1300, 0, 200, 100}, titleBar, {1280, 30, 1024, 738},
         {0, 0}, {1300, 54, 200, 100}},
        {"the area left by a bottom panel", {100, 700, 300, 200}, titleBar, {0, 0, 1280, 874}, {0, 0},
         {100, 669, 300, 200}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gui::FitIntoArea(c.client, c.frame, c.area, c.minimum), c.fitted) << c.description;
}

class DialogPlacementOnScreenTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.InitInstance()); }
    void TearDown() override { app_.ExitInstance(); }

    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    ServerSandbox sandbox_;
    CControllerApp app_{ServerSandbox::ServerProgram()};
    gui::CDialogPlacement placement_;
};

// The key dialog is 616 pixels tall: over a sheet at either edge of the screen it still
// opens whole, frame and all.
TEST_F(DialogPlacementOnScreenTest, KeyDialogOpensInsideOverASheetAtEitherEdge)
{
    const struct {
        const char* edge;
        bool top;
    } cases[] = {{"top", true}, {"bottom", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.edge);
        SheetDriver sheet("サーバ基本設定");
        sheet.Sheet().AddPage(new CServerPage4(app_.GetSettings()));
        sheet.Show(0);
        QApplication::processEvents();
        const QRect frame = sheet.Sheet().frameGeometry();
        sheet.Sheet().move(Area().left(), c.top ? Area().top() : Area().bottom() + 1 - frame.height());
        QRect opened;
        QSize size;
        WhenModalOpens<CKeyGenDialog>([&](CKeyGenDialog& dialog) {
            opened = dialog.frameGeometry();
            size = dialog.size();
            SaveScreenPicture(std::string("dialog-placement-key-dialog-") + c.edge);
        });
        sheet.Click("makeKey");
        EXPECT_GE(size.height(), 600);
        EXPECT_TRUE(Area().contains(opened)) << "frame " << opened.x() << "," << opened.y() << " "
                                              << opened.width() << "x" << opened.height();
    }
}

// Not one dialog's doing: any dialog, placed anywhere by its code, opens inside.
TEST_F(DialogPlacementOnScreenTest, EveryDialogOpensInsideWhereverItWasPlaced)
{
    const QRect area = Area();
    const QPoint places[] = {{-200, -300}, {area.right() - 50, area.bottom() - 50}};
    for (const QPoint& place : places) {
        SCOPED_TRACE(std::to_string(place.x()) + "," + std::to_string(place.y()));
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vollmark"), QStringLiteral("message"), QMessageBox::Ok);
        box.move(place);
        QRect opened;
        WhenModalOpens<QMessageBox>([&](QMessageBox& shown) { opened = shown.frameGeometry(); });
        box.exec();
        EXPECT_TRUE(area.contains(opened)) << "frame " << opened.x() << "," << opened.y();
    }
}

}  // namespace
