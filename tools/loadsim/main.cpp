// acl3-loadsim: the simulated ACL3 load as a program of its own, for demos and for pointing a
// station at by hand.

#include "LoadSimulator.h"

#include "Version.h"
#include "common/NumberText.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <optional>

namespace {
constexpr int kUsageError = 2;

const char* const kDescription = R"(A simulated ACL3 three-phase electronic load.

It takes the load's command lines (LF-terminated; CR LF is fine) on loopback TCP, on a
pseudo-terminal and through the fake GPIB library, keeps the load's settings and answers
its queries:
  MEAS:VOLT?, MEAS:CURR?, MEAS:POW?      phase A, one number
  GLOB:MEAS:VOLT?, ...CURR?, ...POW?     phases A, B, C and their total, "a,b,c,total"
  MODE?, LOAD?, CC:A? ... COUNT?         the settings as kept
After "DYNC ON" it runs COUNT cycles of PERD:HIGH ms at CCP:HIGH and PERD:LOW ms at CC:B,
then sends "OK,<volts>,<amps>", or "NG,..." when the lowest voltage under the high current
fell below VTH. Unknown lines are logged and ignored. Levels apply to each phase alike
(CC 10 with LOAD ON: 10 A in every live phase); the active level of a mode is level A.

Sources:
  ac       three phases of 230 V RMS behind 0.2 ohm each, +-0.1 V of reading noise
  battery  a cell on phase A (B and C read 0): open-circuit voltage falling linearly from
           full to empty as charge is drawn, an internal resistance, and at capacity it
           reads 0 V and delivers nothing more
The load never pulls its input below LDON and draws nothing from a source below it.

GPIB: start with --gpib-bridge, then run the station with
  ACL3_GPIB_LIBRARY=<path printed at start> ACL3_GPIBSIM=127.0.0.1:<bridge port>
The log (--log) has one line per command received: "<ms>\t<transport>\t<line>".)";

void fail(const QString& message)
{
    std::fprintf(stderr, "acl3-loadsim: %s\n", qPrintable(message));
    std::exit(kUsageError);
}

// The option's value as a number, or a clear message and exit.
double numberOption(const QCommandLineParser& parser, const QString& name)
{
    const QString text = parser.value(name);
    if (!isNumberText(text))
        fail(QStringLiteral("--%1: \"%2\" is not a number").arg(name, text));
    return parseNumber(text);
}

int wholeOption(const QCommandLineParser& parser, const QString& name)
{
    const QString text = parser.value(name);
    if (!isWholeNumberText(text) || parseNumber(text) < 0)
        fail(QStringLiteral("--%1: \"%2\" is not a whole number of 0 or more").arg(name, text));
    return roundToInt(parseNumber(text));
}

SimFaults faultsFrom(const QCommandLineParser& parser)
{
    SimFaults faults;
    const std::pair<const char*, SimFaults::ReplyForm> forms[] = {
        {"no-reply", SimFaults::ReplyForm::None},
        {"single-field", SimFaults::ReplyForm::SingleField},
        {"empty-replies", SimFaults::ReplyForm::Empty},
        {"garbage", SimFaults::ReplyForm::Garbage},
    };
    QStringList chosen;
    for (const auto& [name, form] : forms) {
        if (parser.isSet(QLatin1String(name))) {
            faults.form = form;
            chosen << QStringLiteral("--") + QLatin1String(name);
        }
    }
    if (chosen.size() > 1)
        fail(QStringLiteral("%1 exclude each other").arg(chosen.join(QStringLiteral(", "))));
    if (parser.isSet(QStringLiteral("delay")))
        faults.delayMs = wholeOption(parser, QStringLiteral("delay"));
    if (parser.isSet(QStringLiteral("split")))
        faults.splitPauseMs = wholeOption(parser, QStringLiteral("split"));
    if (parser.isSet(QStringLiteral("drop-after")))
        faults.dropAfter = wholeOption(parser, QStringLiteral("drop-after"));
    const QString afterDrop = parser.value(QStringLiteral("after-drop"));
    if (afterDrop == QLatin1String("refuse"))
        faults.afterDrop = SimFaults::AfterDrop::Refuse;
    else if (afterDrop == QLatin1String("silent"))
        faults.afterDrop = SimFaults::AfterDrop::Silent;
    else if (afterDrop != QLatin1String("accept"))
        fail(QStringLiteral("--after-drop: \"%1\" is none of accept, refuse, silent")
                 .arg(afterDrop));
    if (parser.isSet(QStringLiteral("down-for")))
        faults.downMs = wholeOption(parser, QStringLiteral("down-for"));
    if (parser.isSet(QStringLiteral("fault-count")))
        faults.count = wholeOption(parser, QStringLiteral("fault-count"));
    faults.only = parser.value(QStringLiteral("fault-only"));
    return faults;
}

