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
    // Presses Start and returns at once (the pre-run may still be going on).
    void start();
    bool waitForEnd(int timeoutMs = 60000);
    // The log's lines, header included.
    QStringList csv() const;
    // Records of the log split into fields.
    QList<QStringList> records() const;
    QStringList messages() const { return fixture.prompts.messages(); }

    RunControl rc;
    QSignalSpy ended;
};
