#include "Screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

void Save(const QPixmap& picture, const std::string& name)
{
    const QString folder = QString::fromUtf8(SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name.c_str()) + QStringLiteral(".png");
    EXPECT_TRUE(picture.save(path)) << "cannot write " << path.toStdString();
}

}  // namespace

void SaveScreenshot(QWidget& widget, const std::string& name)
{
    widget.show();
    QApplication::processEvents();
    Save(widget.grab(), name);
}

void SaveScreenPicture(const std::string& name)
{
    QApplication::processEvents();
    Save(QGuiApplication::primaryScreen()->grabWindow(0), name);
}
