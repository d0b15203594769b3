// Picking a halted run up again: Start after Pause, and a load that was lost during the run and
// answers again. Both stop the current step's clock where it stands and start the step again on
// the load with what remains of it.
#include "execution/RunControl.h"

#include "common/NumberText.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
#include "station/Station.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A load that gives no value at this many measuring instants in a row is out of reach.
constexpr int kInvalidInstantsForLoss = 10;
// The pause before the first attempt to reach a lost load; it doubles up to the longest.
constexpr double kFirstReconnectPauseMs = 1000.0;
constexpr double kLongestReconnectPauseMs = 30000.0;
const QString kLostConnect = QStringLiteral("Lost Connect!");

} // namespace

void RunControl::haltStepClock()
{
    RunState& run = station_.run;
    run.PreRunCarried = phase_ == Phase::PreRun;
    run.StepElapsed = secondsBetween(run.StepStartTime, station_.clock.secondsSinceMidnight());
}

void RunControl::ResumeRun()
{
    RunState& run = station_.run;
    run.StopRequested = 0;
    run.PauseRequested = 0;
    invalidInstants_ = 0;
    const double now = station_.clock.secondsSinceMidnight();
    double start = now - run.StepElapsed;
    if (start < 0)
        start += kSecondsPerDay;
    run.StepStartTime = roundTo4(start);
    run.MeasureRef = now;
    run.TickTime = now;
    // The time the run stood still is no step's charge or energy.
    run.LastMeasureMs = station_.clock.monotonicMs();
    try {
        if (run.StepOver) {
            // Cut short between two steps (a crash): the step was over, the run goes on with
            // the next one as it would have.
            run.StepOver = false;
            if (run.PreRunCarried) {
                phase_ = Phase::PreRun;
                ++run.CurrentStep;
                preRun();
                return;
            }
            phase_ = Phase::Timed;
            advance(station_.StepTable[static_cast<std::size_t>(run.CurrentStep)].ActionMode ==
                    actions::PlusLoad);
            return;
        }
        if (run.PreRunCarried) {
            phase_ = Phase::PreRun;
            preRun(true);
            return;
        }
        phase_ = Phase::Timed;
        const TestStep step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
        // A loop marker was counted already: the run goes on with the step after it.
        if (actions::isLoopMarker(step.ActionMode)) {
            advance();
            return;
        }
        highlightRow(run.CurrentStep + 1);
        beginStep();
        if (startTimedStep(step))
            advance(true);
    } catch (const RunError& e) {
        fail(e.message);
    }
}

bool RunControl::measure()
{
    const bool measured = MeasurePhases(station_, station_.run.CurrentStep);
    if (interrupted())
        return false;
    invalidInstants_ = measured ? 0 : invalidInstants_ + 1;
    if (measured)
        lossOpen_ = false;
    return loadReachable();
}

bool RunControl::loadReachable()
{
    const bool lost = station_.links().linkLost(station_.loadInstrument()) ||
                      invalidInstants_ >= kInvalidInstantsForLoss;
    if (!lost)
        return true;
    if (station_.settings.ReconnectSeconds <= 0) {
        // Reconnecting is switched off: the run goes on without the load, as it always did.
        if (!lossReported_) {
            lossReported_ = true;
            tellLostConnect();
        }
        return true;
    }
    beginReconnect();
    return false;
}

void RunControl::tellLostConnect()
{
    // Told from the event loop, not from inside the run: a message box that waits for the
    // operator must not hold the reconnect up.
    QTimer::singleShot(0, this, [this] { station_.prompts.message(kLostConnect); });
}

