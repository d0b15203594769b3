#pragma once

#include "common/Clock.h"
#include "station/OperatorPrompts.h"
#include "station/Station.h"

#include <QByteArray>
#include <QString>
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
