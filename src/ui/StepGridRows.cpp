#include "ui/StepGridRows.h"

#include "common/NumberText.h"
#include "station/GridModel.h"
#include "testprogram/TestStep.h"

#include <algorithm>

namespace {

constexpr int kHeaderRow = 0;
constexpr int kFirstStepRow = 1;
constexpr double kSecondsPerMinute = 60;
constexpr double kMsPerSecond = 1000;

} // namespace

using namespace actions;

namespace {

// Actions whose column 2 holds a load mode.
bool hasModeColumn(const QString& a)
{
    return oneOf(
        a, {&DCIRHigh, &DCIRLow, &ACIR, &DisCharge, &OverDisCharge, &RampOff, &RampOn, &LoadLevel});
}

// Actions with a set value in column 3; with a time in column 4 they also have Suspend.
bool hasValueColumn(const QString& a)
{
    return oneOf(a, {&DCIRHigh, &DCIRLow, &ACIR, &CPCharge, &PlusLoad, &Charge, &DisCharge,
                     &OverDisCharge, &RampOff, &RampOn, &LoadLevel});
}

// Actions with stable time and stop AH (columns 6 and 7).
bool hasStopColumns(const QString& a)
{
    return oneOf(
        a, {&DCIRHigh, &DCIRLow, &ACIR, &CPCharge, &PlusLoad, &Charge, &DisCharge, &OverDisCharge});
}

QString numberText(double value, const char* unit)
{
    return formatGeneral(value) + QLatin1String(unit);
}

} // namespace

void renumberSteps(GridModel& grid, int fromRow)
{
    for (int r = std::max(fromRow, kFirstStepRow); r < grid.rows(); ++r)
        grid.setText(r, 0, QString::number(r));
}

int writeEditedStep(GridModel& grid, EditMode mode, int row, const steppanels::StepRowWrite& texts)
{
    row = std::clamp(row, kFirstStepRow, grid.rows());
    if (mode != EditMode::Modify || row >= grid.rows()) {
        grid.insertGridRow(row);
    }
    grid.setText(row, 0, QString::number(row));
    for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
        if (texts[static_cast<std::size_t>(i)])
            grid.setText(row, i + 1, *texts[static_cast<std::size_t>(i)]);
    }
    renumberSteps(grid, row + 1);
    return row;
}

CellEditor cellEditorFor(int column, const QString& a)
{
    switch (column) {
    case stepcolumns::Action:
        return CellEditor::ActionCombo;
    case stepcolumns::Mode:
        if (hasModeColumn(a))
            return CellEditor::ModeCombo;
        return oneOf(a, {&PlusLoad, &CPCharge, &Charge}) ? CellEditor::TextBox : CellEditor::None;
    case 3:
        return hasValueColumn(a) ? CellEditor::TextBox : CellEditor::None;
    case stepcolumns::Dwell:
        return hasValueColumn(a) || a == Suspend ? CellEditor::TextBox : CellEditor::None;
    case stepcolumns::Loop:
        return oneOf(a, {&DCIRHigh, &DCIRLow, &ACIR, &For2, &For, &CPCharge, &Charge, &DisCharge,
                         &OverDisCharge, &Suspend, &PlusLoad})
                   ? CellEditor::TextBox
                   : CellEditor::None;
    case 6:
    case 7:
        return hasStopColumns(a) ? CellEditor::TextBox : CellEditor::None;
    case 8:
        return hasValueColumn(a) || a == Suspend ? CellEditor::TextBox : CellEditor::None;
    case stepcolumns::GoTo:
        return oneOf(a, {&PlusLoad, &Charge, &DisCharge, &OverDisCharge, &Suspend})
                   ? CellEditor::GotoCombo
                   : CellEditor::None;
    case stepcolumns::Frequency:
        return a == LoadLevel ? CellEditor::TextBox : CellEditor::None;
    default:
        return CellEditor::None;
    }
}

QString emptyCellDefault(CellEditor editor)
{
    switch (editor) {
    case CellEditor::ActionCombo:
        return Charge;
    case CellEditor::ModeCombo:
        return loadmodes::CC;
    case CellEditor::GotoCombo:
        return gotochoices::NextStep;
    case CellEditor::None:
    case CellEditor::TextBox:
        break;
    }
    return {};
}

QString cellTip(int column, const QString& action, const QString& cellText)
{
    const double value = parseNumber(cellText);
    // T-High and T-Low of a pulse load are milliseconds.
    if (action == PlusLoad && (column == stepcolumns::Dwell || column == stepcolumns::Loop))
        return numberText(value / kMsPerSecond, " Second");
    if (column == stepcolumns::Dwell && cellEditorFor(column, action) == CellEditor::TextBox)
        return numberText(value * kSecondsPerMinute, " Second");
    return {};
}

