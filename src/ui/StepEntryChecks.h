#pragma once

#include "ui/StepPanelTable.h"

#include <QString>

// The corrections of the step editor's entries and its messages, without widgets; the value
// checks themselves are the engine's (testprogram/StepValues).

// The correction an entry gets when the operator presses Enter in its box or leaves it: minutes
// from "m:s", the pulse-load cycle count held in 1 to 2400, the pulse times in 0.05 to 9999.
// Texts inside their range are left as typed.
QString correctedEntry(StepBoxEntry entry, const QString& text);

namespace stepeditor {
inline const QString TooManyStepsMessage = QStringLiteral("Test Step too much, Please check it.");
// CV cannot be used while loads run in parallel.
inline const QString ParallelCvMessage = QStringLiteral("並聯不可使用CV模式, 請重新選擇模式");
} // namespace stepeditor
