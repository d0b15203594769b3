#pragma once

#include "LoadSimulatorThread.h"

#include <QString>

#include <memory>

class QCommandLineParser;
class Station;

// The --simulate option of the station's programs: a simulated load started in the program's own
// process, on a thread of its own, on a free loopback port, and made the station's load for the
// session (nothing about it is written to the station's files).
struct SimulateOption
{
    // Adds --simulate, --source ac|battery, --speed N and --sim-log FILE.
    static void addTo(QCommandLineParser& parser);
    // Reads them; false with a message when they do not make sense.
    bool readFrom(const QCommandLineParser& parser, QString* error);
    // Starts the simulator and points the station's load at it. False with a message when it
    // cannot listen or log.
    bool start(Station& station, QString* error);
    // "simulated load (ac) on 127.0.0.1:28282"
    QString description() const;

    bool enabled = false;
    SourceKind source = SourceKind::Ac;
    double speed = 1.0;
    QString logFile;
    quint16 port = 0;
    std::unique_ptr<LoadSimulatorThread> simulator;
};
