#pragma once

#include "testprogram/TestStep.h"

#include <QList>
#include <QString>

#include <vector>

// One thing the program check found in a program: how grave it is, where (step number from 1,
// 0 for the program as a whole; grid column, 0 for the step as a whole) and a sentence for the
// operator that names both.
struct ProgramFinding
{
    enum class Severity
    {
        Error,   // the program must not run
        Warning, // the operator should know before it runs
    };

    Severity severity = Severity::Error;
    int step = 0;
    int column = 0;
    QString sentence;

    bool isError() const { return severity == Severity::Error; }
};

// How long a program runs and how many records its log gets, as the run carries it out with a
// load that answers at once. Times are seconds from Start.
struct RunEstimate
{
    // Every step runs its full time, every pulse load passes ("OK").
    double fullSeconds = 0;
    // Steps with a stop value or a stop charge end at their first measurement, and pulse loads
    // whose go-to target leads forward fail ("NG").
    double shortestSeconds = 0;
    // The longest: the full time, unless a pulse load's go-to leads back, where an "NG" may
    // repeat steps without end.
    bool endless = false;
    // Records of the full run.
    qint64 records = 0;
    // False when the walk gave up (loops of loops whose passes keep changing): the times and the
    // records are then where it stopped, and the run takes at least that long.
    bool complete = true;
};

// What the program check says about a program: all its findings in step order (program-wide
// ones first) and the run-time estimate, from one walk through the program.
struct ProgramCheck
{
    QList<ProgramFinding> findings;
    RunEstimate estimate;
    // False when a program file could not be read: the one finding says why, and there is no
    // estimate.
    bool readable = true;

    int errors() const;
    int warnings() const;
};

// Checks a program before it runs and estimates its run time. Errors are what must not run: a
// value the load must not get (not a number where the load needs one, outside its mode's range,
// a pulse-load setting outside its limits), a measure time below 0.1 s on a step that measures,
// a ramp or hold that is no whole number of measure times, loops that do not balance or cross,
// a go-to target beyond the program, an unknown action, no steps or too many. Warnings are what
// runs otherwise than it reads: discharges without any stop, go-to targets that may repeat
// without end or are never followed, ramps from a level in another mode or carried by the run
// timer (which does not ramp), steps measured less often than they last, load levels that run
// with the load off, and values outside the editors' ranges that the load never gets. The
// program's options play no part: the run times every step by its own measure time.
ProgramCheck checkProgram(const std::vector<TestStep>& steps);

// The check of a program file: a file that cannot be read as a test program (missing, damaged,
// an unknown action) gives one error with the reason, named by its file.
ProgramCheck checkProgramFile(const QString& path);

// The message that refuses a run for the errors among the findings; empty when there are none.
QString programRefusal(const QList<ProgramFinding>& findings);

// "error: Step 12, Value "0": Load Level must 0.533 ~ 10666(ohm) !"
QString findingLine(const ProgramFinding& finding);

// "00:05:10 (00:02:00 to 00:05:10), about 310 records": the full time, the range where steps may
// end early (left out when there is none), and the records. Hours are not wrapped at 24.
QString estimateText(const RunEstimate& estimate);

// Seconds as "hh:mm:ss", rounded to the nearest second.
QString runTimeText(double seconds);
