#pragma once
// Moving values between a dialog's fields and its data, with the platform framework's own
// validation: a field that does not hold what its value needs shows the framework's English
// message with the exclamation icon, gets the focus back (its text selected), and the
// exchange stops there. A dialog writes one DoDataExchange that serves both directions.

#include <functional>
#include <string>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace gui {

class CDataExchange {
public:
    CDataExchange(QWidget* dialog, bool saveAndValidate) : dialog_(dialog), saveAndValidate_(saveAndValidate) {}

    // True when reading the fields into the data (and validating), false when filling them.
    bool IsSaving() const { return saveAndValidate_; }
    QWidget* GetDialog() const { return dialog_; }

    // The field that a range check after it reports on (the last one exchanged).
    void PrepareField(QLineEdit* field) { lastField_ = field; }
    // Shows `message` over the dialog, puts the focus back on the last field and stops the
    // exchange (UpdateData returns false).
    [[noreturn]] void Fail(const std::string& message);

private:
    QWidget* dialog_;
    bool saveAndValidate_;
    QLineEdit* lastField_ = nullptr;
};

// Runs `exchange` in one direction; false when a field failed its validation.
bool UpdateData(QWidget* dialog, bool saveAndValidate, const std::function<void(CDataExchange&)>& exchange);

// The framework's messages; %1 and %2 are filled with the bounds.
extern const char* const kParseIntText;       // "Please enter an integer."
extern const char* const kParseUIntText;      // "Please enter a positive integer."
extern const char* const kParseIntRangeText;  // "Please enter an integer between %1 and %2."
extern const char* const kStringSizeText;     // "Please enter no more than %1 characters."
// Ours: the settings keep Shift-JIS text, so a character it lacks would be saved as '?'.
// %1 is the field's label.
extern const char* const kNotCp932Text;

// The name the user knows a field by: the label beside it (or whose buddy it is), else the
// title of the group box or the titled part of a window (a property page) around it, else
// the window's title; without a trailing ':'.
std::string FieldName(const QWidget* field);

// Whether every text field of `form` (line and plain-text edits, shown or not) holds only
// characters the settings can keep. The first that does not gets kNotCp932Text over `form`
// and the focus, with its text selected; then false.
bool CheckCp932Fields(QWidget* form);

// Saving fails with kNotCp932Text on a character the settings cannot keep.
void DDX_Text(CDataExchange& dx, QLineEdit* field, std::string& value);
// Leading and trailing blanks are allowed around the digits.
void DDX_Text(CDataExchange& dx, QLineEdit* field, int& value);
void DDX_Text(CDataExchange& dx, QLineEdit* field, unsigned& value);
// 1 for checked, 0 for not.
void DDX_Check(CDataExchange& dx, QAbstractButton* button, int& value);

// Range and size checks of the value just exchanged; only when saving.
void DDV_MinMaxInt(CDataExchange& dx, int value, int minValue, int maxValue);
void DDV_MinMaxUInt(CDataExchange& dx, unsigned value, unsigned minValue, unsigned maxValue);
void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars);

}  // namespace gui
