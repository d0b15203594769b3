#pragma once

#include <QFile>
#include <QList>
#include <QString>

class SeriesStore;
class Station;

// The time from one date-and-time text to another as "hh:mm:ss"; hours are not wrapped at 24
// (after 100 hours the hour field has three digits). An unreadable text, or an end before the
// start, gives "00:00:00".
QString FormatElapsed(const QString& start, const QString& end);

// Whether a serial number can name a run log inside TestLog: no path separator, no "..", no
// control character, none of the characters a file name cannot hold on the lab's machines
// (<>:"/\|?*). The message says what is wrong.
bool checkSerialNumber(const QString& serialNumber, QString* message);

// Why a run has no CSV log (the settings' log switch off, ACL3.INI missing or damaged), and what
// such a run says when it starts. Both empty when the log switch is on.
QString noLogReason(const Station& station);
QString noLogNotice(const Station& station);

// The run's record: the CSV log in TestLog (with the settings' log switch on) or the on-screen
// record list (with it off). Every line goes to the file system as it is written, so a crash
// loses at most the line being written. A value that was not measured (no reply, "ErrRec", a
// field that is not a number) is recorded as an empty field, never as a number, and counted in
// RunState::UnmeasuredValues.
class RunLog
{
public:
    explicit RunLog(Station& station);

    // Creates TestLog when missing, keeps an existing log of the same name under
    // <SN>_yyyyMMdd-hhmmss.CSV (and its journal under the same name), creates the log named by
    // station.run.LogFileName and writes the header. False (after a message naming the path) when
    // the log cannot be created: a run without its log would lose its data.
    bool open();
    void close();
    // Undoes open() for a run that recorded nothing: the log goes, and an earlier log of the same
    // name gets its name back.
    void discard();
    bool isOpen() const { return file_.isOpen(); }
    // Opens the run's existing log (station.run.LogFileName) to append to it, for a run taken up
    // again after a crash: a torn last line is cut away and handed back in `cut`. False (after a
    // message naming the path) when the log is missing or cannot be written.
    bool reopen(QByteArray* cut);
    // The names an existing log and its journal were kept under by the last open(), or empty.
    const QString& keptPreviousLog() const { return keptPrevious_; }
    const QString& keptPreviousJournal() const { return keptPreviousJournal_; }

    // After a measurement: a CSV line with the log switch on, a record-list row with it off.
    // False when a line could not be written: the file is cut back to its last whole record,
    // RecordNo counts only records on disk, and writeError() says why; the run must end.
    bool RecordResult();
    bool WriteLogRecord();
    void AddListRecord();
    // The file and the system's reason of the last failed write.
    const QString& writeError() const { return writeError_; }

    QString headerLine() const;
    QString recordLine() const;

    static const QStringList& recordListHeaders();
    // The record list keeps the most recent records only: the log holds them all, and a list
    // that grew all day would take the station's memory with it.
    static constexpr int kRecordListCapacity = 1000;

    // Every record also goes to this store (the window's plot), with its run time, as it is
    // written or listed; none when null.
    void setSeriesStore(SeriesStore* store) { series_ = store; }
    // For a run taken up again after a crash (once its start time is restored): the store gets
    // the records already in the log, and new ones go on at their time since the run's start.
    void seedSeriesFromLog();

private:
    bool writeLine(const QString& line);
    // Gives the log and the journal that open() kept under a dated name their names back.
    void restorePrevious();
    void feedSeries();

    Station& station_;
    QFile file_;
    QString keptPrevious_;
    QString keptPreviousJournal_;
    QString writeError_;
    SeriesStore* series_ = nullptr;
    double seriesStartMs_ = 0;
};

// The run journal beside a log: TestLog/<SN>.journal for TestLog/<SN>.CSV.
QString journalPathFor(const QString& logPath);

// A record of a log read back: its number, its time since the run's start (whole seconds) and
// the three phases' current and power added up (a value not measured adds nothing).
struct LoggedRecord
{
    int number = 0;
    qint64 seconds = 0;
    double current = 0;
    double power = 0;
};

// The last record of a log (number 0 when it has none) and its records from `fromNumber` on.
// Lines that are no record (the header, a torn end) are passed over.
struct LoggedRecords
{
    int lastNumber = 0;
    qint64 lastSeconds = -1;
    QList<LoggedRecord> records;
};
LoggedRecords readLoggedRecords(const QString& path, int fromNumber);