void RunControl::beginReconnect()
{
    RunState& run = station_.run;
    RunTimer.stop();
    haltStepClock();
    phase_ = Phase::Reconnecting;
    const double now = station_.clock.monotonicMs();
    reconnectingSinceMs_ = now;
    const bool newLoss = !lossOpen_;
    if (newLoss) {
        lossOpen_ = true;
        reconnectAttempts_ = 0;
        lossStartMs_ = now;
        ++run.LinkLosses;
    }
    // Nothing more goes to the load until it has answered the connection check again.
    station_.LoadConnected[0] = false;
    const int n = station_.loadInstrument();
    station_.links().LinkClose(n);
    showMeasurementsLive(station_, false);
    GridModel& grid = station_.form.LoadStatusGrid;
    grid.setText(1, 2, kLostConnect);
    grid.setForeColor(1, 2, gridcolors::Red);
    station_.form.RunStatus.setText(QStringLiteral("Lost Connect! at step %1: reaching %2 again")
                                        .arg(run.CurrentStep + 1)
                                        .arg(station_.links().linkAddress(n)));
    journalStepEnd(stepends::LinkLost);
    journalEvent(journalevents::LinkLost,
                 {{QStringLiteral("step"), run.CurrentStep + 1},
                  {QStringLiteral("link"), station_.links().linkAddress(n)}});
    if (newLoss)
        tellLostConnect();
    const double left =
        station_.settings.ReconnectSeconds * 1000.0 - (station_.clock.monotonicMs() - lossStartMs_);
    if (left <= 0) {
        giveUpReconnect();
        return;
    }
    ReconnectDeadline.start(static_cast<int>(std::min(std::ceil(station_.clock.realMsFor(left)),
                                                      double(std::numeric_limits<int>::max()))));
    scheduleReconnect();
}

void RunControl::scheduleReconnect()
{
    // Pauses of 1, 2, 4 ... 30 s; none that would end after the time allowed.
    const double pause =
        std::min(kFirstReconnectPauseMs * std::pow(2.0, std::min(reconnectAttempts_, 16)),
                 kLongestReconnectPauseMs);
    const double left =
        station_.settings.ReconnectSeconds * 1000.0 - (station_.clock.monotonicMs() - lossStartMs_);
    if (pause < left)
        ReconnectTimer.start(static_cast<int>(std::ceil(station_.clock.realMsFor(pause))));
}

void RunControl::reconnectAttempt()
{
    if (phase_ != Phase::Reconnecting)
        return;
    const int attempt = ++reconnectAttempts_;
    const int n = station_.loadInstrument();
    GridModel& grid = station_.form.LoadStatusGrid;
    grid.setText(1, 2, QStringLiteral("Reconnecting, attempt %1").arg(attempt));
    grid.setForeColor(1, 2, gridcolors::Orange);
    station_.links().LinkClose(n);
    const QString failure = AllConnect(station_);
    // Stop (or a closing window) may have come in during the attempt.
    if (phase_ != Phase::Reconnecting)
        return;
    if (station_.ConnectedLoadCount < 1) {
        emit reconnectAttempted(
            QStringLiteral("reconnecting, attempt %1: %2").arg(attempt).arg(failure));
        scheduleReconnect();
        return;
    }
    ReconnectDeadline.stop();
    const double gap = (station_.clock.monotonicMs() - reconnectingSinceMs_) / 1000.0;
    station_.run.LinkLostSeconds += gap;
    journalEvent(journalevents::LinkRegained,
                 {{QStringLiteral("attempt"), attempt}, {QStringLiteral("gap"), gap}});
    emit reconnectAttempted(QStringLiteral("reconnecting, attempt %1: %2 answers again after %3 s")
                                .arg(attempt)
                                .arg(station_.links().linkAddress(n))
                                .arg(QString::number(gap, 'f', 1)));
    ResumeRun();
}

void RunControl::giveUpReconnect()
{
    const int n = station_.loadInstrument();
    LinkLayer& links = station_.links();
    // A load that came back far enough to take a line but not to answer is still switched off.
    if (links.linkOpen(n) && !links.linkLost(n) && station_.form.LoadCheck[0]->flag())
        links.SendCommand(n, QStringLiteral("LOAD OFF"));
    const QString message =
        QStringLiteral("Lost Connect! The load at %1 did not answer again within %2 s; the test "
                       "was stopped at step %3.")
            .arg(links.linkAddress(n))
            .arg(station_.settings.ReconnectSeconds)
            .arg(station_.run.CurrentStep + 1);
    Stop(RunEnd::LoadLost, message);
    station_.prompts.message(message);
}
