#pragma once

#include "execution/RunJournal.h"
#include "execution/RunLog.h"
#include "testprogram/ProgramCheck.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

class Station;
struct InterruptedRun;
struct TestStep;

// How a run ended, for the window's captions and the headless runner's exit status.
enum class RunEnd
{
    Finished,     // the program ran to its end
    Stopped,      // the operator pressed Stop (or closed the window, or the runner was told to)
    ConnectError, // no load answered
    Error,        // an error inside the run ended it
    Refused,      // the run did not start: no steps, a refused serial number, no log, no save
    LoadLost,     // the load was lost during the run and did not come back in time
};

// The life of a run: Start (save and reload the program when the grid changed, create the log,
// connect the load, carry the leading steps of the program itself) and the run timer that
// carries the rest (the step sequencer); Pause and Stop, which switch the load off.
//
// Everything runs on one thread. Waits that process events (a discharge's settling time, reply
// waits, ramp passes, the pulse-load result, a connection attempt) let Stop, Pause and a closing
// window in; after every such wait the run checks StopRequested and PauseRequested before it
// sends anything more or re-arms the timer, and it never holds a reference into the grid or the
// step table across a wait (Stop reloads the program).
//
// A load that is lost during the run (its link gone, or ten measuring instants in a row without
// one value) halts the step's clock and is reached for again with growing pauses, for
// ReconnectSeconds at most; when it answers, the run picks up where it stood (ResumeRun), else
// it ends with RunEnd::LoadLost.
//
// A run with a CSV log keeps its journal beside it (RunJournal): every step start and end, pause
// and resume, link lost and regained, values not measured, the run's start and end, each on disk
// as it happens. A run whose journal has no end was cut short (a crash, a kill, a power loss) and
// is taken up again from it (resumeInterrupted).
class RunControl : public QObject
{
    Q_OBJECT

public:
    explicit RunControl(Station& station, QObject* parent = nullptr);
    ~RunControl() override;

    // Starts a run; after Pause, picks the paused run up again.
    void StartCommand();
    void PauseCommand();
    void StopCommand();
    // The window closes while a test runs: the load is switched off and the log closed.
    void windowClosing();

    // Starts the current step again on the load where the run stands: its remaining dwell time
    // (the step's clock stood still since the run halted), the loop counts, the record numbers
    // and the log as they are, a ramp from the pass it had reached. The load must be connected.
    // Used by Start after Pause and after a lost load answers again.
    void ResumeRun();

    // Takes up a run that a crash cut short, as its journal and log say: the same program
    // (refused when its SHA-256 differs from the journal's), the connection check and reset,
    // the log appended to with its records numbered on, the loop counts, the step restarted
    // with the dwell time it had left and its Ah and kWh continued.
    void resumeInterrupted(const InterruptedRun& interrupted);
    // Ends an interrupted run's journal with the run end "discarded".
    bool discardInterrupted(const InterruptedRun& interrupted);
    // Asks about each interrupted run of the station (Resume / Discard), the most recent first;
    // true when one is taken up. Nothing is asked while another program runs a test here.
    bool offerInterruptedRuns();

    bool isRunning() const
    {
        return phase_ == Phase::PreRun || phase_ == Phase::Timed || phase_ == Phase::Reconnecting;
    }
    bool isPaused() const { return phase_ == Phase::Paused; }
    RunLog& log() { return log_; }
    RunJournal& journal() { return journal_; }
    // The run timer (a precise single shot, re-armed for each measuring instant).
    const QTimer& runTimer() const { return RunTimer; }

    static void SetEditControlsEnabled(Station& station, bool enabled);

signals:
    // A step begins on the load (or, for loop markers, is passed): for progress lines.
    void stepStarted(int stepIndex);
    void runEnded(RunEnd how);
    // One attempt to reach a lost load again has ended: a line for the operator.
    void reconnectAttempted(const QString& text);

private:
    enum class Phase
    {
        Idle,
        PreRun,
        Timed,
        Paused,
        Reconnecting,
        Stopping
    };

    // The timer is armed this much before a measuring instant; the tick then waits out the rest
    // precisely, since a timer alone wakes a millisecond or two late.
    static constexpr double kTimerLeadMs = 3.0;
    static constexpr double kSecondsPerDay = 86400.0;

    // The parts of a Start that a run taken up after a crash shares.
    void beginStart();
    void refuseStart(const QString& message);
    void beginRun();
    // Connects the load for the run; false when the run ended there. A new log goes again
    // when no load answered (`newLog`), a resumed run's log stays.
    bool connectForRun(bool newLog);
    void restoreInterrupted(const InterruptedRun& interrupted);

