#include "ui/StepEntryChecks.h"

#include "common/NumberText.h"
#include "testprogram/StepValues.h"

QString correctedEntry(StepBoxEntry entry, const QString& text)
{
    switch (entry) {
    case StepBoxEntry::Minutes:
        return ConvertSecToMin(text);
    case StepBoxEntry::CycleCount:
        return stepvalues::heldInCycleCount(text);
    case StepBoxEntry::PulseTime:
        return stepvalues::heldInPulseTime(text);
    case StepBoxEntry::Plain:
        break;
    }
    return text;
}
