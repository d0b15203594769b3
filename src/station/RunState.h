#pragma once

#include <QString>

#include <array>

// StopReason: why the current step ended; after a pulse load, its result.
enum StopReasonValue
{
    kNoStop = 0,
    kStepEnded = 1,
    kStopValue = 2,
    kStopAh = 3,
    kPulseNoResult = 0,
    kPulseOk = 1,
    kPulseNg = 2,
};

// The state a run keeps between timer ticks. Start sets it up; after a crash, the run journal
// gives it back.
struct RunState
{
    int CurrentStep = 0; // 0-based index into the step table; grid row CurrentStep + 1
    int StopRequested = 0;
    int PauseRequested = 0;
    int NoSaveLogFlag = 0;
    QString LogFileName;
    int RecordNo = 0;
    QString TestStartText;
    QString StepStartText;
    double StepDwell = 0;     // seconds, from the step's Dwell cell
    double StepStartTime = 0; // seconds since midnight
    double MeasureRef = 0;    // seconds since midnight of the last measuring instant
    double TickTime = 0;      // seconds since midnight at the current tick
    int ForRow = 0;
    int ForCount = 0;
    int For2Row = 0;
    int For2Count = 0;
    int StopReason = 0;
    // Phase values of the run's records that were not measured (recorded as empty fields).
    int UnmeasuredValues = 0;
    // The running step's ampere-hours and kilowatt-hours, and when they were last accumulated
    // (monotonic clock, ms).
    double StepAh = 0;
    double StepKwh = 0;
    double LastMeasureMs = 0;
    // Where a halted run stands (Pause, a lost link), to pick it up again: whether Start's
    // pre-run phase was carrying it, how long the current step had run (seconds), and how many
    // passes of a ramp or hold were done.
    bool PreRunCarried = false;
    double StepElapsed = 0;
    int RampPassesDone = 0;
    // The current step was over when the run halted (a crash between two steps): the run goes
    // on with the next step, by StopReason.
    bool StepOver = false;
    // The times the load was out of reach during the run, and for how long in all (seconds).
    int LinkLosses = 0;
    double LinkLostSeconds = 0;

    // Stop or Pause was pressed: nothing more is sent or waited for.
    bool interrupted() const { return StopRequested != 0 || PauseRequested != 0; }
};

// The running indicator's texts: WorkLabel shows entry (n modulo 4) while running, entry 4 idle.
inline const std::array<QString, 5> WorkText = {QStringLiteral("-"), QStringLiteral("\\"),
                                                QStringLiteral("|"), QStringLiteral("/"),
                                                QStringLiteral(" ")};
