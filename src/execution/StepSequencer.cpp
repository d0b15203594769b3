// The step sequencer: the run timer's tick, the advance to the next step with its loops and
// go-to targets, the pulse-load result and the re-arm for the next measuring instant.
#include "execution/RunControl.h"

#include "common/NumberText.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
#include "station/Station.h"

#include <cmath>
#include <limits>

namespace {

// A measurement is due this much before its instant, and a dwell time is over this much early.
constexpr double kDueTolerance = 0.01;
constexpr double kDwellTolerance = 0.05;
constexpr double kShortestRearmMs = 10.0;

bool isDischargeType(const QString& action)
{
    return action == actions::DCIRLow || action == actions::DisCharge ||
           action == actions::DCIRHigh;
}

bool isLoopEndOrPulse(const QString& action)
{
    return action == actions::Loop || action == actions::PlusLoad || action == actions::Loop2;
}

} // namespace

void RunControl::RunTimerTick()
{
    RunTimer.stop();
    try {
        tick();
    } catch (const RunError& e) {
        fail(e.message);
    }
}

void RunControl::tick()
{
    RunState& run = station_.run;
    if (interrupted() || phase_ != Phase::Timed)
        return;
    if (run.CurrentStep < 0 || run.CurrentStep >= station_.TotalStepCount) {
        // Past the program: the run is over, and the load must not stay on.
        Stop(RunEnd::Finished);
        return;
    }
    run.TickTime = station_.clock.secondsSinceMidnight();
    station_.form.WorkLabel.setText(
        WorkText[static_cast<std::size_t>(roundToInt(run.TickTime) % 4)]);
    if (run.MeasureRef - 10 > run.TickTime)
        run.MeasureRef -= kSecondsPerDay; // midnight has passed since the last instant

    const TestStep step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
    const double measureTime = parseNumber(step.MeasTime);
    const double elapsed = run.TickTime - run.MeasureRef;
    const bool due = measureTime - kDueTolerance <= elapsed;
    // Between measuring instants the timer wakes only for the end of the step.
    if (!due && stepSecondsLeft(run.TickTime) > kDwellTolerance) {
        reArm();
        return;
    }

    run.StopReason = kNoStop;
    if (due) {
        if (elapsed < measureTime)
            PreciseDelayMs(station_.clock, (measureTime - elapsed) * 1000.0);
        // A load out of reach gives no record: its zeros would read as measured ones.
        if (!measure())
            return;
        record();
        run.MeasureRef += measureTime;
        // Instants missed while the run waited (a settling time, a pulse sequence) are skipped,
        // not caught up with a burst of records; the instants keep their places on the schedule.
        if (measureTime > 0 && run.TickTime - run.MeasureRef >= measureTime)
            run.MeasureRef +=
                measureTime * std::floor((run.TickTime - run.MeasureRef) / measureTime);
        showProgress();

        run.StopReason = stopEvaluation(step);
        if (step.ActionMode == actions::CPCharge) {
            StartStep(station_, run.CurrentStep);
            if (interrupted() || !loadReachable())
                return;
        }
    }
    const double stepElapsed =
        secondsBetween(run.StepStartTime, station_.clock.secondsSinceMidnight());
    const double dwell = gridNumber(run.CurrentStep + 1, 4);
    if (stepElapsed + kDwellTolerance < dwell && run.StopReason == kNoStop) {
        reArm();
        return;
    }

    // The step has ended.
    const int next = run.CurrentStep + 1;
    const QString nextAction = next < station_.TotalStepCount
                                   ? station_.StepTable[static_cast<std::size_t>(next)].ActionMode
                                   : QString();
    if (step.ActionMode == actions::Charge || step.ActionMode == actions::CPCharge)
        SupplyOff(station_);
    else if (isDischargeType(step.ActionMode) && !isDischargeType(nextAction))
        LoadOff(station_); // consecutive discharge-type steps keep the load on
    journalStepEnd(run.StopReason == kStopValue ? stepends::StopValue
                   : run.StopReason == kStopAh  ? stepends::StopCharge
                                                : stepends::DwellTime);
    run.StopReason = kStepEnded;
    const double endTime = station_.clock.secondsSinceMidnight();
    run.TickTime = endTime;
    run.StepStartTime = roundTo4(endTime);
    advance();
}

