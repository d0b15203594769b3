#include "execution/RunControl.h"

#include "common/NumberText.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
#include "station/ProgramCommands.h"
#include "station/Station.h"
#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

#include <QCoreApplication>
#include <QDir>

#include <cmath>
#include <limits>

namespace {

// Stop waits this long after switching off before it closes the log; Pause a little longer.
constexpr double kStopSettleMs = 100.0;
constexpr double kPauseSettleMs = 2500.0;
// The hand-over arms the timer at once when the step's first measuring instant has passed.
constexpr double kLateHandOverMs = 100.0;
// Each ramp or hold pass allows this long for sending, measuring and recording.
constexpr double kRampPassAllowanceMs = 16.0;
const QString kNoSaveLog = QStringLiteral("NoSaveLog");
const QString kRunLockName = QStringLiteral(".acl3-run.lock");

QString channelCaption(const Station& station)
{
    return QStringLiteral("Channel - ") + QString::number(station.settings.ChannelNo);
}

bool channelReady(const Station& station)
{
    return station.LoadConnected[0] && station.form.LoadCheck[0]->flag();
}

// The level command of a mode ("CC:A 10"); empty for a mode the load does not take this way.
QString modeLevelCommand(const QString& mode, double value)
{
    for (const QString& m : {loadmodes::CC, loadmodes::CR, loadmodes::CV, loadmodes::CP}) {
        if (mode == m)
            return levelCommand(m + QStringLiteral(":A "), value);
    }
    return {};
}

} // namespace

RunControl::RunControl(Station& station, QObject* parent)
    : QObject(parent), station_(station), log_(station),
      runLock_(QDir(station.stationDir()).filePath(kRunLockName))
{
    // A run holds the lock for hours; only a lock whose process has gone is stale.
    runLock_.setStaleLockTime(0);
    RunTimer.setObjectName(QStringLiteral("RunTimer"));
    RunTimer.setSingleShot(true);
    RunTimer.setTimerType(Qt::PreciseTimer);
    connect(&RunTimer, &QTimer::timeout, this, &RunControl::RunTimerTick);
    ReconnectTimer.setObjectName(QStringLiteral("ReconnectTimer"));
    ReconnectTimer.setSingleShot(true);
    ReconnectTimer.setTimerType(Qt::PreciseTimer);
    connect(&ReconnectTimer, &QTimer::timeout, this, &RunControl::reconnectAttempt);
    ReconnectDeadline.setSingleShot(true);
    ReconnectDeadline.setTimerType(Qt::PreciseTimer);
    connect(&ReconnectDeadline, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Reconnecting)
            giveUpReconnect();
    });
}

RunControl::~RunControl() = default;

void RunControl::SetEditControlsEnabled(Station& station, bool enabled)
{
    for (const QString& control : StationForm::switchedControls()) {
        const bool runOnly =
            control == QLatin1String("StopCommand") || control == QLatin1String("PauseCommand");
        station.form.enabled(control).setFlag(runOnly ? !enabled : enabled);
    }
}

bool RunControl::interrupted() const
{
    return station_.run.interrupted();
}

double RunControl::gridNumber(int row, int col) const
{
    return parseNumber(station_.form.TestStepGrid.text(row, col));
}

void RunControl::setGridText(int row, int col, const QString& text)
{
    // The run's counting in loop and dwell cells is no edit of the program.
    const auto quiet = station_.programEdits.quiet();
    station_.form.TestStepGrid.setText(row, col, text);
}

void RunControl::highlightRow(int row)
{
    GridModel& grid = station_.form.TestStepGrid;
    grid.setTopRow(row);
    // The running step's row is the only one marked: loop markers passed on the way lose it.
    if (highlightedRow_ != row)
        unhighlightRow(highlightedRow_);
    grid.setRowBackColor(row, 1, 9, gridcolors::LightYellow);
    highlightedRow_ = row;
}

void RunControl::unhighlightRow(int row)
{
    station_.form.TestStepGrid.setRowBackColor(row, 1, 9, gridcolors::System);
}

void RunControl::armRunTimer(double clockMs)
{
    const double real = std::ceil(station_.clock.realMsFor(std::max(clockMs, 0.0)));
    RunTimer.start(static_cast<int>(std::min(real, double(std::numeric_limits<int>::max()))));
}

