#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <initializer_list>

// One step of a test program: ten text fields, in the order of the step grid's columns 1 to 10
// and of the keys of a step's section in the program file.
struct TestStep
{
    static constexpr int kFieldCount = 10;

    QString ActionMode;
    QString LoadModeVolt;
    QString CurrentValue;
    QString StopTime;
    QString StopValue;
    QString StableTime;
    QString StopAH;
    QString MeasTime;
    QString GoToStep;
    QString Frequency;

    // Field i (0 = ActionMode ... 9 = Frequency), which is grid column i + 1.
    QString& field(int i);
    const QString& field(int i) const;

    bool operator==(const TestStep&) const = default;
};

// The step grid's columns: the step number, then the fields in their order.
namespace stepcolumns {
inline constexpr int Number = 0;
inline constexpr int Action = 1;
inline constexpr int Mode = 2;
inline constexpr int Value = 3;
inline constexpr int Dwell = 4;
inline constexpr int Loop = 5;
inline constexpr int StopAH = 7;
inline constexpr int Meas = 8;
inline constexpr int GoTo = 9;
inline constexpr int Frequency = 10;
} // namespace stepcolumns

// The file keys of the fields, in field order.
extern const std::array<QString, TestStep::kFieldCount> kStepFieldKeys;
// The step grid's column headers: the step number, then the fields.
extern const std::array<QString, TestStep::kFieldCount + 1> kStepGridHeaders;

// The step table holds 1501 records; step N lives at index N - 1. An edited program has at most
// 1500 steps.
inline constexpr int kStepTableSize = 1501;
inline constexpr int kMaxProgramSteps = 1500;
using StepRecords = std::array<TestStep, kStepTableSize>;

// The program's measurement options as the program file carries them. Only MeasureTime has an
// effect on a run (the sequencer's re-arm interval); the flags travel between check boxes and file.
struct MeasureOptionSet
{
    int MeasureVoltage = 1;
    int MeasureCurrent = 1;
    int MeasurePower = 1;
    int MeasureResistant = 0;
    int MeasureKWH = 1;
    int MeasureCapability = 1;
    int MeasureAddKWH = 0;
    int MeasureAddCapability = 0;
    int MeasureTemperature = 0;
    int MeasureDCV = 0;
    int MeasureRefVoltage = 0;
    int MeasureACIRDCIR = 0;
    double MeasureTime = 1.0; // seconds, four decimals
};

// The sixteen actions and the names compared against them (exactly, letter case counts).
namespace actions {
inline const QString LoadLevel = QStringLiteral("LoadLevel");
inline const QString Charge = QStringLiteral("Charge");
inline const QString CPCharge = QStringLiteral("CP-Charge");
inline const QString DisCharge = QStringLiteral("DisCharge");
inline const QString OverDisCharge = QStringLiteral("OverDisCharge");
inline const QString Suspend = QStringLiteral("Suspend");
inline const QString For = QStringLiteral("FOR");
inline const QString Loop = QStringLiteral("LOOP");
inline const QString For2 = QStringLiteral("FOR2");
inline const QString Loop2 = QStringLiteral("LOOP2");
inline const QString ACIR = QStringLiteral("ACIR");
inline const QString DCIRLow = QStringLiteral("DCIRLow");
inline const QString DCIRHigh = QStringLiteral("DCIRHigh");
inline const QString PlusLoad = QStringLiteral("PlusLoad");
inline const QString RampOn = QStringLiteral("RAMP ON");
inline const QString RampOff = QStringLiteral("RAMP OFF");

// All sixteen, in the order of the default action list.
QStringList all();
// Whether an action is one of the names.
bool oneOf(const QString& action, std::initializer_list<const QString*> names);
// FOR, LOOP, FOR2 or LOOP2: counted where it stands, with no time of its own.
bool isLoopMarker(const QString& action);
} // namespace actions

// Load modes ("CC", "LINCC", "CR", "CV", "CP") and go-to choices.
namespace loadmodes {
inline const QString CC = QStringLiteral("CC");
inline const QString LINCC = QStringLiteral("LINCC");
inline const QString CR = QStringLiteral("CR");
inline const QString CV = QStringLiteral("CV");
inline const QString CP = QStringLiteral("CP");
QStringList all();
} // namespace loadmodes

namespace gotochoices {
inline const QString NextStep = QStringLiteral("NextStep");
inline const QString EndLoop = QStringLiteral("EndLoop");
inline const QString EndLoop2 = QStringLiteral("EndLoop2");
inline const QString Continue = QStringLiteral("Continue");
QStringList all();
} // namespace gotochoices

// Loop pairing: the outer count goes up at each "FOR" and down at each "LOOP", the inner count
// likewise for "FOR2" and "LOOP2". Only the end values are judged, not order or nesting.
struct LoopBalance
{
    int outer = 0;
    int inner = 0;

    void count(const QString& actionMode);
    bool balanced() const { return outer == 0 && inner == 0; }
};
