#pragma once

#include "ui/StepPanelTable.h"

#include <QList>
#include <QString>

// The checks and corrections of the step editor's entries, without widgets.

// What the Load Level panel holds when OK checks it.
struct LoadLevelEntry
{
    QString mode; // cmbLoadLevel
    QString value;
    QString dwellTime;
    QString measTime;
    QString frequency;
};

// One failed check: the message (titled "Warning!"), and the box that is set to a safe text
// (none for an unknown mode).
struct LoadLevelFault
{
    QString message;
    QString box;
    QString resetText;
};

// The Load Level checks in their order: the value by mode (and the dwell time in "CC" and
// "LINCC"), the measure time, the frequency. Every check runs, whatever the earlier ones found;
// bounds are inclusive and compare the numbers parsed from the texts.
QList<LoadLevelFault> loadLevelFaults(const LoadLevelEntry& entry);

// The correction an entry gets when the operator presses Enter in its box or leaves it: minutes
// from "m:s", the pulse-load cycle count held in 1 to 2400, the pulse times in 0.05 to 9999.
// Texts inside their range are left as typed.
QString correctedEntry(StepBoxEntry entry, const QString& text);

namespace stepeditor {
inline const QString WarningTitle = QStringLiteral("Warning!");
inline const QString TooManyStepsMessage = QStringLiteral("Test Step too much, Please check it.");
// CV cannot be used while loads run in parallel.
inline const QString ParallelCvMessage = QStringLiteral("並聯不可使用CV模式, 請重新選擇模式");
} // namespace stepeditor