    // The journal: one event as it happens. A write that fails ends the run at its next record.
    void journalEvent(const QString& event, const QJsonObject& fields = {});
    void journalRunStart();
    void journalRunEnd(RunEnd how, const QString& reason);
    // The step's start on the load (not a loop marker's), with progress line and signal.
    void beginStep();
    void journalStepEnd(const QString& how, const QJsonObject& extra = {});
    void journalUnmeasured(int unmeasuredBefore);
    QJsonObject loopFields() const;
    bool preRunCarries(const TestStep& step) const;

    // Start's pre-run phase: loop markers, ramps, holds and load levels without dwell time,
    // until a step that the timer carries.
    // `resuming`: the current step is taken up again, a ramp from the passes it has done.
    void preRun(bool resuming = false);
    bool rampOrHold(const TestStep& step, bool ramp);
    bool commonTail();
    void handOverToTimer();

    // The step sequencer: one tick of the run timer.
    void RunTimerTick();
    void tick();
    int stopEvaluation(const TestStep& step) const;
    // Moves on to the next step; `afterPulse`: a pulse load has just given its result.
    void advance(bool afterPulse = false);
    void followGoTo();
    // Starts a step the timer carries. True when it was a pulse load whose result is in and the
    // run advances at once; false when the timer is armed for the step or the run halted.
    bool startTimedStep(const TestStep& step);
    void reArm();
    // Seconds until the running step's dwell time is over at `now` (seconds since midnight);
    // infinite for a step without one, which ends at its first measuring instant.
    double stepSecondsLeft(double now) const;
    // Records a measurement; a log that cannot be written ends the run (RunError).
    void record();
    // One run at a time on a station folder: a second one would rename the first one's open log.
    bool takeRunLock();
    int WaitForReceiveTimeOut(int stepIndex);

    // One measuring instant; false when the run halted meanwhile or the load is out of reach.
    bool measure();
    // Whether the run can go on with the load; a lost load starts the reconnect (false), or with
    // reconnecting switched off is reported once and the run goes on without it (true).
    bool loadReachable();
    // Stops the current step's clock where it stands.
    void haltStepClock();
    void beginReconnect();
    void scheduleReconnect();
    void reconnectAttempt();
    void giveUpReconnect();
    void tellLostConnect();

    void Stop(RunEnd how, const QString& reason = {});
    // The status line at the end of a run or at a pause: how, and what was recorded where.
    void showEnd(const QString& how);
    void armRunTimer(double clockMs);
    void highlightRow(int row);
    void unhighlightRow(int row);
    void showProgress();
    bool interrupted() const;
    double gridNumber(int row, int col) const;
    void setGridText(int row, int col, const QString& text);
    // A FOR or FOR2 step on grid row forRow: remembers its row and reads its count.
    void enterLoop(const QString& action, int forRow);
    // A LOOP or LOOP2 step: counts the pass in its FOR row's cell; when another pass is due,
    // makes the FOR step current and says so; when the loop ends, shows the count again.
    bool endLoopPass(const QString& action);
    // Lets Stop in while loop markers repeat without a step that waits.
    bool yieldInMarkerLoop(int& passes);
    void fail(const QString& message);
    static double secondsBetween(double from, double to);

    Station& station_;
    RunLog log_;
    QLockFile runLock_;
    // Why this run has no CSV log; empty when it has one.
    QString noLogReason_;
    RunJournal journal_;
    // The program check's estimate for the run Start begins, for its journal.
    RunEstimate startEstimate_;
    QString journalError_;
    // The step whose start is journalled and whose end is not yet.
    struct OpenStep
    {
        bool open = false;
        int step = 0;
        QString action;
        QJsonObject loops;
        QDateTime start;
        int firstRecord = 0;
        bool preRun = false;
    } openStep_;
    QString lastPulseReply_;
    QTimer RunTimer;
    QTimer ReconnectTimer;
    // Ends the reconnecting when its time is over, also in the middle of an attempt.
    QTimer ReconnectDeadline;
    Phase phase_ = Phase::Idle;
    bool endReported_ = false;
    int highlightedRow_ = 0;
    // Measuring instants in a row without one value.
    int invalidInstants_ = 0;
    // The loss has been reported (with reconnecting switched off, once per run).
    bool lossReported_ = false;
    // A loss lasts until the load gives a value again: a load that answers the connection check
    // and is gone again at once is the same loss, with the same time allowed.
    bool lossOpen_ = false;
    int reconnectAttempts_ = 0;
    double lossStartMs_ = 0;
    double reconnectingSinceMs_ = 0;
};

Q_DECLARE_METATYPE(RunEnd)

// An error inside a run: ends it through Stop with this message.
struct RunError
{
    QString message;
};
