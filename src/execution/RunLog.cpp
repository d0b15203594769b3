#include "execution/RunLog.h"

#include "common/Clock.h"
#include "common/LineFile.h"
#include "common/NumberText.h"
#include "execution/RunReportJob.h"
#include "series/RunLogReader.h"
#include "series/SeriesStore.h"
#include "station/Station.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace {

// Rows dropped from the top of the record list at once when it is full, so that it is not
// shifted at every record.
constexpr int kRecordListTrim = 100;

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

// The characters that cannot stand in a file name on Windows or Linux.
const QString kForbiddenCharacters = QStringLiteral("<>:\"/\\|?*");

// A phase value as a record holds it: the number the load replied, or nothing when it was not
// measured (no reply, "ErrRec", "Err", a field that is no number).
bool measured(const QString& cell)
{
    return isNumberText(cell);
}

QString recordedValue(const QString& cell)
{
    return measured(cell) ? formatGeneral(parseNumber(cell)) : QString();
}

// Gives a log's report the log's new name, when it has one.
void renameReport(const QString& fromLog, const QString& toLog)
{
    const QString report = RunReportJob::reportPathFor(fromLog);
    if (QFileInfo::exists(report))
        QFile::rename(report, RunReportJob::reportPathFor(toLog));
}

int unmeasuredCells(const GridModel& phases)
{
    int count = 0;
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 3; ++r)
            count += measured(phases.text(r, c)) ? 0 : 1;
    return count;
}

} // namespace

QString noLogReason(const Station& station)
{
    const SystemSettings& s = station.settings;
    if (s.SaveLogFileFlag == 1)
        return {};
    return s.NoLogReason.isEmpty() ? QStringLiteral("the log switch SaveLogFileFlag is off")
                                   : s.NoLogReason;
}

QString noLogNotice(const Station& station)
{
    const QString reason = noLogReason(station);
    if (reason.isEmpty())
        return {};
    return QStringLiteral("No CSV log for this run: %1 (%2). The records go to the record list.")
        .arg(reason, QDir::toNativeSeparators(station.settingsFilePath()));
}

QString FormatElapsed(const QString& start, const QString& end)
{
    const QDateTime from = parseDateTimeText(start);
    const QDateTime to = parseDateTimeText(end);
    qint64 s = from.isValid() && to.isValid() ? from.secsTo(to) : 0;
    if (s < 0)
        s = 0;
    return twoDigits(s / 3600) + QLatin1Char(':') + twoDigits((s / 60) % 60) + QLatin1Char(':') +
           twoDigits(s % 60);
}

bool checkSerialNumber(const QString& serialNumber, QString* message)
{
    QString problem;
    for (const QChar c : serialNumber) {
        if (c.category() == QChar::Other_Control) {
            problem = QStringLiteral("a control character");
            break;
        }
        if (kForbiddenCharacters.contains(c)) {
            problem = QStringLiteral("\"%1\"").arg(c);
            break;
        }
    }
    if (problem.isEmpty() && serialNumber.contains(QStringLiteral("..")))
        problem = QStringLiteral("\"..\"");
    if (problem.isEmpty())
        return true;
    if (message)
        *message = QStringLiteral("The serial number \"%1\" cannot name a log file: it holds %2. "
                                  "Use letters, digits, \"-\", \"_\" and single dots.")
                       .arg(serialNumber, problem);
    return false;
}

RunLog::RunLog(Station& station) : station_(station) {}

