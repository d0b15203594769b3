// The run journal as the run writes it (one event as it happens), and a run taken up again from
// its journal after a crash.
#include "execution/RunControl.h"

#include "common/NumberText.h"
#include "execution/InterruptedRun.h"
#include "links/LinkLayer.h"
#include "load/Measurement.h"
#include "station/Station.h"
#include "testprogram/TestProgramFile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace {

const QString kNoSaveLog = QStringLiteral("NoSaveLog");
constexpr double kMsPerSecond = 1000.0;
constexpr double kSecondsPerHour = 3600.0;
constexpr double kWattsPerKilowatt = 1000.0;

// Seconds with their milliseconds, as the journal keeps them.
double toMs(double seconds)
{
    return std::round(seconds * kMsPerSecond) / kMsPerSecond;
}

} // namespace

void RunControl::journalEvent(const QString& event, const QJsonObject& fields)
{
    if (!journal_.write(event, station_.clock.now(), fields) && journalError_.isEmpty())
        journalError_ = journal_.error();
}

QJsonObject RunControl::loopFields() const
{
    const RunState& run = station_.run;
    const GridModel& grid = station_.form.TestStepGrid;
    QJsonObject loops;
    if (run.ForRow > 0) {
        loops[u"forRow"] = run.ForRow;
        loops[u"forCount"] = run.ForCount;
        loops[u"loop1"] = grid.text(run.ForRow, stepcolumns::Loop);
    }
    if (run.For2Row > 0) {
        loops[u"for2Row"] = run.For2Row;
        loops[u"for2Count"] = run.For2Count;
        loops[u"loop2"] = grid.text(run.For2Row, stepcolumns::Loop);
    }
    return loops;
}

bool RunControl::preRunCarries(const TestStep& step) const
{
    // Start's pre-run phase keeps only ramps, holds and load levels without dwell time; every
    // other step it starts is the timer's.
    if (phase_ != Phase::PreRun)
        return false;
    if (step.ActionMode == actions::RampOn || step.ActionMode == actions::RampOff)
        return true;
    return step.ActionMode == actions::LoadLevel && parseNumber(step.StopTime) == 0;
}

void RunControl::beginStep()
{
    const RunState& run = station_.run;
    showProgress();
    emit stepStarted(run.CurrentStep);
    const TestStep& step = station_.StepTable[static_cast<std::size_t>(run.CurrentStep)];
    // Loop markers have no time of their own: the next step's start carries the loop counts.
    if (actions::isLoopMarker(step.ActionMode))
        return;
    const QDateTime now = station_.clock.now();
    openStep_ = {true, run.CurrentStep, step.ActionMode,    loopFields(),
                 now,  run.RecordNo,    preRunCarries(step)};
    QJsonObject fields = openStep_.loops;
    fields[u"step"] = run.CurrentStep + 1;
    fields[u"action"] = step.ActionMode;
    fields[u"mode"] = step.LoadModeVolt;
    fields[u"value"] = step.CurrentValue;
    fields[u"preRun"] = openStep_.preRun;
    fields[u"record"] = run.RecordNo;
    fields[u"elapsed"] =
        toMs(secondsBetween(run.StepStartTime, station_.clock.secondsSinceMidnight()));
    fields[u"ah"] = run.StepAh;
    fields[u"kwh"] = run.StepKwh;
    if (openStep_.preRun)
        fields[u"passes"] = run.RampPassesDone;
    journalEvent(journalevents::StepStart, fields);
}

void RunControl::journalStepEnd(const QString& how, const QJsonObject& extra)
{
    if (!openStep_.open)
        return;
    openStep_.open = false;
    const RunState& run = station_.run;
    QJsonObject fields = openStep_.loops;
    for (auto it = extra.begin(); it != extra.end(); ++it)
        fields[it.key()] = it.value();
    fields[u"step"] = openStep_.step + 1;
    fields[u"action"] = openStep_.action;
    fields[u"start"] = journalTime(openStep_.start);
    fields[u"how"] = how;
    fields[u"elapsed"] =
        toMs(secondsBetween(run.StepStartTime, station_.clock.secondsSinceMidnight()));
    fields[u"ah"] = run.StepAh;
    fields[u"kwh"] = run.StepKwh;
    if (openStep_.preRun)
        fields[u"passes"] = run.RampPassesDone;
    fields[u"firstRecord"] = openStep_.firstRecord;
    fields[u"lastRecord"] = run.RecordNo - 1;
    journalEvent(journalevents::StepEnd, fields);
}