void RunControl::fail(const QString& message)
{
    Stop(RunEnd::Error, message);
    station_.prompts.message(message);
}

double RunControl::secondsBetween(double from, double to)
{
    return to >= from ? to - from : kSecondsPerDay - from + to;
}

bool RunControl::yieldInMarkerLoop(int& passes)
{
    // Loop markers repeat without any wait of their own; a program of nothing but markers
    // with large counts must still let Stop in.
    constexpr int kPassesBetweenEvents = 1000;
    if (++passes % kPassesBetweenEvents != 0)
        return true;
    QCoreApplication::processEvents();
    return !interrupted();
}

void RunControl::enterLoop(const QString& action, int forRow)
{
    RunState& run = station_.run;
    const int count = truncToInt(gridNumber(forRow, 5));
    if (action == actions::For) {
        run.ForRow = forRow;
        run.ForCount = count;
    } else {
        run.For2Row = forRow;
        run.For2Count = count;
    }
}

bool RunControl::endLoopPass(const QString& action)
{
    RunState& run = station_.run;
    const bool outer = action == actions::Loop;
    const int forRow = outer ? run.ForRow : run.For2Row;
    const int forCount = outer ? run.ForCount : run.For2Count;
    ResetStepAccumulators(station_);
    // A loop end without its FOR (the counts only balance) has no cell to count in.
    if (forRow <= 0)
        return false;
    const double n = gridNumber(forRow, 5);
    setGridText(forRow, 5, formatGeneral(n - 1));
    if (n > 1) {
        run.CurrentStep = forRow - 1; // the FOR step
        return true;
    }
    setGridText(forRow, 5, QString::number(forCount));
    return false;
}

void RunControl::StartCommand()
{
    RunState& run = station_.run;
    StationForm& form = station_.form;
    if (phase_ == Phase::Paused) {
        form.Frame2Caption.setText(channelCaption(station_));
        SetEditControlsEnabled(station_, false);
        journalEvent(journalevents::Resume, {{QStringLiteral("after"), QStringLiteral("pause")},
                                             {QStringLiteral("step"), run.CurrentStep + 1}});
        ResumeRun();
        return;
    }
    if (phase_ != Phase::Idle)
        return;
    beginStart();

    // Every check that can refuse the run comes before the log: a Start that does not run
    // leaves the logs as they were.
    // A value the load must not get refuses the run before anything is saved, logged or sent.
    const ProgramCheck check = checkProgram(stepsInGrid(form.TestStepGrid));
    if (const QString refusal = programRefusal(check.findings); !refusal.isEmpty())
        return refuseStart(refusal);
    startEstimate_ = check.estimate;

    // The run reads the step table: it must hold what the grid shows.
    if (station_.programEdits.unsaved()) {
        // A cancelled or failed save ends the command: reloading would drop the edits.
        if (!SaveCommand(station_) || !LoadTestProgram(station_))
            return refuseStart({});
    }
    if (station_.TotalStepCount <= 0)
        return refuseStart(QStringLiteral("Please setup test step, then press START."));

    if (!takeRunLock())
        return refuseStart({});
    noLogReason_ = noLogReason(station_);
    if (!noLogReason_.isEmpty())
        form.RunStatus.setText(noLogNotice(station_));
    if (station_.settings.SaveLogFileFlag == 1) {
        QString sn = form.SNText.text();
        if (sn.isEmpty() || sn == kNoSaveLog) {
            run.NoSaveLogFlag = 1;
            form.SNText.setText(kNoSaveLog);
            sn = kNoSaveLog;
        } else {
            run.NoSaveLogFlag = 0;
        }
        QString message;
        if (!checkSerialNumber(sn, &message))
            return refuseStart(message);
        run.LogFileName = QDir(station_.testLogDir()).filePath(sn + QStringLiteral(".CSV"));
        if (!log_.open())
            return refuseStart({});
    }

    beginRun();
    run.RecordNo = 1;
    run.UnmeasuredValues = 0;
    if (!connectForRun(true))
        return;

    run.CurrentStep = 0;
    run.TestStartText = dateTimeText(station_.clock.now());
    // Loops of an earlier run are not this run's.
    run.ForRow = run.ForCount = run.For2Row = run.For2Count = 0;
    try {
        journalRunStart();
        preRun();
    } catch (const RunError& e) {
        fail(e.message);
    }
}

