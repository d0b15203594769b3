#pragma once

#include "testprogram/TestStep.h"

#include <QtGlobal>

#include <vector>

// A program walked the way the run carries it out, without a load and with a load that answers
// at once: Start's pre-run phase (loop markers, ramps and holds, load levels without a dwell
// time) up to the first step that has to be waited on, then the run timer's measuring instants
// and step ends (at the earlier of the dwell time and a stop condition), the settling time of a
// discharge, pulse-load sequences with their set-up time and the go-to target of an "NG", and
// loops with their counts as the run keeps them in the Loop Times cells. Times are counted in
// microseconds from Start.
class ProgramWalk
{
public:
    enum class Kind
    {
        LoadLevel,
        RampOn,
        RampOff,
        For,
        For2,
        Loop,
        Loop2,
        PlusLoad,
        Discharge, // "DisCharge", "DCIRLow", "DCIRHigh": switch the load on, settle, may stop
        Charge,    // "Charge", "CP-Charge": may stop on their current or charge
        Suspend,   // may stop on its voltage
        Timed,     // "OverDisCharge", "ACIR" and anything else: measured for their dwell time
    };

    // A step as the run reads it: its numbers parsed once.
    struct Step
    {
        Kind kind = Kind::Timed;
        double dwell = 0;   // StopTime, s (a pulse load's T-High, ms)
        double measure = 0; // MeasTime, s (a pulse load's set-up time, ms)
        double stable = 0;  // StableTime, s
        double count = 0;   // StopValue: a FOR's Loop Times
        bool mayStop = false;
        double pulseMs = 0; // a pulse load's cycles x (T-High + T-Low)
        QString goTo;       // GoToStep in capitals, as the run compares it
    };

    // Something the walk saw that runs otherwise than the program reads; steps are indices.
    struct Note
    {
        enum class Kind
        {
            RampOnTimer, // a ramp or hold after the pre-run: it does not ramp
        };
        Kind kind;
        int step;
    };

    struct Result
    {
        qint64 micros = 0;
        qint64 records = 0;
        bool complete = true;
        std::vector<Note> notes;
    };

    explicit ProgramWalk(const std::vector<TestStep>& steps);

    const std::vector<Step>& steps() const { return steps_; }

    // The full run: every step its full time, every pulse load "OK". The shortest: steps that
    // may stop do at their first measurement, pulse loads whose go-to leads forward give "NG".
    Result full() const { return walk(false); }
    Result shortest() const { return walk(true); }

    // The step that runs after a pulse load at `index` gives "NG", as the run follows its go-to
    // target: `index` again when the target leads nowhere, steps().size() for the end.
    int goToIndex(int index) const;

    // Whether an "NG" of the pulse load at `index` may start steps again without end: its target
    // leads back or to the step itself, or a step number lands on a LOOP or LOOP2, whose count
    // the jump sets back to the start before the loop end counts the pass.
    bool ngRepeats(int index) const;

    // The first "LOOP" (or "LOOP2", or either) after `index`; -1 when none follows.
    int nextLoopEnd(int index, bool outer, bool inner) const;

private:
    Result walk(bool shortest) const;

    std::vector<Step> steps_;
};