QString journalPathFor(const QString& logPath)
{
    const QFileInfo info(logPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
           QStringLiteral(".journal");
}

bool RunLog::open()
{
    close();
    keptPrevious_.clear();
    keptPreviousJournal_.clear();
    writeError_.clear();
    const QString path = station_.run.LogFileName;
    const QFileInfo info(path);
    const QString native = QDir::toNativeSeparators(path);
    const auto refuse = [&](const QString& reason) {
        station_.prompts.message(QStringLiteral("Cannot create the log file %1: %2. The test "
                                                "was not started.")
                                     .arg(native, reason));
        return false;
    };
    if (!QDir().mkpath(info.absolutePath()))
        return refuse(QStringLiteral("its folder cannot be created"));

    // The previous test's records and journal are kept under one dated name, never emptied.
    const QString journal = journalPathFor(path);
    if (info.exists() || QFileInfo::exists(journal)) {
        const QString stamp = station_.clock.now().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        const QString base = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
                             QLatin1Char('_') + stamp;
        const QString suffix = QLatin1Char('.') + info.suffix();
        QString keptBase = base;
        for (int i = 2; QFileInfo::exists(keptBase + suffix) ||
                        QFileInfo::exists(journalPathFor(keptBase + suffix));
             ++i)
            keptBase = base + QStringLiteral("-%1").arg(i);
        const QString kept = keptBase + suffix;
        if (info.exists()) {
            if (!QFile::rename(path, kept))
                return refuse(QStringLiteral("the existing log of that name cannot be kept as %1")
                                  .arg(QDir::toNativeSeparators(kept)));
            keptPrevious_ = kept;
            // The previous run's report goes with its log.
            renameReport(path, kept);
        }
        if (QFileInfo::exists(journal)) {
            if (!QFile::rename(journal, journalPathFor(kept))) {
                restorePrevious();
                return refuse(QStringLiteral("the existing journal %1 cannot be kept as %2")
                                  .arg(QDir::toNativeSeparators(journal),
                                       QDir::toNativeSeparators(journalPathFor(kept))));
            }
            keptPreviousJournal_ = journalPathFor(kept);
        }
    }

    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return refuse(file_.errorString());
    if (!writeLine(headerLine())) {
        close();
        return refuse(QStringLiteral("the header cannot be written (%1)").arg(writeError_));
    }
    return true;
}

bool RunLog::reopen(QByteArray* cut)
{
    close();
    keptPrevious_.clear();
    keptPreviousJournal_.clear();
    writeError_.clear();
    const QString path = station_.run.LogFileName;
    const QString native = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        station_.prompts.message(
            QStringLiteral("The log file %1 of the run does not exist. The run was not resumed.")
                .arg(native));
        return false;
    }
    file_.setFileName(path);
    QString error;
    if (!openLinesForAppend(file_, cut, &error)) {
        station_.prompts.message(
            QStringLiteral("Cannot append to the log file %1: %2. The run was not resumed.")
                .arg(native, error));
        return false;
    }
    // A crash while the header was written leaves a log without it.
    if (file_.size() == 0 && !writeLine(headerLine())) {
        close();
        station_.prompts.message(writeError_);
        return false;
    }
    return true;
}

void RunLog::close()
{
    if (file_.isOpen())
        file_.close();
}

void RunLog::discard()
{
    close();
    const QString path = file_.fileName();
    if (path.isEmpty())
        return;
    QFile unused(path);
    if (!unused.remove()) {
        station_.prompts.message(QStringLiteral("Cannot remove the unused log file %1: %2")
                                     .arg(QDir::toNativeSeparators(path), unused.errorString()));
    } else {
        restorePrevious();
    }
    file_.setFileName(QString());
}

void RunLog::restorePrevious()
{
    const QString path = station_.run.LogFileName;
    const auto giveBack = [this](const QString& kept, const QString& name) {
        if (!kept.isEmpty() && !QFile::rename(kept, name))
            station_.prompts.message(
                QStringLiteral("Cannot give the log %1 its name %2 back")
                    .arg(QDir::toNativeSeparators(kept), QDir::toNativeSeparators(name)));
    };
    if (!keptPrevious_.isEmpty())
        renameReport(keptPrevious_, path);
    giveBack(keptPrevious_, path);
    giveBack(keptPreviousJournal_, journalPathFor(path));
    keptPrevious_.clear();
    keptPreviousJournal_.clear();
}

bool RunLog::writeLine(const QString& line)
{
    return appendWholeLines(file_, line.toUtf8() + "\r\n", &writeError_);
}