void RunControl::beginStart()
{
    RunState& run = station_.run;
    StationForm& form = station_.form;
    endReported_ = false;
    run.StopRequested = 0;
    run.PauseRequested = 0;
    form.WorkLabel.setText(WorkText[static_cast<std::size_t>(std::abs(run.RecordNo) % 4)]);
    form.Frame2Caption.setText(channelCaption(station_));
    form.Frame2ForeColor.setColor(gridcolors::System);
}

void RunControl::refuseStart(const QString& message)
{
    phase_ = Phase::Idle;
    if (!message.isEmpty()) {
        station_.form.RunStatus.setText(message);
        station_.prompts.message(message);
    }
    // A paused run keeps its open log, and the lock that guards it.
    if (!log_.isOpen())
        runLock_.unlock();
    if (!endReported_) {
        endReported_ = true;
        emit runEnded(RunEnd::Refused);
    }
}

void RunControl::beginRun()
{
    RunState& run = station_.run;
    station_.form.Frame2BackColor.setColor(gridcolors::Orange);
    SetEditControlsEnabled(station_, false);
    ResetStepAccumulators(station_);
    run.LinkLosses = 0;
    run.LinkLostSeconds = 0;
    invalidInstants_ = 0;
    lossReported_ = false;
    lossOpen_ = false;
    journalError_.clear();
    openStep_ = {};
    phase_ = Phase::PreRun;
}

bool RunControl::connectForRun(bool newLog)
{
    StationForm& form = station_.form;
    const QString failure = AllConnect(station_);
    form.LoadCountLabel.setText(QString::number(station_.ConnectedLoadCount));
    if (interrupted()) {
        // Stop or Pause was pressed while the load was being connected: nothing was recorded.
        if (newLog)
            log_.discard();
        if (phase_ != Phase::Idle)
            Stop(RunEnd::Stopped);
        return false;
    }
    if (station_.ConnectedLoadCount < 1) {
        form.Frame2Caption.setText(form.Frame2Caption.text() + QStringLiteral(" - Load Error"));
        form.Frame2ForeColor.setColor(gridcolors::Red);
        // Only a run that records takes the log's name; a resumed run keeps its log.
        if (newLog)
            log_.discard();
        const QString message =
            QStringLiteral("Electronic Load Connect Error, Please check it.\n") + failure;
        Stop(RunEnd::ConnectError, message);
        station_.prompts.message(message);
        return false;
    }
    return true;
}

void RunControl::preRun(bool resuming)
{
    RunState& run = station_.run;
    int markerPasses = 0;
    for (;;) {
        // A ramp taken up again goes on from the passes it has done; any other starts afresh.
        if (!resuming)
            run.RampPassesDone = 0;
        resuming = false;
        run.StepStartText = dateTimeText(station_.clock.now());
        if (run.CurrentStep >= station_.TotalStepCount) {
            Stop(RunEnd::Finished);
            station_.prompts.message(QStringLiteral("Test Finished"));
            return;
        }
        run.StepDwell = roundTo4(gridNumber(run.CurrentStep + 1, 4));
        if (run.CurrentStep >= 1)
            unhighlightRow(run.CurrentStep);
        highlightRow(run.CurrentStep + 1);
        run.StepStartTime = roundTo4(station_.clock.secondsSinceMidnight());
        run.MeasureRef = run.StepStartTime;
        run.TickTime = run.StepStartTime;

        // A copy: the waits below may let Stop reload the program.
        const TestStep step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
        beginStep();
        const QString& action = step.ActionMode;

        if (action == actions::For || action == actions::For2) {
            ++run.CurrentStep;
            const int row = run.CurrentStep;
            enterLoop(action, row);
            station_.form.TestStepGrid.setTopRow(row);
            unhighlightRow(row);
            if (!yieldInMarkerLoop(markerPasses))
                return;
            continue;
        }
        if (action == actions::Loop || action == actions::Loop2) {
            // Another pass executes the FOR step again, which reads the count anew.
            if (!endLoopPass(action))
                ++run.CurrentStep;
            if (!yieldInMarkerLoop(markerPasses))
                return;
            continue;
        }
        if (action == actions::RampOn || action == actions::RampOff) {
            if (!rampOrHold(step, action == actions::RampOn))
                return;
            continue;
        }
        if (action == actions::LoadLevel) {
            // Switched on only where the step actuation would: a load that Stop cannot switch
            // off (its channel unticked) must not be switched on either.
            if (channelReady(station_)) {
                const double value = parseNumber(step.CurrentValue);
                const QString& mode = step.LoadModeVolt;
                if (mode == loadmodes::LINCC) {
                    sendToLoad(station_, QStringLiteral("MODE LIN"));
                    sendToLoad(station_, levelCommand(QStringLiteral("LIN:A "), value));
                } else if (const QString level = modeLevelCommand(mode, value); !level.isEmpty()) {
                    sendToLoad(station_, QStringLiteral("MODE ") + mode);
                    sendToLoad(station_, level);
                }
                sendToLoad(station_, QStringLiteral("LOAD ON"));
            }
            if (!commonTail())
                return;
            if (parseNumber(step.StopTime) == 0) {
                journalStepEnd(stepends::DwellTime);
                ++run.CurrentStep;
                continue;
            }
            handOverToTimer();
            return;
        }
        // Any other action is the timer's from here: started on the load as the timer starts
        // every later step, its dwell time counting from now.
        phase_ = Phase::Timed;
        if (startTimedStep(step))
            advance(true);
        return;
    }
}

