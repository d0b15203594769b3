#include "execution/RunReportJob.h"

#include "links/LinkLayer.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// A report still being written when the next run ends gets this long to finish.
constexpr int kPreviousReportWaitMs = 30000;

QString endName(RunEnd how)
{
    switch (how) {
    case RunEnd::Finished:
        return QStringLiteral("finished");
    case RunEnd::Stopped:
        return QStringLiteral("stopped");
    case RunEnd::LoadLost:
        return QStringLiteral("load lost");
    case RunEnd::Error:
    case RunEnd::ConnectError:
    case RunEnd::Refused:
        break;
    }
    return QStringLiteral("error");
}

} // namespace

RunReportJob::RunReportJob(Station& station, RunControl& run, QObject* parent)
    : QObject(parent), station_(station)
{
    connect(&run, &RunControl::runEnded, this, [this](RunEnd how) {
        const RunState& state = station_.run;
        // A run that did not start, or kept no CSV log, has nothing to report.
        if (how == RunEnd::Refused || station_.settings.SaveLogFileFlag != 1 ||
            state.RecordNo <= 1 || !QFileInfo::exists(state.LogFileName))
            return;
        start(state.LogFileName, how);
    });
    connect(&process_, &QProcess::finished, this, &RunReportJob::onFinished);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished();
    });
}

RunReportJob::~RunReportJob()
{
    waitForFinished(kPreviousReportWaitMs);
}

QString RunReportJob::reportProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/acl3-report");
}

QString RunReportJob::reportPathFor(const QString& logPath)
{
    const QFileInfo info(logPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() +
           QStringLiteral(".pdf");
}

void RunReportJob::start(const QString& logPath, RunEnd how)
{
    waitForFinished(kPreviousReportWaitMs);
    path_ = reportPathFor(logPath);
    QStringList args{logPath, QStringLiteral("-o"), path_, QStringLiteral("--ended"), endName(how)};
    if (!station_.settings.TestFileName.isEmpty())
        args << QStringLiteral("--program") << station_.settings.TestFileName;
    args << QStringLiteral("--link") << station_.links().linkAddress(station_.loadInstrument());
    process_.setProgram(program_);
    process_.setArguments(args);
    process_.start();
}

bool RunReportJob::waitForFinished(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    return process_.waitForFinished(timeoutMs);
}

void RunReportJob::onFinished()
{
    const bool ok = process_.error() != QProcess::FailedToStart &&
                    process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    QString message;
    if (!ok) {
        // The report program's own lines, without what Qt's platform has to say.
        QStringList lines;
        for (const QString& line :
             QString::fromLocal8Bit(process_.readAllStandardError()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("acl3-report: ")))
                lines << line.mid(13);
        }
        QString why = lines.isEmpty() ? QStringLiteral("exit status %1").arg(process_.exitCode())
                                      : lines.join(QLatin1Char(' '));
        if (process_.error() == QProcess::FailedToStart)
            why = QStringLiteral("%1 cannot be started: %2")
                      .arg(QDir::toNativeSeparators(program_), process_.errorString());
        message = QStringLiteral("The run's report %1 was not written (%2). The log is complete.")
                      .arg(QDir::toNativeSeparators(path_), why);
        station_.prompts.message(message);
    }
    emit finished(ok, path_, message);
}
