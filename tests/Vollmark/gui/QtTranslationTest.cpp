// Qt's own button texts: Japanese from the translation Qt ships, English without it.

#include "gui/QtTranslation.h"

#include "gui/QtText.h"
#include "Screenshot.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>

#include <gtest/gtest.h>

namespace {

class QtTranslationTest : public testing::Test {
protected:
    // Back to Qt's English for the suites that follow.
    void TearDown() override
    {
        for (QTranslator* translator : qApp->findChildren<QTranslator*>(Qt::FindDirectChildrenOnly)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
};

TEST_F(QtTranslationTest, StandardButtonsReadJapaneseWhereQtsTranslationIsInstalled)
{
    const struct {
        const char* description;
        QString folder;
        bool installed;
        const char* yes;
        const char* no;
        const char* cancel;
    } cases[] = {
        {"missing folder", QStringLiteral("/nonexistent"), false, "&Yes", "&No", "Cancel"},
        {"Qt's folder", QLibraryInfo::path(QLibraryInfo::TranslationsPath), true, "はい(&Y)", "いいえ(&N)", "キャンセル"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(InstallQtTranslation(*qApp, c.folder), c.installed) << c.description;
        QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
        EXPECT_EQ(FromQString(box.button(QDialogButtonBox::Yes)->text()), c.yes) << c.description;
        EXPECT_EQ(FromQString(box.button(QDialogButtonBox::No)->text()), c.no) << c.description;
        EXPECT_EQ(FromQString(box.button(QDialogButtonBox::Cancel)->text()), c.cancel) << c.description;
        if (c.installed)
            SaveScreenshot(box, "qt-translation-buttons");
    }
}

}  // namespace