bool RunControl::commonTail()
{
    if (station_.run.NoSaveLogFlag == 0 && !measure())
        return false;
    if (interrupted())
        return false;
    if (station_.run.NoSaveLogFlag == 0)
        record();
    return true;
}

void RunControl::record()
{
    const int unmeasured = station_.run.UnmeasuredValues;
    if (!log_.RecordResult())
        throw RunError{log_.writeError()};
    journalUnmeasured(unmeasured);
    // A run whose journal cannot be written could not be taken up again after a crash.
    if (!journalError_.isEmpty())
        throw RunError{journalError_ + QStringLiteral(". The test was stopped.")};
}

bool RunControl::takeRunLock()
{
    if (runLock_.isLocked() || runLock_.tryLock(0))
        return true;
    const QString folder = QDir::toNativeSeparators(station_.stationDir());
    qint64 pid = 0;
    QString host;
    QString program;
    if (runLock_.error() == QLockFile::LockFailedError &&
        runLock_.getLockInfo(&pid, &host, &program)) {
        station_.prompts.message(
            QStringLiteral("Another test is running on the station folder %1: %2 (process %3 on "
                           "%4). Wait until it ends, or stop it, then press START again.")
                .arg(folder, program.isEmpty() ? QStringLiteral("a program") : program)
                .arg(pid)
                .arg(host));
    } else {
        station_.prompts.message(
            QStringLiteral("Cannot take the run lock %1 of the station folder %2 (%3). The test "
                           "was not started.")
                .arg(QDir::toNativeSeparators(runLock_.fileName()), folder,
                     runLock_.error() == QLockFile::PermissionError
                         ? QStringLiteral("permission denied")
                         : QStringLiteral("it cannot be created")));
    }
    return false;
}