void configureSource(const QCommandLineParser& parser, LoadSimulator& sim)
{
    const QString source = parser.value(QStringLiteral("source"));
    if (source == QLatin1String("battery"))
        sim.setSource(SourceKind::Battery);
    else if (source != QLatin1String("ac"))
        fail(QStringLiteral("--source: \"%1\" is neither ac nor battery").arg(source));

    BatterySource battery = sim.battery();
    const std::pair<const char*, double*> batteryOptions[] = {
        {"capacity", &battery.capacityAh},
        {"full-volts", &battery.fullVolts},
        {"empty-volts", &battery.emptyVolts},
        {"resistance", &battery.resistanceOhm},
    };
    for (const auto& [name, field] : batteryOptions) {
        if (parser.isSet(QLatin1String(name)))
            *field = numberOption(parser, QLatin1String(name));
    }
    AcSource ac = sim.ac();
    const std::pair<const char*, double*> acOptions[] = {
        {"ac-volts", &ac.volts},
        {"ac-impedance", &ac.impedanceOhm},
        {"noise", &ac.noiseVolts},
    };
    for (const auto& [name, field] : acOptions) {
        if (parser.isSet(QLatin1String(name)))
            *field = numberOption(parser, QLatin1String(name));
    }
    QString error;
    if (!sim.setBattery(battery, &error) || !sim.setAc(ac, &error))
        fail(error);
    if (parser.isSet(QStringLiteral("speed"))) {
        const double speed = numberOption(parser, QStringLiteral("speed"));
        if (!(speed > 0))
            fail(QStringLiteral("--speed: must be above 0"));
        sim.setSpeed(speed);
    }
    if (parser.isSet(QStringLiteral("seed")))
        sim.setSeed(static_cast<unsigned>(wholeOption(parser, QStringLiteral("seed"))));
}

