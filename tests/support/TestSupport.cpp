#include "support/TestSupport.h"

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
