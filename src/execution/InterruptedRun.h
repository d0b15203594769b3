#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// A run whose journal has a run start and no run end: the station stopped (a crash, a kill, a
// power loss) while it ran. What its journal and its log say about where it stood.
struct InterruptedRun
{
    QString journalPath;
    QString logPath;
    QString serialNumber;
    QString program;
    QString programSha256;
    QString testStartText; // the run's start, for TotalTime
    int totalSteps = 0;
    // The last sign of life: the last event, or the last record when that came later.
    QDateTime stoppedAt;
    int lastRecord = 0;

    // The step it stood in (0-based) and the loops around it, as its last step start says; the
    // Loop Times cells of the FOR rows held loop1 and loop2.
    int stepIndex = 0;
    QString action;
    int forRow = 0;
    int forCount = 0;
    int for2Row = 0;
    int for2Count = 0;
    QString loop1;
    QString loop2;
    // Start's pre-run phase carried the step (a ramp, a hold, a load level without dwell time).
    bool preRun = true;
    // Where the step's last stretch on the load began: its time, its first record, and the
    // step's time, charge, energy and ramp passes up to then.
    QDateTime segmentStart;
    int segmentRecord = 1;
    double segmentElapsed = 0;
    double segmentAh = 0;
    double segmentKwh = 0;
    int segmentPasses = 0;
    // The step was halted (Pause, a lost link) with these values.
    bool halted = false;
    // The step was over (its end is in the journal): the run goes on with the next, after a
    // pulse load by its result (StopReason).
    bool stepOver = false;
    int stopReason = 0;

    // "The run of SN ... stopped unexpectedly at step n of N (Loop1 ..., Loop2 ...) at hh:mm:ss."
    QString description() const;
};

// Reads a journal: true with the run filled in when the run was interrupted; false when it ended
// or has not started (no error) or the journal cannot be read (`error` says where).
bool readInterruptedRun(const QString& journalPath, InterruptedRun* run, QString* error);

// The interrupted runs of a TestLog folder, the most recently stopped first. Journals of earlier
// tests (kept under a dated name) are not among them. Journals that cannot be read are named in
// `unreadable`.
QList<InterruptedRun> findInterruptedRuns(const QString& testLogDir, QStringList* unreadable);
