#include "report/RunReport.h"

#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kSecondsPerHour = 3600;
constexpr double kWattHoursPerKwh = 1000;
constexpr qint64 kMsPerSecond = 1000;

QString sha256Of(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QString clockText(int secondsSinceMidnight)
{
    return secondsSinceMidnight < 0
               ? QStringLiteral("—")
               : QTime(0, 0).addSecs(secondsSinceMidnight).toString(QStringLiteral("hh:mm:ss"));
}

QString dateTimeText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

bool isBatteryAction(const QString& action)
{
    return action == actions::DisCharge || action == actions::Charge ||
           action == actions::CPCharge || action == actions::OverDisCharge;
}

// The figures of instants [from, to). An instant's current and power count for the time since
// the instant before, as the store's charge does; a value not measured counts for nothing.
void computeFigures(const SeriesStore& store, StepRow& row)
{
    for (int phase = 0; phase < SeriesStore::kPhaseCount; ++phase) {
        PhaseFigures& f = row.phases[static_cast<std::size_t>(phase)];
        for (int q = 0; q < SeriesStore::kQuantityCount; ++q) {
            const auto s = static_cast<std::size_t>(q);
            const int series = SeriesStore::series(static_cast<Quantity>(q), phase);
            double low = std::numeric_limits<double>::infinity();
            double high = -low;
            double sum = 0;
            qsizetype n = 0;
            for (qsizetype i = row.firstInstant; i < row.endInstant; ++i) {
                const double v = store.value(series, i);
                if (std::isnan(v))
                    continue;
                low = std::min(low, v);
                high = std::max(high, v);
                sum += v;
                ++n;
            }
            const double nan = std::numeric_limits<double>::quiet_NaN();
            f.min[s] = n ? low : nan;
            f.max[s] = n ? high : nan;
            f.mean[s] = n ? sum / static_cast<double>(n) : nan;
        }
        const int current = SeriesStore::series(Quantity::Current, phase);
        const int power = SeriesStore::series(Quantity::Power, phase);
        for (qsizetype i = std::max<qsizetype>(row.firstInstant, 1); i < row.endInstant; ++i) {
            const double hours = (store.time(i) - store.time(i - 1)) / kSecondsPerHour;
            const double amps = store.value(current, i);
            const double watts = store.value(power, i);
            if (amps > 0)
                f.ah += amps * hours;
            if (watts > 0)
                f.kwh += watts * hours / kWattHoursPerKwh;
        }
    }
}

QString endText(const QString& how, const QString& message)
{
    QString text;
    if (how == QLatin1String("finished"))
        text = QStringLiteral("Finished: the program ran to its end");
    else if (how == QLatin1String("stopped"))
        text = QStringLiteral("Stopped by the operator (Stop)");
    else if (how == QLatin1String("error"))
        text = QStringLiteral("Ended on an error");
    else if (how == QLatin1String("load lost"))
        text = QStringLiteral("The load was lost and did not answer again");
    else
        text = how;
    if (!message.isEmpty())
        text += QStringLiteral(": ") + message;
    return text;
}

// Rows from the journal's step ends: each pass of a step is its records from firstRecord to
// lastRecord.
void journalRows(RunReport& r)
{
    const std::vector<qint64>& numbers = r.columns.recordNo;
    const qsizetype total = r.store->size();
    std::size_t nextMark = 0;
    for (std::size_t k = 0; k < r.events.steps.size(); ++k) {
        const RunEvents::Step& s = r.events.steps[k];
        StepRow row;
        row.step = s.step;
        row.loop1 = s.loop1;
        row.loop2 = s.loop2;
        row.action = s.action;
        row.mode = s.mode;
        row.value = s.value;
        row.start = s.start.toString(QStringLiteral("hh:mm:ss"));
        row.firstInstant =
            std::lower_bound(numbers.begin(), numbers.end(), s.firstRecord) - numbers.begin();
        qint64 last = s.lastRecord;
        // A step the journal saw begin and never end (the station stopped meanwhile) holds the
        // records up to the next step's.
        if (s.how.isEmpty())
            last = k + 1 < r.events.steps.size() ? r.events.steps[k + 1].firstRecord - 1
                                                 : std::numeric_limits<qint64>::max();
        row.endInstant =
            std::max(row.firstInstant,
                     static_cast<qsizetype>(std::upper_bound(numbers.begin(), numbers.end(), last) -
                                            numbers.begin()));
        row.endInstant = std::min(row.endInstant, total);
        const QDateTime end = s.end.isValid()                 ? s.end
                              : k + 1 < r.events.steps.size() ? r.events.steps[k + 1].start
                                                              : r.events.end;
        row.seconds = s.start.isValid() && end.isValid()
                          ? static_cast<double>(s.start.msecsTo(end)) / kMsPerSecond
                          : 0;
        row.ended = s.how.isEmpty() ? QStringLiteral("unknown") : s.how;
        if (!s.reply.isEmpty())
            row.ended += QStringLiteral(" (reply %1)").arg(s.reply);
        // Each mark goes to the first step whose time holds it: a pause at the very end of a
        // step is that step's, not the next one's.
        const std::vector<RunEvents::Mark>& marks = r.events.marks;
        for (; nextMark < marks.size() && (!end.isValid() || marks[nextMark].time <= end);
             ++nextMark) {
            if (marks[nextMark].time >= s.start)
                row.marks << QStringLiteral("%1 %2").arg(
                    marks[nextMark].time.toString(QStringLiteral("hh:mm:ss")),
                    marks[nextMark].text);
        }
        r.rows.push_back(row);
    }
}

// Rows from the log alone: a step ends where the step column (or Loop1) changes.
void inferredRows(RunReport& r)
{
    const SeriesStore& store = *r.store;
    const std::vector<SeriesStore::StepMark>& marks = store.stepMarks();
    for (std::size_t k = 0; k < marks.size(); ++k) {
        StepRow row;
        row.step = marks[k].step;
        row.loop1 = marks[k].loop1;
        row.mode = k < r.columns.markModes.size() ? r.columns.markModes[k] : QString();
        row.firstInstant = marks[k].instant;
        const bool last = k + 1 == marks.size();
        row.endInstant = last ? store.size() : marks[k + 1].instant;
        row.start = clockText(r.columns.clockSeconds[static_cast<std::size_t>(row.firstInstant)]);
        row.seconds =
            store.time(last ? row.endInstant - 1 : row.endInstant) - store.time(row.firstInstant);
        row.ended = last ? QStringLiteral("end of log") : QStringLiteral("next step");
        r.rows.push_back(row);
    }
}

} // namespace

