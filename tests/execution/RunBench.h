#pragma once

#include "execution/RunControl.h"
#include "support/SimStation.h"

#include <QSignalSpy>

// A station with its run control, a program and the simulated load; the fake clock runs
// `speed` times faster than real time.
struct RunBench : SimStation
{
    explicit RunBench(double speed = 50, SourceKind source = SourceKind::Ac, Link link = Link::Tcp);

    // Writes the steps to the program file and loads it. Each step is its ten fields; missing
    // trailing fields are empty.
    void program(const QList<QStringList>& steps);
    // Presses Start and waits for the run to end (or `timeoutMs` of real time).
    RunEnd run(int timeoutMs = 60000);
    bool waitForEnd(int timeoutMs = 60000);
    // Records of the log (the lines after its header) split into fields.
    QList<QStringList> records() const;
    QStringList messages() const { return fixture.prompts.messages(); }

    RunControl rc;
    QSignalSpy ended;
};

// A program written as text: steps apart by ", ", fields by "|"; "CC 5 1" is a load level of
// 5 A for 1 s at 50 Hz, measured every second (a fourth word sets the measure time).
QList<QStringList> steps(const QString& text);
// Step/Loop1 of the records each time it changes, apart by spaces: "2/3 2/2 4/3".
QString passes(const QList<QStringList>& records);