std::optional<std::pair<QHostAddress, quint16>> listenOption(const QCommandLineParser& parser,
                                                             const QString& name)
{
    if (!parser.isSet(name))
        return std::nullopt;
    QHostAddress address;
    quint16 port = 0;
    QString error;
    if (!parseListenAddress(parser.value(name), &address, &port, &error))
        fail(QStringLiteral("--%1: %2").arg(name, error));
    return std::make_pair(address, port);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("acl3-loadsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ACL3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("tcp"),
         QStringLiteral("Serve the station's TCP/IP link on [ADDR:]PORT (address 127.0.0.1 "
                        "unless given; port 0 picks a free port, printed as \"tcp: ADDR:PORT\")."),
         QStringLiteral("[ADDR:]PORT")},
        {QStringLiteral("serial"),
         QStringLiteral("Open a pseudo-terminal for the station's serial link and print its "
                        "device, e.g. \"serial: /dev/pts/5\".")},
        {QStringLiteral("gpib-bridge"),
         QStringLiteral("Serve libacl3gpibsim.so on [ADDR:]PORT (as --tcp); prints "
                        "\"gpib-bridge: ADDR:PORT\" and the environment the station needs."),
         QStringLiteral("[ADDR:]PORT")},
        {QStringLiteral("source"), QStringLiteral("What the load draws from: ac or battery (ac)."),
         QStringLiteral("KIND"), QStringLiteral("ac")},
        {QStringLiteral("speed"),
         QStringLiteral("Run simulated time N times faster: the battery's discharge and the "
                        "pulse sequence (1)."),
         QStringLiteral("N")},
        {QStringLiteral("capacity"), QStringLiteral("Battery capacity, Ah (5)."),
         QStringLiteral("AH")},
        {QStringLiteral("full-volts"),
         QStringLiteral("Battery open-circuit voltage when full, V (4.2)."), QStringLiteral("V")},
        {QStringLiteral("empty-volts"),
         QStringLiteral("Battery open-circuit voltage just before it is empty, V (3.0)."),
         QStringLiteral("V")},
        {QStringLiteral("resistance"), QStringLiteral("Battery internal resistance, ohm (0.02)."),
         QStringLiteral("OHM")},
        {QStringLiteral("ac-volts"), QStringLiteral("AC phase voltage, V RMS (230)."),
         QStringLiteral("V")},
        {QStringLiteral("ac-impedance"),
         QStringLiteral("AC source impedance per phase, ohm (0.2)."), QStringLiteral("OHM")},
        {QStringLiteral("noise"),
         QStringLiteral("AC voltage reading noise, +-V (0.1; 0 for exact readings)."),
         QStringLiteral("V")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the reading noise (1)."),
         QStringLiteral("N")},
        {QStringLiteral("log"),
         QStringLiteral("Write every line received to FILE: \"<ms>\\t<transport>\\t<line>\"."),
         QStringLiteral("FILE")},
        {QStringLiteral("verbose"), QStringLiteral("Echo every line received on stderr.")},
        {QStringLiteral("no-reply"), QStringLiteral("Fault: answer nothing.")},
        {QStringLiteral("delay"), QStringLiteral("Fault: send each reply MS after its command."),
         QStringLiteral("MS")},
        {QStringLiteral("single-field"),
         QStringLiteral("Fault: send only the first field of each reply.")},
        {QStringLiteral("empty-replies"), QStringLiteral("Fault: answer with a bare LF.")},
        {QStringLiteral("garbage"), QStringLiteral("Fault: answer with the garbage line \"") +
                                        QLatin1String(kGarbageReply) + QStringLiteral("\".")},
        {QStringLiteral("split"), QStringLiteral("Fault: send each reply in two halves, MS apart."),
         QStringLiteral("MS")},
        {QStringLiteral("drop-after"),
         QStringLiteral("Fault: after the Nth command line (carried out, not answered) close "
                        "that TCP or GPIB connection, or make the pseudo-terminal deaf."),
         QStringLiteral("N")},
        {QStringLiteral("after-drop"),
         QStringLiteral("After --drop-after: accept a new connection at once (the "
                        "pseudo-terminal stays deaf), refuse connections, or take them and stay "
                        "silent (accept)."),
         QStringLiteral("MODE"), QStringLiteral("accept")},
        {QStringLiteral("down-for"),
         QStringLiteral("After --drop-after: be back to normal after MS milliseconds."),
         QStringLiteral("MS")},
        {QStringLiteral("fault-only"),
         QStringLiteral("Reply faults only for this command, e.g. \"GLOB:MEAS:POW?\"."),
         QStringLiteral("COMMAND")},
        {QStringLiteral("fault-count"),
         QStringLiteral("Reply faults only for the first N replies they apply to."),
         QStringLiteral("N")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        fail(QStringLiteral("unexpected argument \"%1\" (see --help)")
                 .arg(parser.positionalArguments().constFirst()));

    const auto tcp = listenOption(parser, QStringLiteral("tcp"));
    const auto bridge = listenOption(parser, QStringLiteral("gpib-bridge"));
    if (!tcp && !bridge && !parser.isSet(QStringLiteral("serial")))
        fail(QStringLiteral("no transport: give --tcp, --serial or --gpib-bridge (see --help)"));

    LoadSimulator sim;
    configureSource(parser, sim);
    sim.setFaults(faultsFrom(parser));
    QString error;
    if (parser.isSet(QStringLiteral("log")) &&
        !sim.setLogFile(parser.value(QStringLiteral("log")), &error))
        fail(error);

    const bool verbose = parser.isSet(QStringLiteral("verbose"));
    QObject::connect(&sim, &LoadSimulator::lineLogged, &sim, [verbose](const SimLogEntry& e) {
        if (verbose || !e.understood)
            std::fprintf(stderr, "%.3f %s %s%s\n", e.ms, qPrintable(e.transport),
                         qPrintable(e.line), e.understood ? "" : "   (unknown, ignored)");
    });

    if (tcp) {
        const quint16 port = sim.listenTcp(tcp->second, tcp->first, &error);
        if (port == 0)
            fail(error);
        std::printf("tcp: %s:%u\n", qPrintable(tcp->first.toString()), port);
    }
    if (parser.isSet(QStringLiteral("serial"))) {
        const QString path = sim.openPty(&error);
        if (path.isEmpty())
            fail(error);
        std::printf("serial: %s\n", qPrintable(path));
    }
    if (bridge) {
        const quint16 port = sim.listenGpibBridge(bridge->second, bridge->first, &error);
        if (port == 0)
            fail(error);
        std::printf("gpib-bridge: %s:%u\n", qPrintable(bridge->first.toString()), port);
        std::printf("  ACL3_GPIB_LIBRARY=%s ACL3_GPIBSIM=%s:%u\n",
                    qPrintable(QDir::toNativeSeparators(gpibSimLibraryPath())),
                    qPrintable(bridge->first.toString()), port);
    }
    std::fflush(stdout);
    return QCoreApplication::exec();
}
