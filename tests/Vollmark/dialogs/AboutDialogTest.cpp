// The about box as a person sees it.

#include "dialogs/AboutDialog.h"

#include "controls/ClickedStatic.h"
#include "gui/QtText.h"
#include "Screenshot.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(AboutDialogTest, ShowsNameVersionHistoryAndClickablePictures)
{
    CAboutDialog dialog;
    SaveScreenshot(dialog, "about-dialog");
    EXPECT_EQ(FromQString(dialog.windowTitle()), "バージョン情報 Vollmark");
    EXPECT_EQ(FromQString(dialog.GetVersionLabel()->text()), "Vollmark Version 1.07");
    EXPECT_TRUE(dialog.GetVersionLabel()->font().bold());
    EXPECT_TRUE(dialog.GetHistory()->isReadOnly());
    EXPECT_TRUE(dialog.GetHistory()->toPlainText().startsWith(QStringLiteral("Vollmark")));
    QSignalSpy clicks(&dialog, &CAboutDialog::pictureClicked);
    for (int i = 0; i < 2; ++i) {
        CClickedStatic* picture = dialog.GetPicture(i);
        EXPECT_FALSE(picture->pixmap().isNull());
        EXPECT_EQ(picture->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(picture, Qt::LeftButton);
    }
    EXPECT_EQ(clicks.count(), 2);
}

}  // namespace