int RunControl::stopEvaluation(const TestStep& step) const
{
    const StationForm& form = station_.form;
    const double stopValue = parseNumber(step.StopValue);
    const double stopAh = parseNumber(step.StopAH);
    const double voltage = parseNumber(form.VoltageText.text());
    const double current = parseNumber(form.CurrentText.text());
    const double ah = parseNumber(form.AHText.text());
    const QString& action = step.ActionMode;
    if (action == actions::Charge || action == actions::CPCharge) {
        if (stopValue > current)
            return kStopValue;
        if (stopAh > 0 && ah >= stopAh)
            return kStopAh;
        return kNoStop;
    }
    if (isDischargeType(action)) {
        if (stopAh > 0 && ah >= stopAh)
            return kStopAh;
        const QString& mode = step.LoadModeVolt;
        if (mode == loadmodes::CC || mode == loadmodes::CR || mode == loadmodes::CP)
            return stopValue > voltage ? kStopValue : kNoStop;
        if (mode == loadmodes::CV)
            return stopValue > current ? kStopValue : kNoStop;
        return kNoStop;
    }
    if (action == actions::Suspend && stopValue > 0 && stopValue > voltage)
        return kStopValue;
    return kNoStop;
}

void RunControl::advance(bool afterPulse)
{
    RunState& run = station_.run;
    int markerPasses = 0;
    for (;;) {
        if (!afterPulse) {
            run.StepStartText = dateTimeText(station_.clock.now());
            ResetStepAccumulators(station_);
            if (run.StepDwell > 0)
                setGridText(run.CurrentStep + 1, 4, formatGeneral(run.StepDwell));
        }
        afterPulse = false;
        if (interrupted())
            return;
        if (run.StopReason != kNoStop && run.StopReason != kStepEnded)
            followGoTo();
        else
            ++run.CurrentStep;
        if (run.CurrentStep < station_.TotalStepCount)
            run.StepDwell = roundTo4(gridNumber(run.CurrentStep + 1, 4));
        unhighlightRow(run.CurrentStep);
        run.StopReason = kNoStop;
        if (run.CurrentStep >= station_.TotalStepCount) {
            Stop(RunEnd::Finished);
            return;
        }
        highlightRow(run.CurrentStep + 1);

        // A copy: the waits below may let Stop reload the program.
        const TestStep step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
        const QString& action = step.ActionMode;
        beginStep();

        if (action == actions::For || action == actions::For2) {
            enterLoop(action, run.CurrentStep + 1);
            if (!yieldInMarkerLoop(markerPasses))
                return;
            continue;
        }
        if (action == actions::Loop || action == actions::Loop2) {
            // Another pass lands on the first step of the body at the next advance.
            endLoopPass(action);
            if (!yieldInMarkerLoop(markerPasses))
                return;
            continue;
        }
        if (!startTimedStep(step))
            return;
        // "NG" follows the pulse step's go-to target; any other reply goes to the next step.
        afterPulse = true;
        if (!yieldInMarkerLoop(markerPasses))
            return;
    }
}

bool RunControl::startTimedStep(const TestStep& step)
{
    RunState& run = station_.run;
    if (step.ActionMode == actions::PlusLoad) {
        StartStep(station_, run.CurrentStep);
        if (interrupted() || !loadReachable())
            return false;
        run.StopReason = WaitForReceiveTimeOut(run.CurrentStep);
        if (interrupted() || !loadReachable())
            return false;
        record();
        const int next = run.CurrentStep + 1;
        const QString nextAction =
            next < station_.TotalStepCount
                ? station_.StepTable[static_cast<std::size_t>(next)].ActionMode
                : QString();
        if (!isLoopEndOrPulse(nextAction))
            LoadOff(station_);
        journalStepEnd(run.StopReason == kPulseNg   ? stepends::PulseNg
                       : run.StopReason == kPulseOk ? stepends::PulseOk
                                                    : stepends::PulseNoResult,
                       {{QStringLiteral("reply"), lastPulseReply_}});
        run.StepStartText = dateTimeText(station_.clock.now());
        const double now = station_.clock.secondsSinceMidnight();
        run.MeasureRef += secondsBetween(run.StepStartTime, now);
        run.TickTime = now;
        run.StepStartTime = roundTo4(now);
        return true;
    }
    StartStep(station_, run.CurrentStep);
    if (interrupted() || !loadReachable())
        return false;
    // This measurement shows the new step's first values; it is not recorded.
    if (!measure())
        return false;
    reArm();
    return false;
}