void RunControl::journalUnmeasured(int unmeasuredBefore)
{
    const RunState& run = station_.run;
    if (run.UnmeasuredValues == unmeasuredBefore || !log_.isOpen())
        return;
    const GridModel& phases = station_.form.grdPhase3;
    QJsonArray columns;
    for (int c = 1; c <= 3; ++c) {
        for (int r = 1; r <= 3; ++r) {
            if (!isNumberText(phases.text(r, c)))
                columns.append(phases.text(0, c) + QChar(u'A' + (r - 1)));
        }
    }
    journalEvent(journalevents::NotMeasured, {{QStringLiteral("record"), run.RecordNo - 1},
                                              {QStringLiteral("step"), run.CurrentStep + 1},
                                              {QStringLiteral("columns"), columns}});
}

void RunControl::journalRunStart()
{
    // A run without a CSV log keeps no journal: there would be nothing to take up again.
    if (!log_.isOpen())
        return;
    const RunState& run = station_.run;
    // The test that had the log's name before, cut short and never taken up again, is over.
    InterruptedRun superseded;
    QString error;
    if (!log_.keptPreviousJournal().isEmpty() &&
        readInterruptedRun(log_.keptPreviousJournal(), &superseded, &error) &&
        !RunJournal::append(log_.keptPreviousJournal(), journalevents::RunEnd, station_.clock.now(),
                            {{QStringLiteral("how"), QStringLiteral("discarded")},
                             {QStringLiteral("records"), superseded.lastRecord}},
                            &error))
        station_.prompts.message(error);
    const QString program = QFileInfo(station_.settings.TestFileName).absoluteFilePath();
    const QString sha = fileSha256(program, &error);
    if (sha.isEmpty())
        throw RunError{QStringLiteral("Cannot read the program file %1 for the run journal. The "
                                      "test was stopped.")
                           .arg(error)};
    if (!journal_.open(journalPathFor(run.LogFileName)))
        throw RunError{journal_.error() + QStringLiteral(". The test was stopped.")};
    journalEvent(journalevents::RunStart,
                 {{QStringLiteral("program"), program},
                  {QStringLiteral("sha256"), sha},
                  {QStringLiteral("sn"), station_.form.SNText.text()},
                  {QStringLiteral("link"), station_.links().linkAddress(station_.loadInstrument())},
                  {QStringLiteral("start"), run.TestStartText},
                  {QStringLiteral("csv"), QFileInfo(run.LogFileName).absoluteFilePath()},
                  {QStringLiteral("steps"), station_.TotalStepCount},
                  {QStringLiteral("estimate"),
                   QJsonObject{{QStringLiteral("text"), estimateText(startEstimate_)},
                               {QStringLiteral("fullSeconds"), startEstimate_.fullSeconds},
                               {QStringLiteral("shortestSeconds"), startEstimate_.shortestSeconds},
                               {QStringLiteral("endless"), startEstimate_.endless},
                               {QStringLiteral("records"), startEstimate_.records},
                               {QStringLiteral("complete"), startEstimate_.complete}}}});
}

void RunControl::journalRunEnd(RunEnd how, const QString& reason)
{
    if (!journal_.isOpen())
        return;
    QString text;
    switch (how) {
    case RunEnd::Finished:
        text = QStringLiteral("finished");
        break;
    case RunEnd::Stopped:
        text = QStringLiteral("stopped");
        break;
    case RunEnd::Error:
        text = QStringLiteral("error");
        break;
    case RunEnd::LoadLost:
        text = QStringLiteral("load lost");
        break;
    case RunEnd::ConnectError:
    case RunEnd::Refused:
        break; // a resumed run whose load did not answer stays interrupted, to be taken up again
    }
    if (!text.isEmpty()) {
        journalStepEnd(how == RunEnd::Error ? stepends::Error : stepends::Stop);
        QJsonObject fields{{QStringLiteral("how"), text},
                           {QStringLiteral("records"), std::max(station_.run.RecordNo - 1, 0)}};
        if (!reason.isEmpty())
            fields[u"message"] = reason;
        journalEvent(journalevents::RunEnd, fields);
    }
    journal_.close();
}

bool RunControl::discardInterrupted(const InterruptedRun& interrupted)
{
    QString error;
    if (RunJournal::append(interrupted.journalPath, journalevents::RunEnd, station_.clock.now(),
                           {{QStringLiteral("how"), QStringLiteral("discarded")},
                            {QStringLiteral("records"), interrupted.lastRecord}},
                           &error))
        return true;
    station_.prompts.message(error);
    return false;
}

bool RunControl::offerInterruptedRuns()
{
    if (phase_ != Phase::Idle)
        return false;
    // A journal without its end while another program runs a test here is that test's.
    if (!runLock_.tryLock(0))
        return false;
    runLock_.unlock();
    for (const InterruptedRun& r : findInterruptedRuns(station_.testLogDir(), nullptr)) {
        const PromptAnswer answer = station_.prompts.question(
            r.description(), {PromptAnswer::Resume, PromptAnswer::Discard});
        if (answer == PromptAnswer::Resume) {
            resumeInterrupted(r);
            return true;
        }
        if (answer == PromptAnswer::Discard)
            discardInterrupted(r);
    }
    return false;
}

