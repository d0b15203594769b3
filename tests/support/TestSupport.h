#pragma once

#include "common/Clock.h"
#include "station/OperatorPrompts.h"
#include "station/Station.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A station on a fresh temporary folder with a fake clock and recording prompts.
struct StationFixture
{
    StationFixture();

    QString path(const QString& name) const;
    // The program file the station works on (TestFile01.INI in the folder).
    QString programPath() const { return path(QStringLiteral("TestFile01.INI")); }

    QTemporaryDir dir;
    FakeClock clock;
    RecordingPrompts prompts;
    std::unique_ptr<Station> station;
};

void writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// A CRLF text from lines.
QByteArray crlfLines(const QStringList& lines);
// programFile with each step's fields as a list, and MeasureTime=1 unless other options are given.
QByteArray programIni(const QList<QStringList>& steps,
                      const QByteArray& options = "MeasureTime=1\r\n", const QByteArray& tail = {});
// A program file from steps written "a|b|c", the field values in key order, "-" for a key left
// out; `options` go into the option section and `tail` after the steps.
QByteArray programFile(const QStringList& steps, const QByteArray& options = {},
                       const QByteArray& tail = {});
// A free loopback port.
quint16 stationPort();
// The lines of the station's error log (TestLog/ErrorLog.txt).
QStringList errorRecords(Station& station);
