#pragma once

#include "execution/RunControl.h"

#include <QObject>
#include <QProcess>
#include <QString>

class Station;

// Writes TestLog/<SN>.pdf when a run ends, whatever ended it, with acl3-report in a process of
// its own: the run has switched the load off and closed its log before, and the report reads
// only files, so a long report never holds up the station. A report that cannot be written is
// said once, through the station's prompts; nothing else is lost.
class RunReportJob : public QObject
{
    Q_OBJECT

public:
    RunReportJob(Station& station, RunControl& run, QObject* parent = nullptr);
    ~RunReportJob() override;

    // The report program: beside the running one (both are in /usr/bin, or in the build's
    // src/app/).
    static QString reportProgram();
    // Tests run the report program of the build.
    void setReportProgram(const QString& path) { program_ = path; }
    // The report's name for a log: the log's with .pdf.
    static QString reportPathFor(const QString& logPath);

    // Starts the report of a run's log (a report still being written is waited for first).
    void start(const QString& logPath, RunEnd how);
    // Waits for the report being written; false when it did not finish in time.
    bool waitForFinished(int timeoutMs);
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

signals:
    // The report was written (ok) or not, with the reason.
    void finished(bool ok, const QString& path, const QString& message);

private:
    void onFinished();

    Station& station_;
    QProcess process_;
    QString path_;
    QString program_ = reportProgram();
};