void RunControl::resumeInterrupted(const InterruptedRun& r)
{
    if (phase_ != Phase::Idle)
        return;
    beginStart();
    QString error;
    const QString sha = fileSha256(r.program, &error);
    if (sha.isEmpty())
        return refuseStart(QStringLiteral("Cannot read the program file %1 of the run of SN %2. "
                                          "The run was not resumed.")
                               .arg(error, r.serialNumber));
    if (sha != r.programSha256)
        return refuseStart(
            QStringLiteral("The program file %1 has changed since the run of SN %2 started "
                           "(SHA-256 %3, at the start %4): resuming another program is not "
                           "resuming. The run was not resumed; Discard it, or start it again.")
                .arg(QDir::toNativeSeparators(r.program), r.serialNumber, sha, r.programSha256));
    station_.settings.TestFileName = r.program;
    if (!LoadTestProgram(station_))
        return refuseStart({});
    if (!takeRunLock())
        return refuseStart({});

    RunState& run = station_.run;
    run.LogFileName = r.logPath;
    run.NoSaveLogFlag = r.serialNumber == kNoSaveLog ? 1 : 0;
    station_.form.SNText.setText(r.serialNumber);
    QByteArray cut;
    if (!log_.reopen(&cut))
        return refuseStart({});
    if (!journal_.open(r.journalPath)) {
        log_.close();
        return refuseStart(journal_.error() + QStringLiteral(". The run was not resumed."));
    }
    beginRun();
    // Only whole records are the log's: what the crash left of a line is gone, and said so.
    if (!cut.isEmpty())
        journalEvent(journalevents::LogCut, {{QStringLiteral("bytes"), cut.size()},
                                             {QStringLiteral("text"), QString::fromUtf8(cut)}});
    restoreInterrupted(r);
    log_.seedSeriesFromLog();
    if (!connectForRun(false))
        return;
    const QDateTime now = station_.clock.now();
    journalEvent(journalevents::Resume,
                 {{QStringLiteral("after"), QStringLiteral("interruption")},
                  {QStringLiteral("interrupted"), journalTime(r.stoppedAt)},
                  {QStringLiteral("gap"), toMs(r.stoppedAt.msecsTo(now) / kMsPerSecond)},
                  {QStringLiteral("step"), run.CurrentStep + 1},
                  {QStringLiteral("records"), run.RecordNo - 1}});
    ResumeRun();
}

void RunControl::restoreInterrupted(const InterruptedRun& r)
{
    RunState& run = station_.run;
    const LoggedRecords log = readLoggedRecords(r.logPath, r.segmentRecord);
    run.RecordNo = log.lastNumber + 1;
    run.UnmeasuredValues = 0;
    run.TestStartText = r.testStartText;
    run.CurrentStep = r.stepIndex;
    run.ForRow = r.forRow;
    run.ForCount = r.forCount;
    run.For2Row = r.for2Row;
    run.For2Count = r.for2Count;
    if (r.forRow > 0)
        setGridText(r.forRow, stepcolumns::Loop, r.loop1);
    if (r.for2Row > 0)
        setGridText(r.for2Row, stepcolumns::Loop, r.loop2);
    run.PreRunCarried = r.preRun;
    run.StepOver = r.stepOver;
    run.StopReason = r.stopReason;
    // A step that was over hands on as the timer's step end does: the next step starts now.
    run.StepElapsed = r.stepOver ? 0.0 : r.segmentElapsed;
    run.RampPassesDone = r.segmentPasses;
    double ah = r.segmentAh;
    double kwh = r.segmentKwh;
    if (!r.halted && !r.stepOver) {
        // The step ran until the crash: its time and its charge up to the last sign of life,
        // from the records of its last stretch.
        run.StepElapsed += std::max(r.segmentStart.msecsTo(r.stoppedAt) / kMsPerSecond, 0.0);
        const QDateTime testStart = parseDateTimeText(r.testStartText);
        QDateTime previous = r.segmentStart;
        for (const LoggedRecord& record : log.records) {
            const QDateTime at = testStart.addSecs(record.seconds);
            const double hours =
                std::max(previous.msecsTo(at) / kMsPerSecond, 0.0) / kSecondsPerHour;
            ah += record.current * hours;
            kwh += record.power * hours / kWattsPerKilowatt;
            previous = std::max(previous, at);
        }
        run.RampPassesDone += static_cast<int>(log.records.size());
    }
    SetStepAccumulators(station_, ah, kwh);
}
