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
// A program file: the options, TotalStepCount, then each step's fields in key order (as many as
// given; "-" leaves the key out), then `tail` (a link section).
QByteArray programIni(const QList<QStringList>& steps,
                      const QByteArray& options = "MeasureTime=1\r\n", const QByteArray& tail = {});
// The lines of the station's error log (TestLog/ErrorLog.txt).
QStringList errorRecords(Station& station);
