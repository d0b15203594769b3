#pragma once

#include "testprogram/TestStep.h"

#include <QList>
#include <QString>

#include <vector>

// One thing the program check found in a program: how grave it is, where (step number from 1,
// grid column) and a sentence for the operator that names both.
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
};

// Checks a program before it runs, step by step in order. Errors are values the load must not
// get: a text that is not a number where the load takes one, a mode the step cannot drive the
// load in, a level outside its mode's range, a pulse-load setting outside its limits.
QList<ProgramFinding> checkProgram(const std::vector<TestStep>& steps);

// The message that refuses a run for the errors among the findings; empty when there are none.
QString programRefusal(const QList<ProgramFinding>& findings);
