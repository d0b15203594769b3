#include "testprogram/TestStep.h"

#include <algorithm>

const std::array<QString, TestStep::kFieldCount> kStepFieldKeys = {
    QStringLiteral("ActionMode"), QStringLiteral("LoadModeVolt"), QStringLiteral("CurrentValue"),
    QStringLiteral("StopTime"),   QStringLiteral("StopValue"),    QStringLiteral("StableTime"),
    QStringLiteral("StopAH"),     QStringLiteral("MeasTime"),     QStringLiteral("GoToStep"),
    QStringLiteral("Frequency")};

const std::array<QString, TestStep::kFieldCount + 1> kStepGridHeaders = {
    QStringLiteral("Step"),      QStringLiteral("Action Mode"),   QStringLiteral("Mode"),
    QStringLiteral("Value"),     QStringLiteral("Dwell Time(s)"), QStringLiteral("Loop Times"),
    QStringLiteral("Stable(s)"), QStringLiteral("StopAH"),        QStringLiteral("MeasT(s)"),
    QStringLiteral("Go To"),     QStringLiteral("Frequency")};

QString& TestStep::field(int i)
{
    return const_cast<QString&>(static_cast<const TestStep*>(this)->field(i));
}

const QString& TestStep::field(int i) const
{
    switch (i) {
    case 0:
        return ActionMode;
    case 1:
        return LoadModeVolt;
    case 2:
        return CurrentValue;
    case 3:
        return StopTime;
    case 4:
        return StopValue;
    case 5:
        return StableTime;
    case 6:
        return StopAH;
    case 7:
        return MeasTime;
    case 8:
        return GoToStep;
    default:
        return Frequency;
    }
}

QStringList actions::all()
{
    return {LoadLevel, Charge, CPCharge, DisCharge, OverDisCharge, Suspend,  For,    Loop,
            For2,      Loop2,  ACIR,     DCIRLow,   DCIRHigh,      PlusLoad, RampOn, RampOff};
}

bool actions::oneOf(const QString& action, std::initializer_list<const QString*> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&](const QString* name) { return *name == action; });
}

bool actions::isLoopMarker(const QString& action)
{
    return oneOf(action, {&For, &Loop, &For2, &Loop2});
}

QStringList loadmodes::all()
{
    return {CC, LINCC, CR, CV, CP};
}

QStringList gotochoices::all()
{
    return {NextStep, EndLoop, EndLoop2, Continue};
}

void LoopBalance::count(const QString& actionMode)
{
    if (actionMode == actions::For)
        ++outer;
    else if (actionMode == actions::Loop)
        --outer;
    else if (actionMode == actions::For2)
        ++inner;
    else if (actionMode == actions::Loop2)
        --inner;
}
