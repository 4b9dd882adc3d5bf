#include "Screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include <gtest/gtest.h>

void SaveScreenshot(QWidget& widget, const std::string& name)
{
    widget.show();
    QApplication::processEvents();
    const QString folder = QString::fromUtf8(SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name.c_str()) + QStringLiteral(".png");
    EXPECT_TRUE(widget.grab().save(path)) << "cannot write " << path.toStdString();
}
