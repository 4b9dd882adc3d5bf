#include "gui/DataExchange.h"

#include "gui/QtText.h"
#include "gui/UserPrompts.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace gui {

const char* const kParseIntText = "Please enter an integer.";
const char* const kParseUIntText = "Please enter a positive integer.";
const char* const kParseIntRangeText = "Please enter an integer between %1 and %2.";
const char* const kStringSizeText = "Please enter no more than %1 characters.";
const char* const kNotCp932Text =
    "「%1」に、設定に保存できない文字 (Shift-JIS にない文字) があります。\r\nその文字を別の文字に置き換えてください。";

namespace {

// Thrown by Fail, caught by UpdateData: the message has been shown already.
struct ValidationFailed {};

std::string Fill(std::string text, const std::string& first, const std::string& second = "")
{
    const auto put = [&text](const char* mark, const std::string& value) {
        const std::string::size_type at = text.find(mark);
        if (at != std::string::npos)
            text.replace(at, 2, value);
    };
    put("%1", first);
    put("%2", second);
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whole-field decimal: optional blanks, an optional sign (only '-' when `allowMinus`),
// digits, optional blanks; false on anything else or overflow of long long.
bool ParseDecimal(const std::string& text, bool allowMinus, long long* value)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    size_t end = text.size();
    while (end > i && IsBlank(text[end - 1]))
        --end;
    std::string digits = text.substr(i, end - i);
    if (digits.empty() || (digits[0] == '-' && !allowMinus))
        return false;
    const size_t first = digits[0] == '-' || digits[0] == '+' ? 1 : 0;
    if (first == digits.size())
        return false;
    for (size_t k = first; k < digits.size(); ++k) {
        if (digits[k] < '0' || digits[k] > '9')
            return false;
    }
    errno = 0;
    *value = std::strtoll(digits.c_str(), nullptr, 10);
    return errno != ERANGE;
}

}  // namespace

void CDataExchange::Fail(const std::string& message)
{
    MessageBox(dialog_, message, kMbOk | kMbIconExclamation);
    if (lastField_) {
        lastField_->setFocus();
        lastField_->selectAll();
    }
    throw ValidationFailed();
}

namespace {

// The widget laid out just before `field` in `layout` or a layout within it: in a grid the
// cell to its left, in a row or column the item before it. Null when there is none.
QWidget* WidgetBefore(const QLayout* layout, const QWidget* field)
{
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == field) {
            if (const auto* grid = qobject_cast<const QGridLayout*>(layout)) {
                int row, column, rows, columns;
                grid->getItemPosition(i, &row, &column, &rows, &columns);
                QLayoutItem* left = column > 0 ? grid->itemAtPosition(row, column - 1) : nullptr;
                return left ? left->widget() : nullptr;
            }
            return i > 0 ? layout->itemAt(i - 1)->widget() : nullptr;
        }
        if (QWidget* found = WidgetBefore(item->layout(), field))
            return found;
    }
    return nullptr;
}

// A label as the user reads it: no mnemonic ("ホスト名(&H)" or "&Host"), no trailing colon.
std::string WithoutColon(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QChar(0xFF1A)))  // ':' and its full-width form
        text = text.left(text.size() - 1).trimmed();
    return FromQString(text);
}

}  // namespace

std::string FieldName(const QWidget* field)
{
    for (const QLabel* label : field->window()->findChildren<QLabel*>()) {
        if (label->buddy() == field)
            return WithoutColon(label->text());
    }
    if (const auto* label = qobject_cast<const QLabel*>(WidgetBefore(field->parentWidget()->layout(), field)))
        return WithoutColon(label->text());
    for (const QWidget* up = field->parentWidget(); up; up = up->parentWidget()) {
        if (const auto* box = qobject_cast<const QGroupBox*>(up))
            return WithoutColon(box->title());
        // A titled part of a window, such as a property page.
        if (!up->isWindow() && !up->windowTitle().isEmpty())
            return FromQString(up->windowTitle());
    }
    return WithoutColon(field->window()->windowTitle());
}

bool CheckCp932Fields(QWidget* form)
{
    for (QWidget* field : form->findChildren<QWidget*>()) {
        QString text;
        if (const auto* line = qobject_cast<const QLineEdit*>(field))
            text = line->text();
        else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(field))
            text = plain->toPlainText();
        else
            continue;
        if (FitsCp932(text))
            continue;
        return UpdateData(form, true, [&](CDataExchange& check) {
            if (auto* line = qobject_cast<QLineEdit*>(field))
                check.PrepareField(line);
            else
                field->setFocus();
            check.Fail(Fill(kNotCp932Text, FieldName(field)));
        });
    }
    return true;
}

bool UpdateData(QWidget* dialog, bool saveAndValidate, const std::function<void(CDataExchange&)>& exchange)
{
    CDataExchange dx(dialog, saveAndValidate);
    try {
        exchange(dx);
    } catch (const ValidationFailed&) {
        return false;
    }
    return true;
}

void DDX_Text(CDataExchange& dx, QLineEdit* field, std::string& value)
{
    dx.PrepareField(field);
    if (dx.IsSaving()) {
        if (!FitsCp932(field->text()))
            dx.Fail(Fill(kNotCp932Text, FieldName(field)));
        value = FromQString(field->text());
    } else
        field->setText(ToQString(value));
}

namespace {

// A whole-number field of type T: filled as decimal text, read back within T's range,
// failing with `message` on anything else.
template <typename T>
void ExchangeNumber(CDataExchange& dx, QLineEdit* field, T& value, const char* message)
{
    dx.PrepareField(field);
    if (!dx.IsSaving()) {
        field->setText(QString::number(value));
        return;
    }
    long long parsed = 0;
    if (!ParseDecimal(FromQString(field->text()), std::numeric_limits<T>::is_signed, &parsed) ||
        parsed < static_cast<long long>(std::numeric_limits<T>::min()) ||
        parsed > static_cast<long long>(std::numeric_limits<T>::max()))
        dx.Fail(message);
    value = static_cast<T>(parsed);
}

}  // namespace

void DDX_Text(CDataExchange& dx, QLineEdit* field, int& value) { ExchangeNumber(dx, field, value, kParseIntText); }

void DDX_Text(CDataExchange& dx, QLineEdit* field, unsigned& value) { ExchangeNumber(dx, field, value, kParseUIntText); }

void DDX_Check(CDataExchange& dx, QAbstractButton* button, int& value)
{
    if (dx.IsSaving())
        value = button->isChecked() ? 1 : 0;
    else
        button->setChecked(value != 0);
}

void DDV_MinMaxInt(CDataExchange& dx, int value, int minValue, int maxValue)
{
    if (dx.IsSaving() && (value < minValue || value > maxValue))
        dx.Fail(Fill(kParseIntRangeText, std::to_string(minValue), std::to_string(maxValue)));
}

void DDV_MinMaxUInt(CDataExchange& dx, unsigned value, unsigned minValue, unsigned maxValue)
{
    if (dx.IsSaving() && (value < minValue || value > maxValue))
        dx.Fail(Fill(kParseIntRangeText, std::to_string(minValue), std::to_string(maxValue)));
}

void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars)
{
    if (dx.IsSaving() && static_cast<long long>(value.size()) > maxChars)
        dx.Fail(Fill(kStringSizeText, std::to_string(maxChars)));
}

}  // namespace gui
