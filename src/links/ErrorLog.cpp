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

void ErrorLog::write(const LinkFault& fault)
{
    last_ = dateTimeText(clock_.now()) + QLatin1Char(',') + QString::number(fault.number) +
            QLatin1Char(',') + fault.text;
    // The station's other files are CRLF text; the error log follows them.
    if (!QDir().mkpath(folder_)) {
        qWarning("Error record not written (no folder %s): %s", qPrintable(folder_),
                 qPrintable(last_));
        return;
    }
    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(last_.toUtf8() + "\r\n") < 0) {
        qWarning("Error record not written to %s: %s", qPrintable(file.fileName()),
                 qPrintable(last_));
    }
}
