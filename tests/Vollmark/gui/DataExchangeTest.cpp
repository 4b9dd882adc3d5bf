// Data exchange with the framework's validation: the message a bad field gets, the focus
// it gets back, and the values that pass.

#include "gui/DataExchange.h"

#include "gui/PropertySheet.h"
#include "gui/QtText.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

class DataExchangeTest : public testing::Test {
protected:
    DataExchangeTest() : number_(new QLineEdit(&dialog_)), name_(new QLineEdit(&dialog_)), flag_(new QCheckBox(&dialog_))
    {
        auto* layout = new QVBoxLayout(&dialog_);
        layout->addWidget(name_);
        layout->addWidget(number_);
        layout->addWidget(flag_);
        dialog_.show();
        dialog_.activateWindow();
    }

    // A time-out field as the settings pages have it: unsigned, 5 to 65535.
    bool Exchange(bool save)
    {
        return gui::UpdateData(&dialog_, save, [this](gui::CDataExchange& dx) {
            gui::DDX_Text(dx, name_, text_);
            gui::DDV_MaxChars(dx, text_, 8);
            gui::DDX_Text(dx, number_, value_);
            gui::DDV_MinMaxUInt(dx, value_, 5, 65535);
            gui::DDX_Check(dx, flag_, checked_);
        });
    }

    QDialog dialog_;
    QLineEdit* number_;
    QLineEdit* name_;
    QCheckBox* flag_;
    std::string text_ = "名前";
    unsigned value_ = 30;
    int checked_ = 1;
};

TEST_F(DataExchangeTest, FieldsFillAndReadBack)
{
    ASSERT_TRUE(Exchange(false));
    EXPECT_EQ(number_->text(), QStringLiteral("30"));
    EXPECT_EQ(FromQString(name_->text()), "名前");
    EXPECT_TRUE(flag_->isChecked());
    number_->setText(QStringLiteral(" 65535 "));
    flag_->setChecked(false);
    ScriptedPrompts prompts;
    ASSERT_TRUE(Exchange(true));
    EXPECT_EQ(value_, 65535u);
    EXPECT_EQ(checked_, 0);
    EXPECT_TRUE(prompts.MessageBoxes().empty());
}

TEST_F(DataExchangeTest, BadUnsignedFieldsGetTheFrameworkMessageAndTheFocus)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"abc", "Please enter a positive integer."},
        {"-1", "Please enter a positive integer."},
        {"", "Please enter a positive integer."},
        {"1 2", "Please enter a positive integer."},
        {"99999999999", "Please enter a positive integer."},
        {"4", "Please enter an integer between 5 and 65535."},
        {"65536", "Please enter an integer between 5 and 65535."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedPrompts prompts;
        prompts.QueueMessageBoxAnswer(gui::kIdOk);
        name_->setFocus();
        number_->setText(QString::fromUtf8(c.text));
        EXPECT_FALSE(Exchange(true));
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
        EXPECT_EQ(prompts.MessageBoxes()[0].text, c.message);
        EXPECT_EQ(prompts.MessageBoxes()[0].type, unsigned(gui::kMbOk | gui::kMbIconExclamation));
        EXPECT_EQ(dialog_.focusWidget(), number_);
    }
}

TEST_F(DataExchangeTest, TooLongTextStopsBeforeTheNextField)
{
    ScriptedPrompts prompts;
    prompts.QueueMessageBoxAnswer(gui::kIdOk);
    name_->setText(QStringLiteral("123456789"));
    number_->setText(QStringLiteral("7"));
    EXPECT_FALSE(Exchange(true));
    ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts.MessageBoxes()[0].text, "Please enter no more than 8 characters.");
    EXPECT_EQ(value_, 30u);
}

TEST_F(DataExchangeTest, SignedFieldsAcceptASign)
{
    int value = 0;
    ScriptedPrompts prompts;
    prompts.QueueMessageBoxAnswer(gui::kIdOk);
    number_->setText(QStringLiteral("-12"));
    EXPECT_TRUE(gui::UpdateData(&dialog_, true, [&](gui::CDataExchange& dx) { gui::DDX_Text(dx, number_, value); }));
    EXPECT_EQ(value, -12);
    number_->setText(QStringLiteral("x"));
    EXPECT_FALSE(gui::UpdateData(&dialog_, true, [&](gui::CDataExchange& dx) {
        gui::DDX_Text(dx, number_, value);
        gui::DDV_MinMaxInt(dx, value, -20, 20);
    }));
    ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts.MessageBoxes()[0].text, "Please enter an integer.");
}