bool buildRunReport(const ReportRequest& request, RunReport& r, QString* error)
{
    r.logPath = QFileInfo(request.logPath).absoluteFilePath();
    r.store = std::make_unique<SeriesStore>();
    r.read = readRunLog(r.logPath, *r.store, &r.columns);
    if (!r.read.ok) {
        if (error)
            *error = r.read.error;
        return false;
    }
    // A log lies in the TestLog folder of its station.
    r.stationFolder = QDir::toNativeSeparators(QFileInfo(r.logPath).dir().absolutePath());
    if (QFileInfo(r.logPath).dir().dirName() == QLatin1String("TestLog"))
        r.stationFolder = QDir::toNativeSeparators(QFileInfo(r.stationFolder).path());
    r.events = readRunEvents(r.logPath);
    const RunEvents& e = r.events;

    r.serialNumber =
        e.serialNumber.isEmpty() ? QFileInfo(r.logPath).completeBaseName() : e.serialNumber;
    r.program = e.program.isEmpty() ? request.program : e.program;
    r.link = e.link.isEmpty() ? request.link : e.link;
    r.ended = endText(e.ended.isEmpty() ? request.ended : e.ended, e.endMessage);

    // The program's steps name each row's action, mode and value where the journal does not.
    std::vector<TestStep> programSteps;
    if (!r.program.isEmpty()) {
        r.programSha256 = sha256Of(r.program);
        QString programError;
        if (r.programSha256.isEmpty()) {
            r.programProblem = QStringLiteral("the program file cannot be read");
            r.programSha256 = e.programSha256;
        } else if (!e.programSha256.isEmpty() && e.programSha256 != r.programSha256) {
            r.programProblem = QStringLiteral("the program file has changed since the run");
            r.programSha256 = e.programSha256;
        } else if (const auto content = readTestProgram(r.program, &programError)) {
            programSteps = content->steps;
            // The program check's estimate, as the station gave it before the run.
            if (std::isnan(e.estimateSeconds))
                r.estimate = estimateText(checkProgram(programSteps).estimate);
        } else {
            r.programProblem = programError;
        }
    }

    const SeriesStore& store = *r.store;
    r.stepsInferred = !e.fromJournal || e.steps.empty();
    if (r.stepsInferred)
        inferredRows(r);
    else
        journalRows(r);
    for (StepRow& row : r.rows) {
        if (row.action.isEmpty() && row.step >= 1 &&
            static_cast<std::size_t>(row.step) <= programSteps.size()) {
            const TestStep& step = programSteps[static_cast<std::size_t>(row.step - 1)];
            row.action = step.ActionMode;
            row.value = step.CurrentValue;
            if (row.mode.isEmpty())
                row.mode = step.LoadModeVolt;
        }
        r.battery = r.battery || isBatteryAction(row.action);
        computeFigures(store, row);
    }

    if (e.start.isValid() && e.end.isValid())
        r.runSeconds = static_cast<double>(e.start.msecsTo(e.end)) / kMsPerSecond;
    else if (!store.isEmpty())
        r.runSeconds = std::floor(store.time(store.size() - 1));
    // Without a journal the log tells the times of day; its last change (when the run closed
    // it) tells the dates.
    const QDateTime closed = QFileInfo(r.logPath).lastModified();
    const auto dated = [](const QDateTime& when, int clock) {
        return clock < 0 ? clockText(clock)
                         : when.date().toString(QStringLiteral("yyyy-MM-dd ")) + clockText(clock);
    };
    if (e.start.isValid())
        r.startText = dateTimeText(e.start);
    else if (!store.isEmpty())
        r.startText = dated(closed.addSecs(-static_cast<qint64>(r.runSeconds)),
                            r.columns.clockSeconds.front());
    if (e.end.isValid())
        r.endText = dateTimeText(e.end);
    else if (!store.isEmpty())
        r.endText = dated(closed, r.columns.clockSeconds.back());
    return true;
}
