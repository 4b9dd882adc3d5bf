// Every picture the windows name by number is there and shows something at the sizes drawn.

#include "gui/Resources.h"

#include "Screenshot.h"

#include <QImage>
#include <QLabel>
#include <QPainter>

#include <gtest/gtest.h>

#include <vector>

namespace {

const std::vector<ToolbarPicture> kToolbar = {ToolbarPicture::Restart, ToolbarPicture::Copy, ToolbarPicture::About};

// Shows something: some pixel covered, and more than one colour among the covered ones (a
// picture that renders as one flat block has lost its drawing).
bool IsVisible(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QRgb first = 0;
    bool covered = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            if (covered && pixel != first)
                return true;
            first = pixel;
            covered = true;
        }
    return false;
}

std::vector<QIcon> AllIcons()
{
    std::vector<QIcon> icons;
    for (int id : IconResourceIds())
        icons.push_back(LoadIconResource(id));
    for (ToolbarPicture picture : kToolbar)
        icons.push_back(LoadToolbarIcon(picture));
    return icons;
}

TEST(ResourcesTest, EveryIconRendersVisiblyAt16And32)
{
    ASSERT_FALSE(IconResourceIds().empty());
    for (int id : IconResourceIds())
        for (int px : {16, 32})
            EXPECT_TRUE(IsVisible(LoadIconResource(id).pixmap(px, px))) << "icon " << id << " at " << px;
    for (ToolbarPicture picture : kToolbar)
        for (int px : {16, 32})
            EXPECT_TRUE(IsVisible(LoadToolbarIcon(picture).pixmap(px, px))) << "toolbar picture at " << px;
}

TEST(ResourcesTest, SectionStripBitmapRendersAtExactSize)
{
    const QPixmap strip = LoadBitmapResource(kBitmapSectionStrip, QSize(150, 80));
    EXPECT_EQ(strip.size(), QSize(150, 80));
    EXPECT_TRUE(IsVisible(strip));
    EXPECT_TRUE(LoadBitmapResource(kBitmapSectionStrip, QSize()).isNull());
}

TEST(ResourcesTest, TrayIconsDifferAt16)
{
    EXPECT_NE(LoadIconResource(kIconTrayIdle).pixmap(16, 16).toImage(),
              LoadIconResource(kIconTrayActive).pixmap(16, 16).toImage());
}

TEST(ResourcesTest, UnknownNumbersGiveNullPictures)
{
    for (int id : {-1, 0, 129, kBitmapSectionStrip, 135, 201})
        EXPECT_TRUE(LoadIconResource(id).isNull()) << id;
    EXPECT_TRUE(LoadBitmapResource(kIconTrayIdle, QSize(16, 16)).isNull());
}

TEST(ResourcesTest, SavesContactSheet)
{
    // Twelve to a row keeps the sheet narrower than the offscreen screen, which would crop it.
    constexpr int kPerRow = 12;
    const std::vector<QIcon> icons = AllIcons();
    const int rows = (static_cast<int>(icons.size()) + kPerRow - 1) / kPerRow;
    QPixmap sheet(kPerRow * 40 + 8, rows * 60 + 96);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int i = 0; i < static_cast<int>(icons.size()); ++i) {
        const int x = 8 + (i % kPerRow) * 40;
        const int y = 8 + (i / kPerRow) * 60;
        painter.drawPixmap(x + 8, y, icons[i].pixmap(16, 16));
        painter.drawPixmap(x, y + 20, icons[i].pixmap(32, 32));
    }
    painter.drawPixmap(8, rows * 60 + 8, LoadBitmapResource(kBitmapSectionStrip, QSize(150, 80)));
    painter.end();
    QLabel label;
    label.setPixmap(sheet);
    SaveScreenshot(label, "resources-contact-sheet");
}

}  // namespace
