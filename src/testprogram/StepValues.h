#pragma once

#include "testprogram/TestStep.h"

#include <QList>
#include <QString>

// What each cell of a step may hold, by the step's action and the grid column (2 to 10): whether
// a number belongs there, the range it must lie in, and whether the load gets it when the step
// starts. The step editor, the grid's in-place editing and the program check before a run all
// ask here, so that no value reaches the load by a way that skips a check.
namespace stepvalues {

// The title of the editors' messages about values.
inline const QString WarningTitle = QStringLiteral("Warning!");

// A cell value the step must not hold: the editors' message (titled "Warning!") and the safe text
// the step editor puts into the box (empty: the box keeps what was typed).
struct Fault
{
    int column = 0;
    QString message;
    QString resetText;
};

// Whether a number belongs into this grid column of a step of this action.
bool holdsNumber(const QString& action, int column);

// Whether a step of this action is measured at its measure time (all but loop markers and the
// pulse load, whose MeasT column holds its set-up time).
bool measures(const QString& action);

// Whether the load gets this cell's value when the step starts (level, mode, frequency, pulse
// settings).
bool reachesLoad(const TestStep& step, int column);

// The range checks of every cell of a step, in column order: the mode of a step that drives the
// load at a level (one its action knows), the level in its mode's range, a load level's dwell
// time (in "CC" and "LINCC") and frequency, the measure time of a step that measures, a loop
// count, the pulse-load currents, times and cycle count. Cells that hold no number are left to the
// number check.
QList<Fault> rangeFaults(const TestStep& step);

// The range checks of one cell; a mode cell brings the level it governs along.
QList<Fault> cellFaults(const TestStep& step, int column);

// The editors' message for a text that is not a number where one belongs; `name` says where.
QString notANumberMessage(const QString& name, const QString& text);

// A pulse-load time (ms) held in 0.05 to 9999, a cycle count in 1 to 2400: a number outside
// becomes the bound it passed, anything else is left as typed.
QString heldInPulseTime(const QString& text);
QString heldInCycleCount(const QString& text);
// The pulse-load limit of the cell, if it has one, applied to the text.
QString heldInLimits(const QString& action, int column, const QString& text);

} // namespace stepvalues
