#include "report/RunEvents.h"

#include "execution/RunJournal.h"

#include <QFileInfo>
#include <QJsonObject>

namespace {

QString text(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? QString::number(v.toDouble()) : v.toString();
}

QDateTime time(const QJsonObject& o, const char* key)
{
    return QDateTime::fromString(o.value(QLatin1String(key)).toString(), Qt::ISODateWithMs);
}

void readStep(const QJsonObject& o, RunEvents::Step& step)
{
    step.step = o.value(QLatin1String("step")).toInt();
    step.loop1 = text(o, "loop1");
    step.loop2 = text(o, "loop2");
    if (step.action.isEmpty())
        step.action = text(o, "action");
    if (o.contains(QLatin1String("mode")))
        step.mode = text(o, "mode");
    if (o.contains(QLatin1String("value")))
        step.value = text(o, "value");
}

} // namespace

RunEvents readRunEvents(const QString& logPath)
{
    namespace je = journalevents;
    RunEvents events;
    const QFileInfo info(logPath);
    events.journalPath = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
                         QStringLiteral(".journal");
    const QFileInfo journalInfo(events.journalPath);
    if (!journalInfo.exists())
        return events;
    // A damaged line ends the reading: the events before it are shown, and the report says why
    // the rest are not.
    const JournalContents journal = readJournal(events.journalPath);
    events.journalProblem = journal.error;
    events.fromJournal = journalInfo.isReadable();
    bool stepOpen = false;
    for (const JournalEvent& e : journal.events) {
        const QJsonObject& o = e.fields;
        const QDateTime& when = e.time;
        if (e.event == je::RunStart) {
            events.program = text(o, "program");
            events.programSha256 = text(o, "sha256");
            events.serialNumber = text(o, "sn");
            events.link = text(o, "link");
            events.start = when;
            if (o.value(QLatin1String("estimate")).isDouble())
                events.estimateSeconds = o.value(QLatin1String("estimate")).toDouble();
        } else if (e.event == je::StepStart) {
            RunEvents::Step step;
            readStep(o, step);
            step.start = when;
            step.firstRecord = o.value(QLatin1String("record")).toInteger();
            step.lastRecord = step.firstRecord - 1;
            events.steps.push_back(step);
            stepOpen = true;
        } else if (e.event == je::StepEnd) {
            if (!stepOpen) {
                events.steps.emplace_back();
                events.steps.back().start = time(o, "start");
            }
            RunEvents::Step& step = events.steps.back();
            readStep(o, step);
            step.end = when;
            step.how = text(o, "how");
            step.reply = text(o, "reply");
            step.firstRecord = o.value(QLatin1String("firstRecord")).toInteger();
            step.lastRecord = o.value(QLatin1String("lastRecord")).toInteger();
            stepOpen = false;
        } else if (e.event == je::LinkLost) {
            events.marks.push_back(
                {when, QStringLiteral("load out of reach (%1)").arg(text(o, "link"))});
        } else if (e.event == je::LinkRegained) {
            events.marks.push_back(
                {when, QStringLiteral("load reached again after %1 s").arg(text(o, "gap"))});
        } else if (e.event == je::Pause) {
            events.marks.push_back(
                {when, QStringLiteral("paused in step %1").arg(text(o, "step"))});
        } else if (e.event == je::Resume) {
            events.marks.push_back({when, QStringLiteral("resumed after %1 in step %2")
                                              .arg(text(o, "after"), text(o, "step"))});
        } else if (e.event == je::RunEnd) {
            events.end = when;
            events.ended = text(o, "how");
            events.endMessage = text(o, "message");
        }
    }
    return events;
}
