#include "gui/DataExchange.h"

#include "gui/QtText.h"
#include "gui/UserPrompts.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace gui {

const char* const kParseIntText = "Please enter an integer.";
const char* const kParseUIntText = "Please enter a positive integer.";
const char* const kParseIntRangeText = "Please enter an integer between %1 and %2.";
const char* const kStringSizeText = "Please enter no more than %1 characters.";

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
    if (dx.IsSaving())
        value = FromQString(field->text());
    else
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
