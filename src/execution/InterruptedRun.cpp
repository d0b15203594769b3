#include "execution/InterruptedRun.h"

#include "common/Clock.h"
#include "execution/RunJournal.h"
#include "execution/RunLog.h"
#include "station/RunState.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace {

// The StopReason a step end leaves: after a pulse load its result, else "the step ended".
int pulseReason(const QString& how)
{
    if (how == stepends::PulseNg)
        return kPulseNg;
    if (how == stepends::PulseOk)
        return kPulseOk;
    return how == stepends::PulseNoResult ? kPulseNoResult : kStepEnded;
}

} // namespace

QString InterruptedRun::description() const
{
    QStringList loops;
    if (forRow > 0)
        loops << QStringLiteral("Loop1 ") + loop1;
    if (for2Row > 0)
        loops << QStringLiteral("Loop2 ") + loop2;
    return QStringLiteral("The run of SN %1 stopped unexpectedly at step %2 of %3%4 at %5.")
        .arg(serialNumber)
        .arg(stepIndex + 1)
        .arg(totalSteps)
        .arg(loops.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(loops.join(u", ")),
             stoppedAt.toString(QStringLiteral("hh:mm:ss")));
}

bool readInterruptedRun(const QString& journalPath, InterruptedRun* run, QString* error)
{
    const JournalContents journal = readJournal(journalPath);
    if (!journal.error.isEmpty()) {
        *error = journal.error;
        return false;
    }
    InterruptedRun r;
    bool started = false;
    for (const JournalEvent& e : journal.events) {
        const QJsonObject& f = e.fields;
        if (e.event == journalevents::RunStart) {
            r = InterruptedRun{};
            started = true;
            r.serialNumber = f[u"sn"].toString();
            r.program = f[u"program"].toString();
            r.programSha256 = f[u"sha256"].toString();
            r.testStartText = f[u"start"].toString();
            r.totalSteps = f[u"steps"].toInt();
        } else if (e.event == journalevents::StepStart) {
            r.stepIndex = f[u"step"].toInt() - 1;
            r.action = f[u"action"].toString();
            r.forRow = f[u"forRow"].toInt();
            r.forCount = f[u"forCount"].toInt();
            r.for2Row = f[u"for2Row"].toInt();
            r.for2Count = f[u"for2Count"].toInt();
            r.loop1 = f[u"loop1"].toString();
            r.loop2 = f[u"loop2"].toString();
            r.preRun = f[u"preRun"].toBool();
            r.segmentStart = e.time;
            r.segmentRecord = f[u"record"].toInt();
            r.segmentElapsed = f[u"elapsed"].toDouble();
            r.segmentAh = f[u"ah"].toDouble();
            r.segmentKwh = f[u"kwh"].toDouble();
            r.segmentPasses = f[u"passes"].toInt();
            r.halted = r.stepOver = false;
        } else if (e.event == journalevents::StepEnd) {
            const QString how = f[u"how"].toString();
            r.stepOver = how == stepends::DwellTime || how == stepends::StopValue ||
                         how == stepends::StopCharge || pulseReason(how) != kStepEnded;
            r.halted = !r.stepOver;
            r.stopReason = pulseReason(how);
            r.segmentElapsed = f[u"elapsed"].toDouble();
            r.segmentAh = f[u"ah"].toDouble();
            r.segmentKwh = f[u"kwh"].toDouble();
            r.segmentPasses = f[u"passes"].toInt();
        } else if (e.event == journalevents::RunEnd) {
            started = false;
        }
        r.stoppedAt = e.time;
    }
    if (!started)
        return false;
    r.journalPath = QFileInfo(journalPath).absoluteFilePath();
    r.logPath = QFileInfo(journalPath).absolutePath() + QLatin1Char('/') + r.serialNumber +
                QStringLiteral(".CSV");
    const LoggedRecords log = readLoggedRecords(r.logPath, std::numeric_limits<int>::max());
    r.lastRecord = log.lastNumber;
    const QDateTime lastRecordAt = parseDateTimeText(r.testStartText).addSecs(log.lastSeconds);
    if (log.lastSeconds >= 0 && lastRecordAt > r.stoppedAt)
        r.stoppedAt = lastRecordAt;
    *run = r;
    return true;
}

QList<InterruptedRun> findInterruptedRuns(const QString& testLogDir, QStringList* unreadable)
{
    QList<InterruptedRun> runs;
    const QDir dir(testLogDir);
    for (const QString& name : dir.entryList({QStringLiteral("*.journal")}, QDir::Files)) {
        InterruptedRun run;
        QString error;
        if (readInterruptedRun(dir.filePath(name), &run, &error)) {
            // A journal kept under a dated name belongs to an earlier test.
            if (QFileInfo(name).completeBaseName() == run.serialNumber)
                runs << run;
        } else if (!error.isEmpty() && unreadable) {
            *unreadable << error;
        }
    }
    std::sort(runs.begin(), runs.end(), [](const InterruptedRun& a, const InterruptedRun& b) {
        return a.stoppedAt > b.stoppedAt;
    });
    return runs;
}