// "€" is not in Shift-JIS; "～" (U+FF5E) and "①" are, in Windows' form of it.
TEST_F(DataExchangeTest, TextShiftJisCannotHoldIsRefusedNamingTheField)
{
    const struct {
        const char* description;
        QString text;
        bool stored;
    } cases[] = {
        {"euro sign", QStringLiteral(u"価格€"), false},
        {"lone surrogate", QString(QChar(0xD800)), false},
        {"emoji", QStringLiteral(u"\U0001F600"), false},
        {"full-width tilde and circled digit", QStringLiteral(u"～①"), true},
    };
    // The fixture's field has no label: the window's title names it.
    dialog_.setWindowTitle(ToQString("名前"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        text_ = "前";
        ScriptedPrompts prompts;
        if (!c.stored)
            prompts.QueueMessageBoxAnswer(gui::kIdOk);
        number_->setFocus();
        name_->setText(c.text);
        EXPECT_EQ(gui::UpdateData(&dialog_, true, [&](gui::CDataExchange& dx) { gui::DDX_Text(dx, name_, text_); }),
                  c.stored);
        EXPECT_EQ(text_, c.stored ? FromQString(c.text) : "前");
        if (c.stored)
            continue;
        ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
        EXPECT_EQ(prompts.MessageBoxes()[0].text, "「名前」に、設定に保存できない文字 (Shift-JIS にない文字) があります。\r\n"
                                                  "その文字を別の文字に置き換えてください。");
        EXPECT_EQ(prompts.MessageBoxes()[0].type, unsigned(gui::kMbOk | gui::kMbIconExclamation));
        EXPECT_EQ(dialog_.focusWidget(), name_);
    }
}

TEST_F(DataExchangeTest, FieldOnAPropertyPageIsNamedByThePageBeforeTheSheet)
{
    gui::CPropertySheet sheet("SSI/CGIの設定");
    auto* page = new gui::CPropertyPage("環境変数");
    auto* field = new QLineEdit(page);
    (new QVBoxLayout(page))->addWidget(field);
    sheet.AddPage(page);
    EXPECT_EQ(gui::FieldName(field), "環境変数");
}

TEST_F(DataExchangeTest, FieldIsNamedByItsLabelItsGroupOrItsWindow)
{
    QDialog dialog;
    dialog.setWindowTitle(ToQString("MIMEタイプの設定"));
    auto* grid = new QGridLayout;
    auto* inGrid = new QLineEdit(&dialog);
    grid->addWidget(new QLabel(ToQString("説明 :"), &dialog), 0, 0);
    grid->addWidget(inGrid, 0, 1);
    auto* buddy = new QLineEdit(&dialog);
    auto* buddyLabel = new QLabel(ToQString("ホスト名(&H)："), &dialog);
    buddyLabel->setBuddy(buddy);
    auto* group = new QGroupBox(ToQString("アドレスのテスト"), &dialog);
    auto* inGroup = new QLineEdit(group);
    (new QVBoxLayout(group))->addWidget(inGroup);
    auto* alone = new QPlainTextEdit(&dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(grid);
    layout->addWidget(buddy);
    layout->addWidget(buddyLabel);
    layout->addWidget(group);
    layout->addWidget(alone);
    EXPECT_EQ(gui::FieldName(inGrid), "説明");
    EXPECT_EQ(gui::FieldName(buddy), "ホスト名");
    EXPECT_EQ(gui::FieldName(inGroup), "アドレスのテスト");
    EXPECT_EQ(gui::FieldName(alone), "MIMEタイプの設定");

    // Every text field is looked at, the plain-text editor too.
    EXPECT_TRUE(gui::CheckCp932Fields(&dialog));
    alone->setPlainText(QStringLiteral(u"text/x-€ eur"));
    ScriptedPrompts prompts;
    prompts.QueueMessageBoxAnswer(gui::kIdOk);
    EXPECT_FALSE(gui::CheckCp932Fields(&dialog));
    ASSERT_EQ(prompts.MessageBoxes().size(), 1u);
    EXPECT_EQ(prompts.MessageBoxes()[0].text.rfind("「MIMEタイプの設定」に、", 0), 0u);
}

}  // namespace
