#pragma once

#include "LoadSimulatorThread.h"

#include <QString>

#include <memory>

class Clock;
class QCommandLineParser;
class Station;

// The --simulate option of the station's programs: a simulated load started in the program's own
// process, on a thread of its own, on a free loopback port, and made the station's load for the
// session (nothing about it is written to the station's files).
struct SimulateOption
{
    // Adds --simulate, --source ac|battery, --speed N and --sim-log FILE.
    static void addTo(QCommandLineParser& parser);
    // Reads them; false with a message when they do not make sense. A dry run brings a
    // simulated load of its own: --source and --sim-log go with it, --simulate and --speed not.
    bool readFrom(const QCommandLineParser& parser, QString* error, bool dryRun = false);
    // Starts the simulator on a thread of its own and points the station's load at it. False
    // with a message when it cannot listen or log.
    bool start(Station& station, QString* error);
    // A dry run's simulated load: on this thread, served while the station waits, with its time
    // following the station's clock.
    bool startFollowing(Station& station, const Clock& clock, QString* error);
    // "simulated load (ac) on 127.0.0.1:28282"
    QString description() const;

    bool enabled = false;
    SourceKind source = SourceKind::Ac;
    double speed = 1.0;
    QString logFile;
    quint16 port = 0;
    std::unique_ptr<LoadSimulatorThread> simulator;
    std::unique_ptr<LoadSimulator> local;

private:
    bool listen(Station& station, LoadSimulator& sim, QString* error);
};