bool RunControl::rampOrHold(const TestStep& step, bool ramp)
{
    RunState& run = station_.run;
    const double seconds = parseNumber(step.StopTime);
    const double measureTime = parseNumber(step.MeasTime);
    const double value = parseNumber(step.CurrentValue);
    const QString& mode = step.LoadModeVolt;
    const auto sendLevel = [&](double level) {
        const QString command = modeLevelCommand(mode, level);
        if (!command.isEmpty() && channelReady(station_))
            sendToLoad(station_, command);
    };

    if (seconds == 0) {
        sendLevel(value);
        if (channelReady(station_))
            sendToLoad(station_, QStringLiteral("LOAD ON"));
        if (!commonTail())
            return false;
        journalStepEnd(stepends::DwellTime);
        ++run.CurrentStep;
        return true;
    }
    if (measureTime <= 0)
        throw RunError{QStringLiteral("Step %1 (%2) has a measure time of %3 s: a ramp needs a "
                                      "measure time above 0. The test was stopped.")
                           .arg(run.CurrentStep + 1)
                           .arg(step.ActionMode, step.MeasTime)};

    // Taken up again, the ramp goes on from the passes it has done, as if no time had passed.
    const double t0 = station_.clock.monotonicMs() - run.RampPassesDone * measureTime * 1000.0;
    const double passes = std::trunc(seconds) / measureTime;
    // The first ramp of a program ramps up from 0.
    const double previous =
        run.CurrentStep >= 1
            ? parseNumber(
                  station_.StepTable[static_cast<std::size_t>(run.CurrentStep - 1)].CurrentValue)
            : 0.0;
    const double increment = passes > 0 ? (value - previous) / passes : 0.0;
    double level = previous + increment * run.RampPassesDone;
    if (!ramp)
        sendLevel(value);
    double passEnd = run.RampPassesDone > 0 ? station_.clock.monotonicMs() : t0;
    for (double i = run.RampPassesDone + 1; i <= passes; ++i) {
        if (passEnd - t0 >= seconds * 1000.0)
            break;
        if (ramp) {
            level += increment;
            sendLevel(level);
        }
        if (run.NoSaveLogFlag == 0 && !measure())
            return false;
        QCoreApplication::processEvents();
        if (interrupted())
            return false;
        if (run.NoSaveLogFlag == 0)
            record();
        ++run.RampPassesDone;
        const double wait =
            measureTime * 1000.0 - (station_.clock.monotonicMs() - passEnd) - kRampPassAllowanceMs;
        if (wait > 0) {
            WaitUntil(station_.clock, wait, [this] { return interrupted(); });
            if (interrupted())
                return false;
        }
        passEnd = station_.clock.monotonicMs();
    }
    journalStepEnd(stepends::DwellTime);
    ++run.CurrentStep;
    return true;
}

void RunControl::handOverToTimer()
{
    RunState& run = station_.run;
    const TestStep& step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
    const double measureTime = parseNumber(step.MeasTime);
    const double now = station_.clock.secondsSinceMidnight();
    const double remaining =
        std::min(measureTime - secondsBetween(run.StepStartTime, now), stepSecondsLeft(now)) *
        1000.0;
    run.StopRequested = 0;
    phase_ = Phase::Timed;
    armRunTimer(remaining > kTimerLeadMs ? remaining - kTimerLeadMs : kLateHandOverMs);
}

void RunControl::PauseCommand()
{
    if (phase_ != Phase::PreRun && phase_ != Phase::Timed)
        return;
    StationForm& form = station_.form;
    RunState& run = station_.run;
    form.enabled(QStringLiteral("PauseCommand")).setFlag(false);
    RunTimer.stop();
    run.PauseRequested = 1;
    haltStepClock();
    phase_ = Phase::Paused;
    form.Frame2Caption.setText(form.Frame2Caption.text() + QStringLiteral("  Pause"));
    OutputsOff(station_);
    journalStepEnd(stepends::Pause);
    journalEvent(journalevents::Pause, {{QStringLiteral("step"), run.CurrentStep + 1}});
    showMeasurementsLive(station_, false);
    showEnd(QStringLiteral("Paused at step %1").arg(run.CurrentStep + 1));
    DelayMs(station_.clock, kPauseSettleMs);
    // Start takes the run up again only after the wait: a step resumed inside it would run
    // beside the one the pause interrupted.
    if (phase_ == Phase::Paused)
        form.enabled(QStringLiteral("StartCommand")).setFlag(true);
}

void RunControl::StopCommand()
{
    Stop(RunEnd::Stopped);
}

