#include "report/RunEvents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The journal's event names and the fields the report reads.
const QString kRunStart = QStringLiteral("run start");
const QString kStepStart = QStringLiteral("step start");
const QString kStepEnd = QStringLiteral("step end");
const QString kLinkLost = QStringLiteral("link lost");
const QString kLinkRegained = QStringLiteral("link regained");
const QString kPause = QStringLiteral("pause");
const QString kResume = QStringLiteral("resume");
const QString kRunEnd = QStringLiteral("run end");

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
    RunEvents events;
    const QFileInfo info(logPath);
    events.journalPath = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
                         QStringLiteral(".journal");
    QFile file(events.journalPath);
    if (!file.exists())
        return events;
    if (!file.open(QIODevice::ReadOnly)) {
        events.journalProblem =
            QStringLiteral("the journal %1 cannot be read: %2")
                .arg(QDir::toNativeSeparators(events.journalPath), file.errorString());
        return events;
    }
    events.fromJournal = true;
    bool stepOpen = false;
    int lineNo = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        ++lineNo;
        // A last line without its end is a write the station did not finish.
        if (!line.endsWith('\n'))
            break;
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &parseError);
        if (!doc.isObject()) {
            events.journalProblem =
                QStringLiteral("line %1 of the journal %2 is not an event (%3); the events after "
                               "it are not shown")
                    .arg(lineNo)
                    .arg(QDir::toNativeSeparators(events.journalPath), parseError.errorString());
            break;
        }
        const QJsonObject o = doc.object();
        const QString event = o.value(QLatin1String("event")).toString();
        const QDateTime when = time(o, "time");
        if (event == kRunStart) {
            events.program = text(o, "program");
            events.programSha256 = text(o, "sha256");
            events.serialNumber = text(o, "sn");
            events.link = text(o, "link");
            events.start = when;
            if (o.value(QLatin1String("estimate")).isDouble())
                events.estimateSeconds = o.value(QLatin1String("estimate")).toDouble();
        } else if (event == kStepStart) {
            RunEvents::Step step;
            readStep(o, step);
            step.start = when;
            step.firstRecord = o.value(QLatin1String("record")).toInteger();
            step.lastRecord = step.firstRecord - 1;
            events.steps.push_back(step);
            stepOpen = true;
        } else if (event == kStepEnd) {
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
        } else if (event == kLinkLost) {
            events.marks.push_back(
                {when, QStringLiteral("load out of reach (%1)").arg(text(o, "link"))});
        } else if (event == kLinkRegained) {
            events.marks.push_back(
                {when, QStringLiteral("load reached again after %1 s").arg(text(o, "gap"))});
        } else if (event == kPause) {
            events.marks.push_back(
                {when, QStringLiteral("paused in step %1").arg(text(o, "step"))});
        } else if (event == kResume) {
            events.marks.push_back({when, QStringLiteral("resumed after %1 in step %2")
                                              .arg(text(o, "after"), text(o, "step"))});
        } else if (event == kRunEnd) {
            events.end = when;
            events.ended = text(o, "how");
            events.endMessage = text(o, "message");
        }
    }
    return events;
}
