#include "testprogram/StepValues.h"

#include "common/NumberText.h"

#include <cmath>

namespace {

// Limits of the load: current in A, resistance in ohm, voltage in Vrms, power in W.
constexpr double kMaxCurrent = 112.5;
constexpr double kMinResistance = 0.533;
constexpr double kMaxResistance = 10666;
constexpr double kMinVoltage = 50;
constexpr double kMaxVoltage = 350;
constexpr double kMaxPower = 15000;
// A DC constant-voltage level (a battery or cell discharged in CV) lies far below the AC range;
// 0 V would have the load short the source.
constexpr double kMinDcVoltage = 0.1;
// Limits of a load level's times (s) and frequency (Hz).
constexpr double kMaxDwellTime = 86400;
constexpr double kMinMeasTime = 0.1;
constexpr double kMaxMeasTime = 86400;
constexpr double kMinFrequency = 40;
constexpr double kMaxFrequency = 440;
// The run keeps a loop count in 16 bits.
constexpr double kMaxLoopCount = 32767;
// Pulse-load limits: T-High and T-Low in ms, the cycle count.
constexpr double kMinPulseTime = 0.05;
constexpr double kMaxPulseTime = 9999;
constexpr double kMinCycleCount = 1;
constexpr double kMaxCycleCount = 2400;

struct Range
{
    double low;
    double high;
    const char* message;
    const char* resetText;
    bool whole = false;

    bool holds(const QString& text) const
    {
        const double v = parseNumber(text);
        return v >= low && v <= high && (!whole || v == std::trunc(v));
    }
};

const Range kCurrent{0, kMaxCurrent, "Load Level must 0 ~ 112.5(A) !", "0"};
const Range kResistance{kMinResistance, kMaxResistance, "Load Level must 0.533 ~ 10666(ohm) !",
                        "0.533"};
const Range kVoltage{kMinVoltage, kMaxVoltage, "Load Level must 50 ~ 350(Vrms) !", "50"};
const Range kDcVoltage{kMinDcVoltage, kMaxVoltage, "Load Level must 0.1 ~ 350(V) !", "0.1"};
const Range kPower{0, kMaxPower, "Load Level must 0 ~ 15000(W) !", "0"};
const Range kDwell{0, kMaxDwellTime, "Dwell Time must 0 ~ 86400 !", "0.1"};
const Range kMeasTime{kMinMeasTime, kMaxMeasTime, "Load Level Meas Time must 0.1 ~ 86400 !", "0.1"};
const Range kStepMeasTime{kMinMeasTime, kMaxMeasTime, "Meas Time must 0.1 ~ 86400 !", "0.1"};
const Range kFrequency{kMinFrequency, kMaxFrequency, "Frequency must 40 ~ 440!", "40"};
const Range kLoopCount{1, kMaxLoopCount, "Loop Times must be a whole number 1 ~ 32767 !", "1",
                       true};
const Range kHighCurrent{0, kMaxCurrent, "High Current must 0 ~ 112.5(A) !", "0"};
const Range kLowCurrent{0, kMaxCurrent, "Low Current must 0 ~ 112.5(A) !", "0"};
const Range kTHigh{kMinPulseTime, kMaxPulseTime, "T-High must 0.05 ~ 9999(mS) !", "0.05"};
const Range kTLow{kMinPulseTime, kMaxPulseTime, "T-Low must 0.05 ~ 9999(mS) !", "0.05"};
const Range kCycleCount{kMinCycleCount, kMaxCycleCount, "Cycle Count must 1 ~ 2400 !", "1"};

using namespace actions;

// The modes in which a step drives the load at its level; none for steps that send no level.
QStringList levelModes(const QString& action)
{
    if (action == LoadLevel)
        return loadmodes::all();
    if (oneOf(action, {&DisCharge, &DCIRLow, &DCIRHigh, &RampOn, &RampOff}))
        return {loadmodes::CC, loadmodes::CR, loadmodes::CV, loadmodes::CP};
    return {};
}

const Range* levelRange(const QString& action, const QString& mode)
{
    if (mode == loadmodes::CC || mode == loadmodes::LINCC)
        return &kCurrent;
    if (mode == loadmodes::CR)
        return &kResistance;
    if (mode == loadmodes::CV)
        return action == LoadLevel ? &kVoltage : &kDcVoltage;
    if (mode == loadmodes::CP)
        return &kPower;
    return nullptr;
}

const Range* columnRange(const TestStep& step, int column)
{
    const QString& action = step.ActionMode;
    const QString& mode = step.LoadModeVolt;
    if (column == stepcolumns::Value && levelModes(action).contains(mode))
        return levelRange(action, mode);
    if (action == LoadLevel) {
        // The dwell time is limited where the load level is a current.
        if (column == stepcolumns::Dwell && (mode == loadmodes::CC || mode == loadmodes::LINCC))
            return &kDwell;
        if (column == stepcolumns::Meas)
            return &kMeasTime;
        if (column == stepcolumns::Frequency)
            return &kFrequency;
    } else if (column == stepcolumns::Meas && stepvalues::measures(action)) {
        return &kStepMeasTime;
    } else if (action == For || action == For2) {
        if (column == stepcolumns::Loop)
            return &kLoopCount;
    } else if (action == PlusLoad) {
        switch (column) {
        case stepcolumns::Mode:
            return &kHighCurrent;
        case stepcolumns::Value:
            return &kLowCurrent;
        case stepcolumns::Dwell:
            return &kTHigh;
        case stepcolumns::Loop:
            return &kTLow;
        case stepcolumns::StopAH:
            return &kCycleCount;
        default:
            break;
        }
    }
    return nullptr;
}

QString heldIn(const QString& text, double low, double high)
{
    if (!isNumberText(text))
        return text;
    const double v = parseNumber(text);
    if (v < low)
        return formatGeneral(low);
    if (v > high)
        return formatGeneral(high);
    return text;
}

} // namespace

