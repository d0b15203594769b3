#include "SimulateOption.h"

#include "station/Station.h"

#include <QCommandLineParser>

namespace {
const QString kSimulate = QStringLiteral("simulate");
const QString kSource = QStringLiteral("source");
const QString kSpeed = QStringLiteral("speed");
const QString kSimLog = QStringLiteral("sim-log");
} // namespace

void SimulateOption::addTo(QCommandLineParser& parser)
{
    parser.addOptions({
        {kSimulate, QStringLiteral("Use a simulated load started in this process on a free "
                                   "loopback port instead of the load the program file names.")},
        {kSource,
         QStringLiteral("With --simulate (or a dry run): what the simulated load draws from, ac "
                        "or battery (ac)."),
         QStringLiteral("KIND")},
        {kSpeed,
         QStringLiteral("With --simulate: the battery and the pulse sequences run N times faster "
                        "than real time (1)."),
         QStringLiteral("N")},
        {kSimLog,
         QStringLiteral("With --simulate (or a dry run): write every line the simulated load "
                        "receives to FILE."),
         QStringLiteral("FILE")},
    });
}

bool SimulateOption::readFrom(const QCommandLineParser& parser, QString* error, bool dryRun)
{
    if (dryRun) {
        for (const QString& option : {kSimulate, kSpeed}) {
            if (parser.isSet(option)) {
                *error = QStringLiteral("--%1 does not go with --dry-run, which simulates the "
                                        "load on a clock that skips every wait")
                             .arg(option);
                return false;
            }
        }
    }
    enabled = dryRun || parser.isSet(kSimulate);
    for (const QString& option : {kSource, kSpeed, kSimLog}) {
        if (!enabled && parser.isSet(option)) {
            *error = QStringLiteral("--%1 goes with --simulate").arg(option);
            return false;
        }
    }
    if (parser.isSet(kSource)) {
        const QString kind = parser.value(kSource);
        if (kind == QLatin1String("battery")) {
            source = SourceKind::Battery;
        } else if (kind != QLatin1String("ac")) {
            *error = QStringLiteral("--source: \"%1\" is neither ac nor battery").arg(kind);
            return false;
        }
    }
    if (parser.isSet(kSpeed)) {
        bool ok = false;
        speed = parser.value(kSpeed).toDouble(&ok);
        if (!ok || !(speed > 0)) {
            *error =
                QStringLiteral("--speed: \"%1\" is not a number above 0").arg(parser.value(kSpeed));
            return false;
        }
    }
    logFile = parser.value(kSimLog);
    return true;
}

bool SimulateOption::start(Station& station, QString* error)
{
    if (!enabled)
        return true;
    simulator = std::make_unique<LoadSimulatorThread>(source);
    LoadSimulator& sim = simulator->simulator();
    sim.setSpeed(speed);
    return listen(station, sim, error);
}

bool SimulateOption::startFollowing(Station& station, const Clock& clock, QString* error)
{
    local = std::make_unique<LoadSimulator>(source);
    local->followClock(&clock);
    return listen(station, *local, error);
}

bool SimulateOption::listen(Station& station, LoadSimulator& sim, QString* error)
{
    // A session runs as long as the station does: the lines go to --sim-log, not to memory.
    sim.setLogKept(false);
    port = sim.listenTcp(0, QHostAddress::LocalHost, error);
    if (port == 0)
        return false;
    if (!logFile.isEmpty() && !sim.setLogFile(logFile, error))
        return false;
    station.sessionLink = Station::SessionLink{QStringLiteral("127.0.0.1"), port};
    return true;
}

QString SimulateOption::description() const
{
    return QStringLiteral("simulated load (%1) on 127.0.0.1:%2")
        .arg(source == SourceKind::Battery ? QStringLiteral("battery") : QStringLiteral("ac"))
        .arg(port);
}
