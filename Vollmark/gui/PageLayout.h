#pragma once
// How the property pages build their controls, so that every page shows the one typeface,
// passes its texts through gui/QtText.h and names its controls the same way for tests.
// Every widget is created with the given parent, which owns it.

// Complete types, since callers put what these return into layouts.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include <initializer_list>
#include <string>

class QGridLayout;
class QVBoxLayout;

namespace pages {

// The pixel height the pages were laid out for.
constexpr int kPageFontPx = 12;

template <class Widget>
Widget* Named(Widget* widget, const std::string& name)
{
    widget->setObjectName(QString::fromLatin1(name.c_str()));
    return widget;
}

QLabel* NewLabel(const std::string& text, QWidget* parent);
QLineEdit* NewEdit(const std::string& name, QWidget* parent);
QCheckBox* NewCheck(const std::string& text, const std::string& name, QWidget* parent);
QPushButton* NewButton(const std::string& text, const std::string& name, QWidget* parent);
// A title above the widget, which takes the height left.
QVBoxLayout* Titled(const std::string& title, QWidget* widget);

// Buttons stacked in the middle of the height, as beside or between lists.
QVBoxLayout* ButtonColumn(std::initializer_list<QWidget*> buttons);

// A form whose rows are a label, its field stretched over the free width, and optionally
// a button beside the field.
QGridLayout* NewFieldGrid();
// Row `row` of such a form; the label is made in the field's parent, `button` may be null.
void AddFieldRow(QGridLayout& grid, int row, const std::string& label, QWidget* field, QWidget* button = nullptr);
// Row `row` holding only a button, under the buttons of the rows above.
void AddButtonRow(QGridLayout& grid, int row, QWidget* button);
// Row `row` taken whole by one widget.
void AddSpanningRow(QGridLayout& grid, int row, QWidget* widget);

std::string Text(const QLineEdit* edit);
// Shows the text from its beginning.
void SetText(QLineEdit* edit, const std::string& text);

}  // namespace pages