namespace stepvalues {

bool holdsNumber(const QString& action, int column)
{
    if (column < stepcolumns::Mode || column > stepcolumns::Frequency ||
        column == stepcolumns::GoTo)
        return false;
    if (action == LoadLevel)
        return column == stepcolumns::Value || column == stepcolumns::Dwell ||
               column == stepcolumns::Meas || column == stepcolumns::Frequency;
    if (action == RampOn || action == RampOff)
        return column == stepcolumns::Value || column == stepcolumns::Dwell ||
               column == stepcolumns::Meas;
    if (oneOf(action, {&Charge, &CPCharge, &PlusLoad}))
        return column <= stepcolumns::Meas;
    if (oneOf(action, {&DisCharge, &OverDisCharge, &ACIR, &DCIRLow, &DCIRHigh}))
        return column >= stepcolumns::Value && column <= stepcolumns::Meas;
    if (action == Suspend)
        return column == stepcolumns::Dwell || column == stepcolumns::Loop ||
               column == stepcolumns::Meas;
    if (action == For || action == For2)
        return column == stepcolumns::Loop;
    return false;
}

bool measures(const QString& action)
{
    return !oneOf(action, {&For, &For2, &Loop, &Loop2, &PlusLoad});
}

bool reachesLoad(const TestStep& step, int column)
{
    const QString& action = step.ActionMode;
    if (action == PlusLoad)
        return column >= stepcolumns::Mode && column <= stepcolumns::StopAH;
    if (levelModes(action).isEmpty())
        return false;
    // Only a load level in CC sends its frequency.
    return column == stepcolumns::Mode || column == stepcolumns::Value ||
           (action == LoadLevel && column == stepcolumns::Frequency &&
            step.LoadModeVolt == loadmodes::CC);
}

QList<Fault> rangeFaults(const TestStep& step)
{
    QList<Fault> faults;
    const QStringList modes = levelModes(step.ActionMode);
    if (!modes.isEmpty() && !modes.contains(step.LoadModeVolt))
        faults.append({stepcolumns::Mode, QStringLiteral("Load Mode ERROR !"), {}});
    for (int column = stepcolumns::Mode; column <= stepcolumns::Frequency; ++column) {
        const QString& text = step.field(column - 1);
        const Range* range = columnRange(step, column);
        if (range && isNumberText(text) && !range->holds(text))
            faults.append(
                {column, QString::fromUtf8(range->message), QString::fromLatin1(range->resetText)});
    }
    return faults;
}

QList<Fault> cellFaults(const TestStep& step, int column)
{
    QList<Fault> faults = rangeFaults(step);
    const bool modeCell = column == stepcolumns::Mode && !levelModes(step.ActionMode).isEmpty();
    faults.removeIf([&](const Fault& f) {
        return f.column != column && !(modeCell && f.column == stepcolumns::Value);
    });
    return faults;
}

QString notANumberMessage(const QString& name, const QString& text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("%1 must be a number !").arg(name);
    return QStringLiteral("%1 must be a number, not \"%2\" !").arg(name, text);
}

QString heldInPulseTime(const QString& text)
{
    return heldIn(text, kMinPulseTime, kMaxPulseTime);
}

QString heldInCycleCount(const QString& text)
{
    return heldIn(text, kMinCycleCount, kMaxCycleCount);
}

QString heldInLimits(const QString& action, int column, const QString& text)
{
    if (action != PlusLoad)
        return text;
    if (column == stepcolumns::Dwell || column == stepcolumns::Loop)
        return heldInPulseTime(text);
    if (column == stepcolumns::StopAH)
        return heldInCycleCount(text);
    return text;
}

} // namespace stepvalues