void adjustRowToAction(GridModel& grid, int row, const QString& action)
{
    const auto clear = [&](std::initializer_list<int> columns) {
        for (int c : columns)
            grid.setText(row, c, {});
    };
    if (action == CPCharge || action == Charge) {
        grid.setText(row, stepcolumns::Mode,
                     formatGeneral(parseNumber(grid.text(row, stepcolumns::Mode))));
    } else if (action == DisCharge || action == OverDisCharge) {
        const QString mode = grid.text(row, stepcolumns::Mode);
        if (!oneOf(mode, {&loadmodes::CP, &loadmodes::CV, &loadmodes::CR, &loadmodes::CC}))
            grid.setText(row, stepcolumns::Mode, loadmodes::CC);
    } else if (action == Suspend) {
        clear({2, 3, 5, 6});
    } else if (oneOf(action, {&For, &For2, &Loop, &Loop2})) {
        clear({2, 3, 4, 5, 6});
    }
}

StepGridRows::StepGridRows(GridModel& grid, GridModel& copyBuffer)
    : grid_(grid), copyBuffer_(copyBuffer)
{}

bool StepGridRows::deleteStep()
{
    const int current = grid_.currentRow();
    if (current < kFirstStepRow)
        return false;
    // The header and one step: the last step stays.
    const bool removed = grid_.rows() >= 3;
    if (removed)
        grid_.removeGridRow(current);
    renumberSteps(grid_, current);
    grid_.setCurrentCell(grid_.rows() - 1, grid_.currentCol());
    return removed;
}

void StepGridRows::swapSteps(int a, int b)
{
    const QStringList first = grid_.rowTexts(a, stepcolumns::Action);
    grid_.setRowTexts(a, grid_.rowTexts(b, stepcolumns::Action), stepcolumns::Action);
    grid_.setRowTexts(b, first, stepcolumns::Action);
}

bool StepGridRows::moveStepUp()
{
    const int r = grid_.currentRow();
    if (r < kFirstStepRow + 1 || r > grid_.rows() - 1)
        return false;
    swapSteps(r, r - 1);
    grid_.setCurrentCell(r - 1, grid_.currentCol());
    return true;
}

bool StepGridRows::moveStepDown()
{
    const int r = grid_.currentRow();
    if (r < kFirstStepRow || r > grid_.rows() - 2)
        return false;
    swapSteps(r, r + 1);
    grid_.setCurrentCell(r + 1, grid_.currentCol());
    return true;
}

void StepGridRows::markPressed(int row)
{
    CopyStartRow = row;
}

void StepGridRows::markReleased(int row)
{
    CopyEndRow = row;
    if (CopyStartRow > CopyEndRow)
        std::swap(CopyStartRow, CopyEndRow);
}

bool StepGridRows::copyRows()
{
    // Nothing marked yet, or a range that takes in the header: header texts are no step, and
    // such a range could never be pasted.
    if (std::min(CopyStartRow, CopyEndRow) <= kHeaderRow)
        return false;
    // Rows deleted since they were marked are not there to copy.
    const int last = std::min(CopyEndRow, grid_.rows() - 1);
    if (CopyStartRow > last)
        return false;
    copyBuffer_.setRows(1);
    for (int r = CopyStartRow, k = 1; r <= last; ++r, ++k) {
        copyBuffer_.insertGridRow(k);
        copyBuffer_.setText(k, 0, QString::number(k));
        copyBuffer_.setRowTexts(k, grid_.rowTexts(r, stepcolumns::Action), stepcolumns::Action);
    }
    PasteStartRow = CopyStartRow;
    PasteEndRow = last;
    return true;
}

void StepGridRows::appendStep(const QStringList& fields)
{
    const int row = grid_.rows();
    grid_.insertGridRow(row);
    grid_.setCurrentCell(row, grid_.currentCol());
    grid_.setText(row, 0, QString::number(row));
    grid_.setRowTexts(row, fields, stepcolumns::Action);
}

bool StepGridRows::pasteRows()
{
    if (!canPaste())
        return false;
    const int lastRow = grid_.rows() - 1;
    if (grid_.currentRow() == lastRow) {
        if (PasteEndRow <= lastRow) {
            for (int r = PasteStartRow; r <= PasteEndRow; ++r)
                appendStep(grid_.rowTexts(r, stepcolumns::Action));
        } else {
            // The copied rows are gone from the grid: the copy itself is what is left of them.
            for (int k = 1; k < copyBuffer_.rows(); ++k)
                appendStep(copyBuffer_.rowTexts(k, stepcolumns::Action));
        }
        return true;
    }
    int row = grid_.currentRow();
    for (int k = 1; k < copyBuffer_.rows(); ++k) {
        ++row;
        grid_.insertGridRow(row);
        grid_.setCurrentCell(row, grid_.currentCol());
        grid_.setText(row, 0, QString::number(row));
        grid_.setRowTexts(row, copyBuffer_.rowTexts(k, stepcolumns::Action), stepcolumns::Action);
    }
    renumberSteps(grid_, row + 1);
    return true;
}
