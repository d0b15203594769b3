#include "support/TestSupport.h"

#include "links/LinkLayer.h"
#include "testprogram/TestStep.h"

#include <QDir>
#include <QFile>
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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray crlfLines(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

QByteArray programIni(const QList<QStringList>& steps, const QByteArray& options,
                      const QByteArray& tail)
{
    QByteArray out = "[TestStep Option]\r\n" + options +
                     "TotalStepCount=" + QByteArray::number(steps.size()) + "\r\n";
    for (int n = 0; n < steps.size(); ++n) {
        out += "[Step" + QByteArray::number(n + 1) + "]\r\n";
        for (int f = 0; f < std::min<int>(steps[n].size(), TestStep::kFieldCount); ++f) {
            if (steps[n][f] != QLatin1String("-"))
                out += kStepFieldKeys[f].toUtf8() + "=" + steps[n][f].toUtf8() + "\r\n";
        }
    }
    return out + tail;
}

QStringList errorRecords(Station& station)
{
    return QString::fromUtf8(readFile(station.links().errorLogPath()))
        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}
