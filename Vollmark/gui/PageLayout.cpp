#include "gui/PageLayout.h"

#include "gui/QtText.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pages {

namespace {

constexpr int kLabelColumn = 0;
constexpr int kFieldColumn = 1;
constexpr int kButtonColumn = 2;
// Qt's span that reaches the grid's last column.
constexpr int kToLastColumn = -1;

}  // namespace

QLabel* NewLabel(const std::string& text, QWidget* parent) { return new QLabel(ToQString(text), parent); }

QLineEdit* NewEdit(const std::string& name, QWidget* parent) { return Named(new QLineEdit(parent), name); }

QCheckBox* NewCheck(const std::string& text, const std::string& name, QWidget* parent)
{
    return Named(new QCheckBox(ToQString(text), parent), name);
}

QPushButton* NewButton(const std::string& text, const std::string& name, QWidget* parent)
{
    return Named(new QPushButton(ToQString(text), parent), name);
}

QVBoxLayout* Titled(const std::string& title, QWidget* widget)
{
    auto* column = new QVBoxLayout;
    column->addWidget(NewLabel(title, widget->parentWidget()));
    column->addWidget(widget, 1);
    return column;
}

QVBoxLayout* ButtonColumn(std::initializer_list<QWidget*> buttons)
{
    auto* column = new QVBoxLayout;
    column->addStretch(1);
    for (QWidget* button : buttons)
        column->addWidget(button);
    column->addStretch(1);
    return column;
}

QGridLayout* NewFieldGrid()
{
    auto* grid = new QGridLayout;
    grid->setColumnStretch(kFieldColumn, 1);
    return grid;
}

void AddFieldRow(QGridLayout& grid, int row, const std::string& label, QWidget* field, QWidget* button)
{
    grid.addWidget(NewLabel(label, field->parentWidget()), row, kLabelColumn);
    grid.addWidget(field, row, kFieldColumn);
    if (button)
        grid.addWidget(button, row, kButtonColumn);
}

void AddButtonRow(QGridLayout& grid, int row, QWidget* button) { grid.addWidget(button, row, kButtonColumn); }

void AddSpanningRow(QGridLayout& grid, int row, QWidget* widget)
{
    grid.addWidget(widget, row, kLabelColumn, 1, kToLastColumn);
}

std::string Text(const QLineEdit* edit) { return FromQString(edit->text()); }

void SetText(QLineEdit* edit, const std::string& text)
{
    edit->setText(ToQString(text));
    // A text longer than the edit shows its beginning, where a path or format starts.
    edit->setCursorPosition(0);
}

}  // namespace pages
