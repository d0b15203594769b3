#pragma once

#include <QFile>
#include <QString>

class Station;

// The time from one date-and-time text to another as "hh:mm:ss"; hours are not wrapped at 24
// (after 100 hours the hour field has three digits). An unreadable text, or an end before the
// start, gives "00:00:00".
QString FormatElapsed(const QString& start, const QString& end);

// Whether a serial number can name a run log inside TestLog: no path separator, no "..", no
// control character, none of the characters a file name cannot hold on the lab's machines
// (<>:"/\|?*). The message says what is wrong.
bool checkSerialNumber(const QString& serialNumber, QString* message);

// The run's record: the CSV log in TestLog (with the settings' log switch on) or the on-screen
// record list (with it off). Every line goes to the file system as it is written, so a crash
// loses at most the line being written.
class RunLog
{
public:
    explicit RunLog(Station& station);

    // Creates TestLog when missing, keeps an existing log of the same name under
    // <SN>_yyyyMMdd-hhmmss.CSV, creates the log named by station.run.LogFileName and writes the
    // header. False (after a message naming the path) when the log cannot be created: a run
    // without its log would lose its data.
    bool open();
    void close();
    bool isOpen() const { return file_.isOpen(); }
    // The name an existing log was kept under by the last open(), or empty.
    const QString& keptPreviousLog() const { return keptPrevious_; }

    // After a measurement: a CSV line with the log switch on, a record-list row with it off.
    void RecordResult();
    void WriteLogRecord();
    void AddListRecord();

    QString headerLine() const;
    QString recordLine() const;

    static const QStringList& recordListHeaders();

private:
    bool writeLine(const QString& line);

    Station& station_;
    QFile file_;
    QString keptPrevious_;
    bool writeFailed_ = false;
};
