#include "support/TestSupport.h"

#include "links/LinkLayer.h"
#include "testprogram/TestStep.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QtTest>

StationFixture::StationFixture()
{
    station = std::make_unique<Station>(dir.path(), clock, prompts);
}

QString StationFixture::path(const QString& name) const
{
    return QDir(dir.path()).filePath(name);
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray crlfLines(const QStringList& lines)
{
    return lines.isEmpty() ? QByteArray() : (lines.join(QStringLiteral("\r\n")) + "\r\n").toUtf8();
}

QByteArray programFile(const QStringList& steps, const QByteArray& options, const QByteArray& tail)
{
    QByteArray out = "[TestStep Option]\r\n" + options +
                     "TotalStepCount=" + QByteArray::number(steps.size()) + "\r\n";
    for (int n = 0; n < steps.size(); ++n) {
        out += "[Step" + QByteArray::number(n + 1) + "]\r\n";
        const QStringList fields = steps[n].split(u'|');
        for (int f = 0; f < std::min<int>(fields.size(), TestStep::kFieldCount); ++f) {
            if (fields[f] != QLatin1String("-"))
                out += kStepFieldKeys[f].toUtf8() + "=" + fields[f].toUtf8() + "\r\n";
        }
    }
    return out + tail;
}

QByteArray programIni(const QList<QStringList>& steps, const QByteArray& options,
                      const QByteArray& tail)
{
    QStringList joined;
    for (const QStringList& step : steps)
        joined << step.join(u'|');
    return programFile(joined, options, tail);
}

quint16 stationPort()
{
    // A port the system has just handed out, on which nothing listens any more.
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        qFatal("no free loopback port");
    return probe.serverPort();
}

QStringList errorRecords(Station& station)
{
    return QString::fromUtf8(readFile(station.links().errorLogPath()))
        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}
