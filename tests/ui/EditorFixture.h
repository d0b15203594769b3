#pragma once

#include "WindowFixture.h"
#include "ui/StepEditor.h"
#include "ui/StepGridEditor.h"

#include <QComboBox>
#include <QLineEdit>

// "a|b|c" as a list, empty fields kept: one step row in a line.
inline QStringList fields(const QString& text)
{
    return text.split(u'|');
}

// The window, active so that focus follows clicks, on `steps` load levels (step n of value n).
struct EditorFixture : WindowFixture
{
    explicit EditorFixture(int steps = 5, const QString& connectMode = QStringLiteral("2"));

    StepEditor& editor() const { return *window->stepEditor(); }
    StepGridEditor& gridEditor() const { return *window->stepGridEditor(); }
    GridModel& grid() const { return station->form.TestStepGrid; }
    QTableView* view() const { return window->stepGrid(); }
    QLineEdit* box(const QString& name) const { return find<QLineEdit>(name); }
    QComboBox* combo(const QString& name) const { return find<QComboBox>(name); }

    // The texts of a grid row, columns 0 to 10.
    QStringList row(int r) const { return grid().rowTexts(r); }
    // Fills a row of the grid directly (columns 1 to 10).
    void setStep(int r, const QStringList& fields) const { grid().setRowTexts(r, fields, 1); }
    // Clicks, double-clicks and presses a cell of the step grid (grid row, column).
    void clickCell(int r, int col, Qt::MouseButton button = Qt::LeftButton) const;
    void doubleClickCell(int r, int col) const;
    QPoint cellCentre(int r, int col) const;
    // Picks an item from a combo box's list, as the operator does with the mouse; chooseItem
    // also checks that the box shows it then.
    void pickItem(QComboBox* combo, const QString& text) const;
    void chooseItem(QComboBox* combo, const QString& text) const;
    // Replaces what a box holds by typed text (the box takes the focus first).
    void typeInto(QLineEdit* box, const QString& text) const;
    // Opens the step editor for adding and picks an action.
    void addWith(const QString& action) const;
};
