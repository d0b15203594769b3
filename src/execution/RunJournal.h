#pragma once

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QString>

// The events of a run journal, by their "event" names.
namespace journalevents {
inline const QString RunStart = QStringLiteral("run start");
inline const QString StepStart = QStringLiteral("step start");
inline const QString StepEnd = QStringLiteral("step end");
inline const QString NotMeasured = QStringLiteral("not measured");
inline const QString LinkLost = QStringLiteral("link lost");
inline const QString LinkRegained = QStringLiteral("link regained");
inline const QString Pause = QStringLiteral("pause");
inline const QString Resume = QStringLiteral("resume");
inline const QString LogCut = QStringLiteral("log cut");
inline const QString RunEnd = QStringLiteral("run end");
} // namespace journalevents

// How a step ended ("how" of a step end). A step ended by Pause or a lost link is taken up again
// where it stood; the others are over.
namespace stepends {
inline const QString DwellTime = QStringLiteral("dwell time");
inline const QString StopValue = QStringLiteral("stop value");
inline const QString StopCharge = QStringLiteral("stop charge");
inline const QString PulseOk = QStringLiteral("pulse OK");
inline const QString PulseNg = QStringLiteral("pulse NG");
inline const QString PulseNoResult = QStringLiteral("pulse no result");
inline const QString Stop = QStringLiteral("Stop");
inline const QString Pause = QStringLiteral("Pause");
inline const QString LinkLost = QStringLiteral("link lost");
inline const QString Error = QStringLiteral("error");
} // namespace stepends

// The run journal: beside the CSV log, one JSON line per event of the run, each on disk (synced)
// before the run goes on, so that a run cut short by a crash or a power loss can be taken up
// again where it stood, and a report can tell what happened when.
class RunJournal
{
public:
    // Opens a journal to append to, creating it when missing; a torn last line (a crash in the
    // middle of a write) is cut away first and handed back in `cut`. False with error().
    bool open(const QString& path, QByteArray* cut = nullptr);
    void close();
    bool isOpen() const { return file_.isOpen(); }
    QString path() const { return file_.fileName(); }

    // Appends one event, "event" and "time" first, and syncs it to disk. A line that cannot be
    // written whole is cut back; false with error(). Does nothing while switched off.
    bool write(const QString& event, const QDateTime& time, const QJsonObject& fields = {});
    const QString& error() const { return error_; }

    // A journal switched off is never written (the run-timing benchmark runs without it).
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool enabled() const { return enabled_; }

    // Appends one event to a journal that no run has open.
    static bool append(const QString& path, const QString& event, const QDateTime& time,
                       const QJsonObject& fields, QString* error);

private:
    QFile file_;
    QString error_;
    bool enabled_ = true;
};

// The journal's time stamps: local date and time with milliseconds.
QString journalTime(const QDateTime& time);

// One event read back from a journal.
struct JournalEvent
{
    QString event;
    QDateTime time;
    QJsonObject fields; // the whole line
    int line = 0;
};

// A journal read back into its events. A last line without its line end (the crash) is passed
// over; a line that is not an event stops the reading, and `error` names the file and the line.
struct JournalContents
{
    QList<JournalEvent> events;
    QString error;
};
JournalContents readJournal(const QString& path);

// The SHA-256 of a file's content in hexadecimal; empty, with the reason in `error`, when it
// cannot be read.
QString fileSha256(const QString& path, QString* error);
