// Data exchange with the framework's validation: the message a bad field gets, the focus
// it gets back, and the values that pass.

#include "gui/DataExchange.h"

#include "gui/QtText.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
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

}  // namespace
