#include "series/RunLogReader.h"

#include "series/SeriesStore.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <limits>
#include <vector>

const QString kRunLogHeader = QStringLiteral(
    "No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,CurrentB,CurrentC,PowerA,PowerB,"
    "PowerC,TotalTime,StepMode");

namespace {

constexpr int kFieldCount = 15;
constexpr int kStepField = 1;
constexpr int kLoop1Field = 2;
constexpr int kFirstValueField = 4;
constexpr int kTotalTimeField = 13;
constexpr qint64 kLargestFileBytes = qint64(4) << 30;

struct Record
{
    SeriesStore::Values values;
    int step = 0;
    QString loop1;
};

// "hhh:mm:ss" in seconds, or -1.
qint64 elapsedSeconds(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() != 3 || parts[1].size() != 2 || parts[2].size() != 2)
        return -1;
    bool ok[3] = {};
    const qint64 h = parts[0].toLongLong(&ok[0]);
    const int m = parts[1].toInt(&ok[1]);
    const int s = parts[2].toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || h < 0 || m < 0 || m > 59 || s < 0 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

// The record of a line, or a description of what is wrong with it.
QString parseRecord(const QByteArray& line, Record& record, qint64& seconds)
{
    const QList<QByteArray> fields = line.split(',');
    if (fields.size() != kFieldCount)
        return QStringLiteral("%1 fields instead of %2").arg(fields.size()).arg(kFieldCount);
    bool ok = false;
    fields[0].toLongLong(&ok);
    if (!ok)
        return QStringLiteral("the record number \"%1\" is not a whole number")
            .arg(QString::fromUtf8(fields[0]));
    record.step = fields[kStepField].toInt(&ok);
    if (!ok || record.step < 1)
        return QStringLiteral("the step \"%1\" is not a step number")
            .arg(QString::fromUtf8(fields[kStepField]));
    record.loop1 = QString::fromUtf8(fields[kLoop1Field]);
    for (int v = 0; v < SeriesStore::kSeriesCount; ++v) {
        const QByteArray& field = fields[kFirstValueField + v];
        double& value = record.values[static_cast<std::size_t>(v)];
        if (field.isEmpty()) {
            value = std::numeric_limits<double>::quiet_NaN();
            continue;
        }
        value = field.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return QStringLiteral("%1 \"%2\" is not a number")
                .arg(kRunLogHeader.section(QLatin1Char(','), kFirstValueField + v,
                                           kFirstValueField + v),
                     QString::fromUtf8(field));
    }
    seconds = elapsedSeconds(fields[kTotalTimeField]);
    if (seconds < 0)
        return QStringLiteral("the TotalTime \"%1\" is not hh:mm:ss")
            .arg(QString::fromUtf8(fields[kTotalTimeField]));
    return {};
}

} // namespace

QString RunLogRead::warning(const QString& path) const
{
    if (badLines == 0)
        return {};
    return QStringLiteral("%1 line(s) of %2 are not whole records and are not shown (first: %3).")
        .arg(badLines)
        .arg(QDir::toNativeSeparators(path), firstBadLine);
}

RunLogRead readRunLog(const QString& path, SeriesStore& store)
{
    RunLogRead result;
    store.clear();
    const QString native = QDir::toNativeSeparators(path);
    const auto refuse = [&](const QString& reason) {
        result.error = QStringLiteral("%1 is not a run log: %2.").arg(native, reason);
        return result;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    if (file.isSequential() || file.size() > kLargestFileBytes)
        return refuse(QStringLiteral("it is not a regular file of at most 4 GB"));

    QByteArray header = file.readLine(kRunLogHeader.size() + 8).trimmed();
    if (header.startsWith("\xEF\xBB\xBF"))
        header.remove(0, 3);
    if (header.isEmpty() && file.atEnd())
        return refuse(QStringLiteral("the file is empty"));
    if (QString::fromUtf8(header) != kRunLogHeader)
        return refuse(QStringLiteral("its first line is not the header of a run log (%1, ...)")
                          .arg(kRunLogHeader.section(QLatin1Char(','), 0, 4)));

    // The records of one whole second of TotalTime, spread over it when the second is over.
    std::vector<Record> second;
    qint64 secondStart = -1;
    const auto flush = [&] {
        const double n = static_cast<double>(second.size());
        for (std::size_t i = 0; i < second.size(); ++i)
            store.append(static_cast<double>(secondStart) + static_cast<double>(i) / n,
                         second[i].values, second[i].step, second[i].loop1);
        result.records += static_cast<qsizetype>(second.size());
        second.clear();
    };

    qsizetype lineNo = 1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++lineNo;
        if (line.isEmpty())
            continue;
        Record record;
        qint64 seconds = 0;
        QString problem = parseRecord(line, record, seconds);
        if (problem.isEmpty() && seconds < secondStart)
            problem = QStringLiteral("the TotalTime goes back");
        if (!problem.isEmpty()) {
            if (result.badLines++ == 0)
                result.firstBadLine = QStringLiteral("line %1: %2").arg(lineNo).arg(problem);
            continue;
        }
        if (seconds != secondStart) {
            flush();
            secondStart = seconds;
        }
        second.push_back(std::move(record));
    }
    flush();
    result.ok = true;
    return result;
}
