#include "execution/RunJournal.h"

#include "common/LineFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

const QString kEventKey = QStringLiteral("event");
const QString kTimeKey = QStringLiteral("time");

// One event as a JSON line with "event" and "time" first, where a reader looks for them
// (QJsonObject keeps its keys sorted).
QByteArray eventLine(const QString& event, const QDateTime& time, QJsonObject fields)
{
    fields.remove(kEventKey);
    fields.remove(kTimeKey);
    QByteArray line = QJsonDocument(QJsonObject{{kEventKey, event}, {kTimeKey, journalTime(time)}})
                          .toJson(QJsonDocument::Compact);
    if (!fields.isEmpty()) {
        line.chop(1);
        line += ',' + QJsonDocument(fields).toJson(QJsonDocument::Compact).mid(1);
    }
    return line + '\n';
}

} // namespace

QString journalTime(const QDateTime& time)
{
    return time.toString(Qt::ISODateWithMs);
}

bool RunJournal::open(const QString& path, QByteArray* cut)
{
    close();
    error_.clear();
    file_.setFileName(path);
    QString reason;
    if (!openLinesForAppend(file_, cut, &reason)) {
        error_ = QStringLiteral("Cannot write the run journal %1: %2")
                     .arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    return true;
}

void RunJournal::close()
{
    if (file_.isOpen())
        file_.close();
}

bool RunJournal::write(const QString& event, const QDateTime& time, const QJsonObject& fields)
{
    if (!enabled_ || !file_.isOpen())
        return true;
    QString reason;
    // On disk before the run goes on: a power loss must not take the last events with it.
    if (appendWholeLines(file_, eventLine(event, time, fields), &reason) &&
        ::fdatasync(file_.handle()) == 0)
        return true;
    if (reason.isEmpty())
        reason = QString::fromLocal8Bit(std::strerror(errno));
    error_ = QStringLiteral("Cannot write the run journal %1: %2")
                 .arg(QDir::toNativeSeparators(file_.fileName()), reason);
    return false;
}

bool RunJournal::append(const QString& path, const QString& event, const QDateTime& time,
                        const QJsonObject& fields, QString* error)
{
    RunJournal journal;
    const bool written = journal.open(path) && journal.write(event, time, fields);
    if (!written && error)
        *error = journal.error();
    return written;
}

JournalContents readJournal(const QString& path)
{
    JournalContents out;
    const QString native = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.error =
            QStringLiteral("Cannot read the run journal %1: %2").arg(native, file.errorString());
        return out;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    // The last piece is empty, or the torn line a crash left.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i + 1);
        QJsonParseError parseError{};
        const QJsonDocument doc = QJsonDocument::fromJson(lines[i], &parseError);
        const QJsonObject fields = doc.object();
        const QDateTime time =
            QDateTime::fromString(fields.value(kTimeKey).toString(), Qt::ISODateWithMs);
        QString problem;
        if (parseError.error != QJsonParseError::NoError)
            problem = parseError.errorString();
        else if (!doc.isObject() || fields.value(kEventKey).toString().isEmpty())
            problem = QStringLiteral("no \"event\"");
        else if (!time.isValid())
            problem = QStringLiteral("no valid \"time\"");
        if (!problem.isEmpty()) {
            out.error = QStringLiteral("The run journal %1 is damaged at line %2: %3")
                            .arg(native)
                            .arg(lineNo)
                            .arg(problem);
            return out;
        }
        out.events.append({fields.value(kEventKey).toString(), time, fields, lineNo});
    }
    return out;
}

QString fileSha256(const QString& path, QString* error)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}
