#pragma once

#include "ui/StepPanelTable.h"

#include <QString>

class GridModel;

// The step grid's row work, without widgets: writing the step editor's row, delete, move up and
// down, marking, copying and pasting rows, and what an in-place edit does to a row. Row 0 of the
// grid is its header; row r holds step r, with r in column 0.

enum class EditMode
{
    Add = 0,
    Insert = 1,
    Modify = 2,
};

// Column 0 of every row from `fromRow` to the last becomes the row's number.
void renumberSteps(GridModel& grid, int fromRow);

// Writes the step editor's row: for Add and Insert a new row at `row` first (also for Modify
// when the row is gone by now), then the texts, then the step numbers from `row` on. `row` is
// held inside the grid (1 to the row count). Returns the row written.
int writeEditedStep(GridModel& grid, EditMode mode, int row, const steppanels::StepRowWrite& texts);

// The in-place editor a cell of the step grid gets, by its column and the row's action.
enum class CellEditor
{
    None,
    ActionCombo, // TestStepActionCombo
    ModeCombo,   // TestStepModeCombo
    GotoCombo,   // GotoCombo
    TextBox,     // TestStepInputText
};

CellEditor cellEditorFor(int column, const QString& action);
// What an empty cell receives before its combo box opens ("" for a text box).
QString emptyCellDefault(CellEditor editor);
// The tip of the text box over a cell: its value in seconds, or "" when the cell has none.
QString cellTip(int column, const QString& action, const QString& cellText);
// Brings a row in line with the action just chosen for it in the grid.
void adjustRowToAction(GridModel& grid, int row, const QString& action);

// Delete, move, mark, copy and paste on the step grid, with the copy buffer CopyPasteGrid.
class StepGridRows
{
public:
    StepGridRows(GridModel& grid, GridModel& copyBuffer);

    // Removes the current step row, unless it is the only one; renumbers and makes the last
    // row current. Returns whether a row was removed.
    bool deleteStep();
    // Swap the current step with the one above or below (step numbers stay); the moved step
    // stays current. False when there is no step to swap with.
    bool moveStepUp();
    bool moveStepDown();

    // The left button pressed and released on the grid: the rows selected then.
    void markPressed(int row);
    void markReleased(int row);

    // COPY: the marked rows into the copy buffer. Nothing happens (false) when nothing was
    // marked or the range takes in the header row.
    bool copyRows();
    // PASTE. On the last row: appends copies of the copied rows as they are now (of the rows
    // as copied when the grid no longer has them all). Elsewhere: inserts the rows as copied
    // below the current row and renumbers. False before any copy.
    bool pasteRows();
    bool canPaste() const { return PasteStartRow >= 1 && PasteEndRow >= 1; }

    int CopyStartRow = 0;
    int CopyEndRow = 0;
    int PasteStartRow = 0;
    int PasteEndRow = 0;

private:
    void swapSteps(int a, int b);
    void appendStep(const QStringList& fields);

    GridModel& grid_;
    GridModel& copyBuffer_;
};
