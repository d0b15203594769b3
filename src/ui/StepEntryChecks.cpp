#include "ui/StepEntryChecks.h"

#include "common/NumberText.h"
#include "testprogram/TestStep.h"

namespace {

// Limits of the Load Level panel: current in A, resistance in ohm, voltage in Vrms, power in W,
// times in seconds, frequency in Hz.
constexpr double kMaxCurrent = 112.5;
constexpr double kMinResistance = 0.533;
constexpr double kMaxResistance = 10666;
constexpr double kMinVoltage = 50;
constexpr double kMaxVoltage = 350;
constexpr double kMaxPower = 15000;
constexpr double kMaxDwellTime = 86400;
constexpr double kMinMeasTime = 0.1;
constexpr double kMaxMeasTime = 86400;
constexpr double kMinFrequency = 40;
constexpr double kMaxFrequency = 440;

// Pulse-load limits: the cycle count, and T-High and T-Low in ms.
constexpr double kMinCycleCount = 1;
constexpr double kMaxCycleCount = 2400;
constexpr double kMinPulseTime = 0.05;
constexpr double kMaxPulseTime = 9999;

bool within(const QString& text, double low, double high)
{
    const double v = parseNumber(text);
    return v >= low && v <= high;
}

// The text held in low..high: a number outside becomes the bound it passed.
QString heldIn(const QString& text, double low, double high)
{
    const double v = parseNumber(text);
    if (v < low)
        return formatGeneral(low);
    if (v > high)
        return formatGeneral(high);
    return text;
}

} // namespace

QList<LoadLevelFault> loadLevelFaults(const LoadLevelEntry& e)
{
    QList<LoadLevelFault> faults;
    const QString value = QStringLiteral("txtLoadValue");
    if (e.mode == loadmodes::CC || e.mode == loadmodes::LINCC) {
        if (!within(e.value, 0, kMaxCurrent))
            faults.append({QStringLiteral("Load Level must 0 ~ 112.5(A) !"), value, "0"});
        if (!within(e.dwellTime, 0, kMaxDwellTime))
            faults.append({QStringLiteral("Dwell Time must 0 ~ 86400 !"),
                           QStringLiteral("txtLoadLevelStopTime"), "0.1"});
    } else if (e.mode == loadmodes::CR) {
        if (!within(e.value, kMinResistance, kMaxResistance))
            faults.append({QStringLiteral("Load Level must 0.533 ~ 10666(ohm) !"), value, "0.533"});
    } else if (e.mode == loadmodes::CV) {
        if (!within(e.value, kMinVoltage, kMaxVoltage))
            faults.append({QStringLiteral("Load Level must 50 ~ 350(Vrms) !"), value, "50"});
    } else if (e.mode == loadmodes::CP) {
        if (!within(e.value, 0, kMaxPower))
            faults.append({QStringLiteral("Load Level must 0 ~ 15000(W) !"), value, "0"});
    } else {
        faults.append({QStringLiteral("Load Mode ERROR !"), {}, {}});
    }
    if (!within(e.measTime, kMinMeasTime, kMaxMeasTime))
        faults.append({QStringLiteral("Load Level Meas Time must 0.1 ~ 86400 !"),
                       QStringLiteral("txtLoadLevelMeasTime"), "0.1"});
    if (!within(e.frequency, kMinFrequency, kMaxFrequency))
        faults.append(
            {QStringLiteral("Frequency must 40 ~ 440!"), QStringLiteral("txtFrequency"), "40"});
    return faults;
}

QString correctedEntry(StepBoxEntry entry, const QString& text)
{
    switch (entry) {
    case StepBoxEntry::Minutes:
        return ConvertSecToMin(text);
    case StepBoxEntry::CycleCount:
        return heldIn(text, kMinCycleCount, kMaxCycleCount);
    case StepBoxEntry::PulseTime:
        return heldIn(text, kMinPulseTime, kMaxPulseTime);
    case StepBoxEntry::Plain:
        break;
    }
    return text;
}