void RunControl::followGoTo()
{
    RunState& run = station_.run;
    const int total = station_.TotalStepCount;
    const auto actionAt = [&](int index) {
        return index >= 0 && index < total
                   ? station_.StepTable[static_cast<std::size_t>(index)].ActionMode
                   : QString();
    };
    const auto findFrom = [&](int from, const QStringList& wanted) {
        for (int i = from; i < total; ++i) {
            if (wanted.contains(actionAt(i)))
                return i;
        }
        return -1;
    };
    const auto restoreCount = [&](int row, int count) {
        if (row > 0)
            setGridText(row, 5, QString::number(count));
    };
    const bool fromPulse = actionAt(run.CurrentStep) == actions::PlusLoad;
    const QString target =
        station_.StepTable[static_cast<std::size_t>(run.CurrentStep)].GoToStep.toUpper();

    if (target == QLatin1String("NEXTSTEP")) {
        ++run.CurrentStep;
    } else if (target == QLatin1String("ENDLOOP") || target == QLatin1String("ENDLOOP2")) {
        const bool outer = target == QLatin1String("ENDLOOP");
        const int i = findFrom(run.CurrentStep + 1, {outer ? actions::Loop : actions::Loop2});
        if (i < 0)
            return;
        if (fromPulse && !isLoopEndOrPulse(actionAt(i + 1)))
            LoadOff(station_);
        run.CurrentStep = i + 1;
        if (outer) {
            restoreCount(run.ForRow, run.ForCount);
            restoreCount(run.For2Row, run.For2Count);
        } else {
            restoreCount(run.For2Row, run.For2Count);
        }
    } else if (target == QLatin1String("CONTINUE")) {
        const int i = findFrom(run.CurrentStep + 1, {actions::Loop, actions::Loop2});
        if (i >= 0)
            run.CurrentStep = i;
    } else {
        const double g = parseNumber(target);
        if (g <= 0)
            return; // the same step again
        // A target beyond the program ends it.
        const int goal = static_cast<int>(std::min(g, double(total) + 1));
        // Keep the loop cells of the steps jumped over consistent.
        for (int i = run.CurrentStep; i <= goal - 1 && i < total; ++i) {
            const QString a = actionAt(i);
            if (a == actions::Loop)
                restoreCount(run.ForRow, run.ForCount);
            else if (a == actions::Loop2)
                restoreCount(run.For2Row, run.For2Count);
            else if (a == actions::For && run.ForRow > 0)
                run.ForCount = truncToInt(gridNumber(run.ForRow, 5));
            else if (a == actions::For2 && run.For2Row > 0)
                run.For2Count = truncToInt(gridNumber(run.For2Row, 5));
        }
        if (fromPulse && !isLoopEndOrPulse(actionAt(goal - 1)))
            LoadOff(station_);
        run.CurrentStep = goal - 1;
    }
}

void RunControl::reArm()
{
    RunState& run = station_.run;
    const double now = station_.clock.secondsSinceMidnight();
    const double x =
        now < run.TickTime ? kSecondsPerDay - run.TickTime + now : now - run.MeasureRef;
    // The next measuring instant of the running step, or its end when that comes first: a
    // measure time longer than the step must not keep it running.
    const double measure =
        parseNumber(station_.StepTable[static_cast<std::size_t>(run.CurrentStep)].MeasTime);
    const double r = std::min(measure - x, stepSecondsLeft(now));
    armRunTimer(r <= measure && r > kDueTolerance ? std::round(r * 1000.0 - kTimerLeadMs)
                                                  : kShortestRearmMs);
}

double RunControl::stepSecondsLeft(double now) const
{
    const RunState& run = station_.run;
    const double dwell = gridNumber(run.CurrentStep + 1, 4);
    if (dwell <= 0)
        return std::numeric_limits<double>::infinity();
    return dwell - secondsBetween(run.StepStartTime, now);
}

int RunControl::WaitForReceiveTimeOut(int stepIndex)
{
    const TestStep step = station_.StepTable[static_cast<std::size_t>(stepIndex)];
    const double seconds = (parseNumber(step.StopTime) + parseNumber(step.StopValue)) *
                               (parseNumber(step.StopAH) + 1) / 1000.0 +
                           1.0;
    const QString reply = station_.links().ReadReplyTimeout(station_.loadInstrument(), seconds);
    lastPulseReply_ = reply;
    const QStringList fields = reply.split(QLatin1Char(','));
    StationForm& form = station_.form;
    const QString& verdict = fields[0];
    if (verdict == QLatin1String("OK") || verdict == QLatin1String("NG")) {
        if (fields.size() < 3)
            throw RunError{QStringLiteral("The load's pulse-load result \"%1\" lacks the voltage "
                                          "or the current. The test was stopped.")
                               .arg(reply)};
        form.VoltageText.setText(fields[1]);
        form.CurrentText.setText(fields[2]);
        form.PowerText.setText(formatGeneral(parseNumber(fields[2]) * parseNumber(fields[1])));
        return verdict == QLatin1String("OK") ? 1 : 2;
    }
    form.VoltageText.setText(QStringLiteral("0"));
    form.CurrentText.setText(QStringLiteral("0"));
    form.PowerText.setText(QStringLiteral("0"));
    return 0;
}