QString RunLog::headerLine() const
{
    const GridModel& phase = station_.form.grdPhase3;
    QString line = QStringLiteral("No.,Step,Loop1,StepTime");
    for (int c = 1; c < phase.cols(); ++c) {
        const QString h = phase.text(0, c);
        line += QLatin1Char(',') + h + QLatin1Char('A') + QLatin1Char(',') + h + QLatin1Char('B') +
                QLatin1Char(',') + h + QLatin1Char('C');
    }
    return line + QStringLiteral(",TotalTime,StepMode");
}

QString RunLog::recordLine() const
{
    const RunState& run = station_.run;
    const StationForm& form = station_.form;
    const QDateTime now = station_.clock.now();
    QString line = QString::number(run.RecordNo) + QLatin1Char(',') +
                   QString::number(run.CurrentStep + 1) + QLatin1Char(',');
    if (run.ForRow != 0)
        line += form.TestStepGrid.text(run.ForRow, 5);
    line += QLatin1Char(',') + timeOfDayText(now);
    for (int c = 1; c <= 3; ++c)
        for (int r = 1; r <= 3; ++r)
            line += QLatin1Char(',') + recordedValue(form.grdPhase3.text(r, c));
    const int step = std::clamp(run.CurrentStep, 0, kStepTableSize - 1);
    line += QLatin1Char(',') + FormatElapsed(run.TestStartText, dateTimeText(now)) +
            QLatin1Char(',') + station_.StepTable[static_cast<std::size_t>(step)].LoadModeVolt;
    return line;
}

bool RunLog::RecordResult()
{
    if (station_.settings.SaveLogFileFlag == 1)
        return WriteLogRecord();
    AddListRecord();
    return true;
}

bool RunLog::WriteLogRecord()
{
    if (!isOpen())
        return true;
    if (!writeLine(recordLine())) {
        writeError_ = QStringLiteral("Cannot write to the log file %1: %2. The test was stopped; "
                                     "the log holds its first %3 records.")
                          .arg(QDir::toNativeSeparators(file_.fileName()), writeError_)
                          .arg(station_.run.RecordNo - 1);
        return false;
    }
    station_.run.UnmeasuredValues += unmeasuredCells(station_.form.grdPhase3);
    feedSeries();
    ++station_.run.RecordNo;
    return true;
}

void RunLog::seedSeriesFromLog()
{
    if (!series_)
        return;
    readRunLog(station_.run.LogFileName, *series_);
    const Clock& clock = station_.clock;
    seriesStartMs_ = clock.monotonicMs() -
                     double(parseDateTimeText(station_.run.TestStartText).msecsTo(clock.now()));
}

void RunLog::feedSeries()
{
    if (!series_)
        return;
    const RunState& run = station_.run;
    const StationForm& form = station_.form;
    const double nowMs = station_.clock.monotonicMs();
    // Start numbers a run's records from 1: its first record begins the run's series.
    if (run.RecordNo == 1) {
        series_->clear();
        seriesStartMs_ = nowMs;
    }
    SeriesStore::Values values{};
    for (int c = 1; c <= 3; ++c) {
        for (int r = 1; r <= 3; ++r) {
            // A value not measured is a gap in the plot, as it is an empty field in the log.
            const QString text = form.grdPhase3.text(r, c);
            values[static_cast<std::size_t>((c - 1) * 3 + r - 1)] =
                measured(text) ? parseNumber(text) : std::numeric_limits<double>::quiet_NaN();
        }
    }
    series_->append((nowMs - seriesStartMs_) / 1000.0, values, run.CurrentStep + 1,
                    run.ForRow != 0 ? form.TestStepGrid.text(run.ForRow, 5) : QString());
}

const QStringList& RunLog::recordListHeaders()
{
    static const QStringList headers = {
        QStringLiteral("No."),     QStringLiteral("Step"),     QStringLiteral("Loop1"),
        QStringLiteral("Loop2"),   QStringLiteral("StepTime"), QStringLiteral("Voltage"),
        QStringLiteral("Current"), QStringLiteral("Power"),    QStringLiteral("kWh"),
        QStringLiteral("Ah"),      QStringLiteral("TotalTime")};
    return headers;
}

