#pragma once

#include "testprogram/TestStep.h"

#include <QString>

#include <optional>
#include <vector>

class GridModel;
class IniFile;
class Station;

// The test program file: section "TestStep Option", one section "Step<N>" per step, and the
// load's link section (written by the link settings).

// Loads the file named by TestFileName into MeasureOptions, the option check boxes,
// TotalStepCount, the step grid and the StepTable, repairing unbalanced loops in the grid. A
// file that readTestProgram refuses is refused with its message; the grid and the table keep the
// program they held. Returns whether the program was loaded.
bool LoadTestProgram(Station& station);

// What a program file holds, read and checked but not yet shown: the options and the steps (a
// step's Frequency is read for "LoadLevel" steps only).
struct ProgramFileContent
{
    MeasureOptionSet options;
    std::vector<TestStep> steps;
};

// Reads and checks a program file: every reason to refuse one is found here, before anything
// is shown. A missing file, one that is no test program (no "TestStep Option" section) or that
// IniFile cannot load, a step count or option value that is no usable number, a step without
// its section, and an action that is not one of the sixteen give nothing and a message naming
// the file and, where there is one, the section and key.
std::optional<ProgramFileContent> readTestProgram(const QString& path, QString* error);

// Shows a program that readTestProgram gave: options and check boxes, step grid, StepTable,
// TotalStepCount, with the loop repair and its message.
void applyTestProgram(Station& station, const ProgramFileContent& content);

// Writes the option check boxes and the step grid to the file named by TestFileName and copies
// the grid into the StepTable. Returns false (after a message) when the grid holds more steps
// than a program may have or the file cannot be written; then the file and the table are as
// they were.
bool SaveTestProgram(Station& station);

// The two halves of SaveTestProgram, so that a Save command writes the steps and the link
// section in one replace of the file: writeTestProgram puts the program into the file's content
// (false when there are too many steps), and programSaved updates the table and reports
// unbalanced loops once the file is on disk.
bool writeTestProgram(Station& station, IniFile& programFile);
void programSaved(Station& station);

// The step a row of the step grid shows, and all steps it shows (rows 1 and up).
TestStep stepInGridRow(const GridModel& grid, int row);
std::vector<TestStep> stepsInGrid(const GridModel& grid);

namespace programkeys {
inline const QString OptionSection = QStringLiteral("TestStep Option");
inline const QString TotalStepCount = QStringLiteral("TotalStepCount");
inline const QString MeasureTime = QStringLiteral("MeasureTime");
QString stepSection(int stepNumber);
} // namespace programkeys
