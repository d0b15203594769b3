#include "series/RunLogReader.h"

#include "series/SeriesStore.h"

#include <QDir>
#include <QFile>

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

const QString kRunLogHeader = QStringLiteral(
    "No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,CurrentB,CurrentC,PowerA,PowerB,"
    "PowerC,TotalTime,StepMode");

namespace {

constexpr int kFieldCount = 15;
constexpr int kStepField = 1;
constexpr int kLoop1Field = 2;
constexpr int kStepTimeField = 3;
constexpr int kStepModeField = 14;
constexpr int kFirstValueField = 4;
constexpr int kTotalTimeField = 13;
constexpr qint64 kLargestFileBytes = qint64(4) << 30;

struct Record
{
    SeriesStore::Values values;
    int step = 0;
    QString loop1;
    qint64 number = 0;
    int clockSeconds = 0;
    QString mode;
};

// A number field, parsed without copying it; whitespace or a "+" around it takes the slow way.
template <typename T> bool parseField(QByteArrayView field, T& value)
{
    const auto [end, ec] = std::from_chars(field.begin(), field.end(), value);
    if (ec == std::errc() && end == field.end())
        return true;
    bool ok = false;
    if constexpr (std::is_floating_point_v<T>)
        value = field.toByteArray().toDouble(&ok);
    else
        value = static_cast<T>(field.toByteArray().toLongLong(&ok));
    return ok;
}

// "hhh:mm:ss" in seconds, or -1.
qint64 elapsedSeconds(QByteArrayView text)
{
    const qsizetype first = text.indexOf(':');
    const qsizetype second = text.lastIndexOf(':');
    if (first < 0 || second != text.size() - 3 || second - first != 3)
        return -1;
    qint64 h = 0;
    int m = 0;
    int s = 0;
    if (!parseField(text.first(first), h) || !parseField(text.sliced(first + 1, 2), m) ||
        !parseField(text.sliced(second + 1), s) || h < 0 || m < 0 || m > 59 || s < 0 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

// A text field as a QString, sharing the one before when it is the same (a day's log repeats
// its Loop1 and StepMode for thousands of lines).
const QString& sharedText(QByteArrayView field, QByteArray& lastBytes, QString& last)
{
    if (field != lastBytes) {
        lastBytes = field.toByteArray();
        last = QString::fromUtf8(lastBytes);
    }
    return last;
}

struct TextCache
{
    QByteArray loop1Bytes;
    QString loop1;
    QByteArray modeBytes;
    QString mode;
};

// The record of a line, or a description of what is wrong with it.
QString parseRecord(QByteArrayView line, Record& record, qint64& seconds, TextCache& cache)
{
    std::array<QByteArrayView, kFieldCount> fields;
    int count = 0;
    qsizetype from = 0;
    while (true) {
        const qsizetype comma = line.indexOf(',', from);
        const QByteArrayView field = line.sliced(from, (comma < 0 ? line.size() : comma) - from);
        if (count < kFieldCount)
            fields[static_cast<std::size_t>(count)] = field;
        ++count;
        if (comma < 0)
            break;
        from = comma + 1;
    }
    if (count != kFieldCount)
        return QStringLiteral("%1 fields instead of %2").arg(count).arg(kFieldCount);
    const auto text = [&](int f) { return QString::fromUtf8(fields[static_cast<std::size_t>(f)]); };
    if (!parseField(fields[0], record.number))
        return QStringLiteral("the record number \"%1\" is not a whole number").arg(text(0));
    if (!parseField(fields[kStepField], record.step) || record.step < 1)
        return QStringLiteral("the step \"%1\" is not a step number").arg(text(kStepField));
    record.loop1 = sharedText(fields[kLoop1Field], cache.loop1Bytes, cache.loop1);
    for (int v = 0; v < SeriesStore::kSeriesCount; ++v) {
        const QByteArrayView field = fields[static_cast<std::size_t>(kFirstValueField + v)];
        double& value = record.values[static_cast<std::size_t>(v)];
        if (field.isEmpty()) {
            value = std::numeric_limits<double>::quiet_NaN();
            continue;
        }
        if (!parseField(field, value) || !std::isfinite(value))
            return QStringLiteral("%1 \"%2\" is not a number")
                .arg(kRunLogHeader.section(QLatin1Char(','), kFirstValueField + v,
                                           kFirstValueField + v),
                     text(kFirstValueField + v));
    }
    // Only a report shows the time of day; a record without one is still a record.
    record.clockSeconds = static_cast<int>(elapsedSeconds(fields[kStepTimeField]));
    record.mode = sharedText(fields[kStepModeField], cache.modeBytes, cache.mode);
    seconds = elapsedSeconds(fields[kTotalTimeField]);
    if (seconds < 0)
        return QStringLiteral("the TotalTime \"%1\" is not hh:mm:ss").arg(text(kTotalTimeField));
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

RunLogRead readRunLog(const QString& path, SeriesStore& store, RunLogColumns* columns)
{
    if (columns)
        *columns = {};
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
        for (std::size_t i = 0; i < second.size(); ++i) {
            const std::size_t marks = store.stepMarks().size();
            store.append(static_cast<double>(secondStart) + static_cast<double>(i) / n,
                         second[i].values, second[i].step, second[i].loop1);
            if (!columns)
                continue;
            columns->recordNo.push_back(second[i].number);
            columns->clockSeconds.push_back(second[i].clockSeconds);
            if (store.stepMarks().size() != marks)
                columns->markModes.push_back(second[i].mode);
        }
        result.records += static_cast<qsizetype>(second.size());
        second.clear();
    };

    qsizetype lineNo = 1;
    TextCache cache;
    // Lines are read into one buffer: a day's log has close to a million of them.
    QByteArray buffer;
    while (!file.atEnd()) {
        buffer = file.readLine();
        const QByteArrayView line = QByteArrayView(buffer).trimmed();
        ++lineNo;
        if (line.isEmpty())
            continue;
        Record record;
        qint64 seconds = 0;
        QString problem = parseRecord(line, record, seconds, cache);
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