void RunControl::Stop(RunEnd how, const QString& reason)
{
    if (phase_ == Phase::Stopping)
        return;
    const bool wasReconnecting = phase_ == Phase::Reconnecting;
    phase_ = Phase::Stopping;
    RunState& run = station_.run;
    StationForm& form = station_.form;
    run.PauseRequested = 0;
    run.StopRequested = 1;
    RunTimer.stop();
    ReconnectTimer.stop();
    ReconnectDeadline.stop();
    if (wasReconnecting)
        run.LinkLostSeconds += (station_.clock.monotonicMs() - reconnectingSinceMs_) / 1000.0;
    form.Frame2Caption.setText(form.Frame2Caption.text() + QStringLiteral("  Stoping......"));
    OutputsOff(station_);
    showMeasurementsLive(station_, false);
    DelayMs(station_.clock, kStopSettleMs);
    journalRunEnd(how, reason);
    log_.close();
    runLock_.unlock();
    SetEditControlsEnabled(station_, true);
    // Restores the cells the run rewrote (loop counts, dwell times).
    LoadTestProgram(station_);
    form.WorkLabel.setText(WorkText[4]);
    form.Frame2BackColor.setColor(gridcolors::System);
    form.Frame2Caption.setText(channelCaption(station_));
    QCoreApplication::processEvents();
    for (int row = 1; row <= station_.TotalStepCount; ++row)
        unhighlightRow(row);
    highlightedRow_ = 0;
    station_.links().LinkClose(station_.loadInstrument());
    phase_ = Phase::Idle;
    switch (how) {
    case RunEnd::Finished:
        showEnd(QStringLiteral("Finished"));
        break;
    case RunEnd::Stopped:
        showEnd(QStringLiteral("Stopped"));
        break;
    case RunEnd::ConnectError:
    case RunEnd::Refused:
        form.RunStatus.setText(reason);
        break;
    case RunEnd::Error:
    case RunEnd::LoadLost:
        showEnd(reason);
        break;
    }
    if (!endReported_) {
        endReported_ = true;
        emit runEnded(how);
    }
}

void RunControl::showEnd(const QString& how)
{
    const RunState& run = station_.run;
    const int records = std::max(run.RecordNo - 1, 0);
    QString text = how.simplified();
    if (station_.settings.SaveLogFileFlag == 1)
        text += QStringLiteral(": %1 records in %2")
                    .arg(records)
                    .arg(QDir::toNativeSeparators(run.LogFileName));
    else
        text += QStringLiteral(": %1 records (no CSV log)").arg(records);
    station_.form.RunStatus.setText(text);
}

void RunControl::windowClosing()
{
    if (phase_ == Phase::Idle || phase_ == Phase::Stopping)
        return;
    StationForm& form = station_.form;
    station_.run.StopRequested = 1;
    RunTimer.stop();
    ReconnectTimer.stop();
    ReconnectDeadline.stop();
    form.Frame2Caption.setText(form.Frame2Caption.text() + QStringLiteral("  Stoping......"));
    OutputsOff(station_);
    // The window goes; the log must not stay half-open behind it.
    journalRunEnd(RunEnd::Stopped, QStringLiteral("the window was closed"));
    log_.close();
    runLock_.unlock();
    phase_ = Phase::Idle;
    if (!endReported_) {
        endReported_ = true;
        emit runEnded(RunEnd::Stopped);
    }
}

void RunControl::showProgress()
{
    const RunState& run = station_.run;
    const int step = std::clamp(run.CurrentStep, 0, kStepTableSize - 1);
    const TestStep& s = station_.StepTable[static_cast<std::size_t>(step)];
    const GridModel& grid = station_.form.TestStepGrid;
    QString text = QStringLiteral("Step %1 of %2: %3")
                       .arg(step + 1)
                       .arg(station_.TotalStepCount)
                       .arg(s.ActionMode);
    if (!s.LoadModeVolt.isEmpty())
        text += QLatin1Char(' ') + s.LoadModeVolt;
    if (!s.CurrentValue.isEmpty())
        text += QLatin1Char(' ') + s.CurrentValue;
    // A pulse load's fourth field is its high time in milliseconds, not a dwell time.
    const QString dwell = grid.text(step + 1, 4);
    if (s.ActionMode == actions::PlusLoad)
        text += QStringLiteral(", T-High %1 ms, %2 cycles").arg(dwell, s.StopAH);
    else if (!dwell.isEmpty())
        text += QStringLiteral(", dwell %1 s").arg(dwell);
    if (run.ForRow > 0)
        text += QStringLiteral(", Loop1 %1").arg(grid.text(run.ForRow, 5));
    if (run.For2Row > 0)
        text += QStringLiteral(", Loop2 %1").arg(grid.text(run.For2Row, 5));
    text += QStringLiteral(", run time ") +
            FormatElapsed(run.TestStartText, dateTimeText(station_.clock.now()));
    if (!noLogReason_.isEmpty())
        text += QStringLiteral(" (no CSV log: %1)").arg(noLogReason_);
    station_.form.RunStatus.setText(text);
}
