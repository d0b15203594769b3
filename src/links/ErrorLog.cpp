#include "links/ErrorLog.h"

#include "common/Clock.h"

#include <QDir>
#include <QFile>

ErrorLog::ErrorLog(const Clock& clock, QString folder) : clock_(clock), folder_(std::move(folder))
{}

QString ErrorLog::filePath() const
{
    return QDir(folder_).filePath(QStringLiteral("ErrorLog.txt"));
}

ErrorLog::~ErrorLog()
{
    flush();
}

void ErrorLog::write(const LinkFault& fault)
{
    const QString now = dateTimeText(clock_.now());
    last_ = now + QLatin1Char(',') + QString::number(fault.number) + QLatin1Char(',') + fault.text;
    if (!firstTime_.isEmpty() && fault.number == lastFault_.number &&
        fault.text == lastFault_.text) {
        ++repeats_;
        return;
    }
    flush();
    lastFault_ = fault;
    firstTime_ = now;
    append(last_);
}

void ErrorLog::flush()
{
    if (repeats_ > 0)
        append(dateTimeText(clock_.now()) + QLatin1Char(',') + QString::number(lastFault_.number) +
               QLatin1Char(',') + lastFault_.text +
               QStringLiteral(" (%1 more times since %2)").arg(repeats_).arg(firstTime_));
    repeats_ = 0;
    firstTime_.clear();
}

void ErrorLog::append(const QString& record)
{
    // The station's other files are CRLF text; the error log follows them.
    if (!QDir().mkpath(folder_)) {
        qWarning("Error record not written (no folder %s): %s", qPrintable(folder_),
                 qPrintable(record));
        return;
    }
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(record.toUtf8() + "\r\n") < 0) {
        qWarning("Error record not written to %s: %s", qPrintable(file.fileName()),
                 qPrintable(record));
    }
}