void RunLog::AddListRecord()
{
    RunState& run = station_.run;
    StationForm& form = station_.form;
    GridModel& list = form.RecordList;
    if (list.cols() != recordListHeaders().size() || list.rows() == 0) {
        list.setCols(static_cast<int>(recordListHeaders().size()));
        list.setRows(1);
        list.setFixed(1, 0);
        list.setRowTexts(0, recordListHeaders());
    }
    const QString now = dateTimeText(station_.clock.now());
    // Energy and charge mean nothing while no current flows.
    const bool flowing = parseNumber(form.CurrentText.text()) != 0;
    // The voltage is phase A's, current and power add up the three phases: a value is shown
    // only when every cell it comes from was measured.
    const GridModel& phases = form.grdPhase3;
    const auto shown = [&](const FormValue& value, int column, int lastPhase) {
        for (int r = 1; r <= lastPhase; ++r) {
            if (!measured(phases.text(r, column)))
                return QString();
        }
        return value.text();
    };
    const int row = list.rows();
    list.setRows(row + 1);
    list.setRowTexts(row, {QString::number(run.RecordNo), QString::number(run.CurrentStep + 1),
                           run.ForRow != 0 ? form.TestStepGrid.text(run.ForRow, 5) : QString(),
                           run.For2Row != 0 ? form.TestStepGrid.text(run.For2Row, 5) : QString(),
                           FormatElapsed(run.StepStartText, now), shown(form.VoltageText, 1, 1),
                           shown(form.CurrentText, 2, 3), shown(form.PowerText, 3, 3),
                           flowing ? form.KWHText.text() : QStringLiteral("0"),
                           flowing ? form.AHText.text() : QStringLiteral("0"),
                           FormatElapsed(run.TestStartText, now)});
    if (list.rows() - list.fixedRows() >= kRecordListCapacity + kRecordListTrim)
        list.removeGridRows(list.fixedRows(), kRecordListTrim);
    list.setTopRow(list.rows() - 1);
    run.UnmeasuredValues += unmeasuredCells(phases);
    feedSeries();
    ++run.RecordNo;
}

namespace {

// "hh:mm:ss" (hours of any length) in seconds; -1 for anything else.
qint64 elapsedSeconds(QStringView text)
{
    const auto parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    qint64 seconds = 0;
    for (const QStringView part : parts) {
        bool ok = false;
        const qint64 n = part.toLongLong(&ok);
        if (!ok || n < 0)
            return -1;
        seconds = seconds * 60 + n;
    }
    return seconds;
}

} // namespace

LoggedRecords readLoggedRecords(const QString& path, int fromNumber)
{
    LoggedRecords out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    const QString text = QString::fromUtf8(file.readAll());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    // The columns by their headers; the last piece is a torn line or nothing.
    const QStringList header = lines.value(0).split(QLatin1Char(','));
    const qsizetype totalColumn = header.indexOf(QStringLiteral("TotalTime"));
    QList<qsizetype> currentColumns;
    QList<qsizetype> powerColumns;
    for (qsizetype i = 0; i < header.size(); ++i) {
        if (header[i].startsWith(QLatin1String("Current")))
            currentColumns << i;
        else if (header[i].startsWith(QLatin1String("Power")))
            powerColumns << i;
    }
    const auto sum = [](const QStringList& fields, const QList<qsizetype>& columns) {
        double total = 0;
        for (const qsizetype c : columns)
            total += isNumberText(fields.value(c)) ? parseNumber(fields.value(c)) : 0.0;
        return total;
    };
    for (qsizetype i = lines.size() - 2; i >= 1; --i) {
        const QStringList fields = lines[i].split(QLatin1Char(','));
        bool ok = false;
        const int number = fields.value(0).toInt(&ok);
        if (!ok)
            continue;
        const qint64 seconds = elapsedSeconds(fields.value(totalColumn));
        if (out.lastNumber == 0) {
            out.lastNumber = number;
            out.lastSeconds = seconds;
        }
        if (number < fromNumber)
            break;
        out.records.prepend(
            {number, seconds, sum(fields, currentColumns), sum(fields, powerColumns)});
    }
    return out;
}
