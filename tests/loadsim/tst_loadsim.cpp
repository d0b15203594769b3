// The simulated load: its commands, replies and source models on simulated time; on TCP, a
// pseudo-terminal and GPIB (replies, pulse timing, fault knobs); and the acl3-loadsim program.

#include "LineClient.h"
#include "loadsim/LoadInstrument.h"
#include "loadsim/LoadSimulatorThread.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {
const QStringList kLinks = {"tcp", "serial", "gpib"};

// The simulator on its own thread (a GPIB read blocks the test's), a quiet 230 V source behind
// 0.2 ohm, and a client on `link`.
struct Rig
{
    explicit Rig(const QString& link)
    {
        sim->setAc({230, 0.2, 0});
        if (link == QLatin1String("tcp"))
            client = LineClient::tcp(sim->listenTcp());
        else if (link == QLatin1String("serial"))
            client = LineClient::device(sim->openPty());
        else {
            setGpibSimEnvironment(sim->listenGpibBridge());
            client = LineClient::gpib();
        }
    }
    LoadSimulatorThread sim;
    std::unique_ptr<LineClient> client;
};

void send(LineClient& c, const QList<QByteArray>& lines)
{
    for (const QByteArray& line : lines)
        c.send(line);
}

const QString kProgram = QStringLiteral(ACL3_LOADSIM_PROGRAM);

// The next line the running program prints, without its LF.
QString nextLine(QProcess& process)
{
    while (!process.canReadLine() && process.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

// An AC source without reading noise, so that every reading is exact.
LoadInstrument quietAc()
{
    LoadInstrument load(SourceKind::Ac);
    load.source().setAc({230, 0.2, 0});
    return load;
}

LoadInstrument battery(double capacityAh = 5)
{
    LoadInstrument load(SourceKind::Battery);
    load.source().setBattery({capacityAh, 4.2, 3.0, 0.02});
    return load;
}

QString ask(LoadInstrument& load, const QString& line, double atS = 0)
{
    const auto outcome = load.execute(line, atS);
    return outcome.reply.value_or(QStringLiteral("<none>"));
}

void sendAll(LoadInstrument& load, const QStringList& lines, double atS = 0)
{
    for (const QString& line : lines)
        QVERIFY2(load.execute(line, atS).understood, qPrintable(line));
}
} // namespace

class LoadSimTest : public QObject
{
    Q_OBJECT

private slots:
    // The replies to a volts query, a current query and a pulse sequence, in each reply form,
    // and held back in order by a delay or a split.
    void replies_endWithLfInTheirFormAndSettingsAnswerNothing_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("splitMs");
        QTest::addColumn<QByteArray>("replies");
        using F = SimFaults::ReplyForm;
        const QByteArray normal("228.000\n10.000,10.000,10.000,30.000\nOK,230.000,0.000\n");
        const QByteArray garbage("#?@!~%&*\n");
        for (const QString& link : kLinks) {
            const auto row = [&](const char* name, F form, int delayMs, int splitMs) -> QTestData& {
                return QTest::newRow(qPrintable(link + ", " + name))
                       << link << int(form) << delayMs << splitMs;
            };
            row("normal", F::Normal, 0, 0) << normal;
            row("delay", F::Normal, 200, 0) << normal;
            row("split", F::Normal, 0, 300) << normal;
            row("single field", F::SingleField, 0, 0) << QByteArray("228.000\n10.000\nOK\n");
            row("empty", F::Empty, 0, 0) << QByteArray("\n\n\n");
            row("garbage", F::Garbage, 0, 0) << garbage + garbage + garbage;
            row("none", F::None, 0, 0) << QByteArray();
        }
    }
    void replies_endWithLfInTheirFormAndSettingsAnswerNothing()
    {
        QFETCH(QString, link);
        QFETCH(int, form);
        QFETCH(int, delayMs);
        QFETCH(int, splitMs);
        QFETCH(QByteArray, replies);
        Rig rig(link);
        SimFaults faults;
        faults.form = static_cast<SimFaults::ReplyForm>(form);
        faults.delayMs = delayMs;
        faults.splitPauseMs = splitMs;
        rig.sim->setFaults(faults);
        LineClient& c = *rig.client;
        QElapsedTimer timer;
        timer.start();
        // CR LF, several commands in one write, and (on a byte stream) one command in two.
        c.write("CC:A 10\r\nMODE CC\nLOAD ON\nMEAS:VOLT?\n");
        if (link == QLatin1String("gpib")) {
            c.send("GLOB:MEAS:CURR?");
        } else {
            c.write("GLOB:MEAS:");
            c.write("CURR?\n");
        }
        send(c, {"LOAD OFF", "FOO", "COUNT 1", "DYNC ON"});
        // Nothing before the delay; with a split, the first half at once (a GPIB read takes the
        // whole reply).
        QByteArray got;
        if (delayMs + splitMs > 0 && link != QLatin1String("gpib")) {
            got = c.readFor(splitMs / 2 + delayMs / 2);
            QCOMPARE(got, splitMs ? QByteArray("228.") : QByteArray());
        }
        for (qsizetype n = replies.count('\n'); n > 0; --n)
            got += c.readLine().value_or("<none>\n");
        QCOMPARE(got + c.readFor(300), replies); // and nothing more within 0.3 s
        QVERIFY(timer.elapsed() >= delayMs + splitMs);
        QVERIFY(!rig.sim->state().loadOn);
        rig.sim->clearFaults();
        QCOMPARE(c.query("MODE?"), QByteArray("CC"));
        for (const SimLogEntry& entry : rig.sim->log())
            QCOMPARE(entry.transport, link);
    }

    void pulse_resultComesAfterItsCyclesOnSimulatedTime_data()
    {
        addColumns({"speed"});
        addRows({"real time;1", "100 times faster;100"});
    }
    void pulse_resultComesAfterItsCyclesOnSimulatedTime()
    {
        QFETCH(QString, speed);
        Rig rig("tcp");
        rig.sim->setSpeed(speed.toInt());
        // Two cycles of 200 + 25 ms; at 100 times, forty (9 s). 226 V at 20 A is below VTH.
        const int cycles = speed == QLatin1String("1") ? 2 : 40;
        send(*rig.client, {"CCP:HIGH 20", "CC:B 1", "PERD:HIGH 200", "PERD:LOW 25", "VTH 227",
                           "COUNT " + QByteArray::number(cycles)});
        QElapsedTimer timer;
        rig.client->send("DYNC ON");
        timer.start();
        // The load answers queries while the sequence runs: the first 200 ms at 20 A.
        if (cycles == 2)
            QCOMPARE(rig.client->query("MEAS:CURR?"), QByteArray("20.000"));
        QCOMPARE(rig.client->readLine(5000), QByteArray("NG,226.000,20.000\n"));
        QVERIFY2(timer.elapsed() >= cycles * 225 / speed.toInt() - 5,
                 qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!rig.sim->state().pulseRunning);
    }

    void badOptions_areRefusedWithAClearMessage_data()
    {
        addColumns({"arguments", "message"});
        addRows({
            "no transport;;no transport",
            "port too big;--tcp 70000;port from 0 to 65535",
            "bad address;--tcp nowhere:5025;\"nowhere\" is not an IPv4 address",
            "source;--serial --source solar;neither ac nor battery",
            "speed;--serial --speed 0;--speed: must be above 0",
            "number;--serial --capacity lots;--capacity: \"lots\" is not a number",
            "battery;--serial --full-volts 2;full voltage must be above its empty voltage",
            "delay;--serial --delay -5;--delay: \"-5\" is not a whole number",
            "two forms;--serial --no-reply --garbage;--no-reply, --garbage exclude each other",
            "log;--serial --log /no/such/dir/sim.log;"
            "cannot write the log file /no/such/dir/sim.log",
            "after drop;--serial --after-drop later;"
            "--after-drop: \"later\" is none of accept, refuse, silent",
            "argument;--serial extra;unexpected argument",
        });
    }
    void badOptions_areRefusedWithAClearMessage()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, message);
        QProcess process;
        process.start(kProgram, arguments.split(u' ', Qt::SkipEmptyParts));
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(err.startsWith("acl3-loadsim: ") && err.contains(message), qPrintable(err));
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }

    void aRun_servesItsLinksWithTheGivenSourceFaultsAndLog()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath("sim.log");
        QProcess process;
        process.start(kProgram, {"--tcp", "0", "--serial", "--gpib-bridge", "127.0.0.1:0",
                                 "--source", "battery", "--full-volts", "12.6", "--empty-volts",
                                 "10", "--single-field", "--fault-only", " glob:meas:volt? ",
                                 "--fault-count", "1", "--log", logPath});
        QVERIFY(process.waitForStarted());
        QStringList banner;
        for (int line = 0; line < 4; ++line)
            banner << nextLine(process);
        const QRegularExpressionMatch opened =
            QRegularExpression("^tcp: 127\\.0\\.0\\.1:(\\d+)\nserial: (/dev/\\S+)\n"
                               "gpib-bridge: 127\\.0\\.0\\.1:\\d+\n"
                               ".*libacl3gpibsim\\.so ACL3_GPIBSIM=127\\.0\\.0\\.1:")
                .match(banner.join('\n'));
        QVERIFY2(opened.hasMatch(), qPrintable(banner.join('\n')));
        auto overTcp = LineClient::tcp(static_cast<quint16>(opened.captured(1).toUInt()));
        QCOMPARE(overTcp->query("MEAS:VOLT?"), QByteArray("12.600"));
        // The fault is for that one command, any letter case, and for its first reply only.
        QCOMPARE(overTcp->query("GLOB:MEAS:VOLT?"), QByteArray("12.600"));
        QCOMPARE(overTcp->query("GLOB:MEAS:VOLT?"), QByteArray("12.600,0.000,0.000,12.600"));
        QCOMPARE(overTcp->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
        overTcp->send("XYZZY 1");
        QCOMPARE(overTcp->query("MODE?"), QByteArray("CC"));
        auto overPty = LineClient::device(opened.captured(2));
        QCOMPARE(overPty->query("GLOB:MEAS:POW?"), QByteArray("0.000,0.000,0.000,0.000"));

        process.terminate();
        QVERIFY(process.waitForFinished(5000));
        QVERIFY(QString::fromLocal8Bit(process.readAllStandardError())
                    .contains("tcp XYZZY 1   (unknown, ignored)"));
        QStringList logged;
        for (const QString& record :
             QString::fromLatin1(readFile(logPath)).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = record.split('\t');
            QCOMPARE(fields.size(), 3);
            logged << fields[1] + ' ' + fields[2];
        }
        QCOMPARE(logged, (QStringList{"tcp MEAS:VOLT?", "tcp GLOB:MEAS:VOLT?",
                                      "tcp GLOB:MEAS:VOLT?", "tcp GLOB:MEAS:CURR?", "tcp XYZZY 1",
                                      "tcp MODE?", "serial GLOB:MEAS:POW?"}));
    }

    // Commands (a leading "!" marks one the load must ignore), then queries and their replies.
    // The AC source is 230 V behind 0.2 ohm a phase; the battery 4.2 V behind 0.02 ohm.
    void commands_shapeTheReplies_data()
    {
        addColumns({"source", "commands", "queries", "replies"});
        addRows({
            "idle;ac;;GLOB:MEAS:VOLT?|GLOB:MEAS:CURR?;230.000,230.000,230.000,690.000|"
            "0.000,0.000,0.000,0.000",
            "CC, 10 A through 0.2 ohm;ac;CC:A 10|FREQ 60|MODE CC|LOAD ON;"
            "GLOB:MEAS:POW?|MEAS:POW?|MEAS:CURR?|GLOB:MEAS:VOLT?;"
            "2280.000,2280.000,2280.000,6840.000|2280.000|10.000|228.000,228.000,228.000,684.000",
            "LIN;ac;LIN:A 7|MODE LIN|LOAD ON;MEAS:CURR?|GLOB:MEAS:VOLT?;"
            "7.000|228.600,228.600,228.600,685.800",
            "CR, 230 / (22.8 + 0.2);ac;CR:A 22.8|MODE CR|LOAD ON;GLOB:MEAS:CURR?|MEAS:VOLT?;"
            "10.000,10.000,10.000,30.000|228.000",
            "CV, (230 - 220) / 0.2;ac;CV:A 220|MODE CV|LOAD "
            "ON;MEAS:CURR?|MEAS:VOLT?;50.000|220.000",
            "CV above the source;ac;CV:A 240|MODE CV|LOAD ON;MEAS:CURR?|MEAS:VOLT?;0.000|230.000",
            "CP, 228 V x 10 A;ac;CP:A 2280|MODE CP|LOAD ON;MEAS:CURR?|MEAS:VOLT?;10.000|228.000",
            "CP beyond the maximum-power point;ac;CP:A 1000000|MODE CP|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;575.000|115.000",
            "level B idle;ac;CC:A 2|CC:B 9|MODE CC|LOAD ON;MEAS:CURR?|MEAS:VOLT?;2.000|229.600",
            "load off;ac;CP:A 2280|MODE CP|LOAD ON|LOAD OFF;GLOB:MEAS:CURR?|GLOB:MEAS:POW?|"
            "MEAS:VOLT?;0.000,0.000,0.000,0.000|0.000,0.000,0.000,0.000|230.000",
            "levels read back;ac;CR:A 0.533|CR:B 40|LIN:B 4|FREQ 400|mode cr|LOAD ON;"
            "MODE?|LOAD?|CR:A?|CR:B?|LIN:B?|FREQ?;CR|ON|0.533|40|4|400",
            "pulse settings read back;ac;CCP:HIGH 30|PERD:HIGH 10|PERD:LOW 990|VTH 2.75|COUNT 3|"
            "LDON 0.8|CC "
            "AUTO;CCP:HIGH?|PERD:HIGH?|PERD:LOW?|VTH?|COUNT?|LDON?;30|10|990|2.75|3|0.8",
            "remote and blanks;ac;REM|REMOTE|remote|  cc:a   12.5  ;CC:A?;12.5",
            "unknown and malformed lines;ac;CC:A 4|MODE CV|!FOO|!GLOB:MEAS:FREQ?|!CC:A|!CC:A ten|"
            "!CC:C 5|!MODE XX|!;CC:A?|MODE?;4|CV",
            "battery feeds phase A only;battery;;GLOB:MEAS:VOLT?;4.200,0.000,0.000,4.200",
            "battery at 10 A;battery;CC:A 10|MODE CC|LOAD ON;"
            "GLOB:MEAS:VOLT?|GLOB:MEAS:CURR?|GLOB:MEAS:POW?;"
            "4.000,0.000,0.000,4.000|10.000,0.000,0.000,10.000|40.000,0.000,0.000,40.000",
            // 20 A would pull the cell to 3.8 V; at LDON 3.9 the load takes only 15 A.
            "load-on voltage limits the draw;battery;LDON 3.9|CC:A 20|MODE CC|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;15.000|3.900",
            "source below the load-on voltage;battery;LDON 4.5|CC:A 20|MODE CC|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;0.000|4.200",
        });
    }
    void commands_shapeTheReplies()
    {
        QFETCH(QString, source);
        QFETCH(QString, commands);
        QFETCH(QString, queries);
        QFETCH(QString, replies);
        LoadInstrument load = source == QLatin1String("ac") ? quietAc() : battery();
        for (const QString& line : commands.split(u'|', Qt::SkipEmptyParts)) {
            const bool ignored = line.startsWith(u'!');
            const auto outcome = load.execute(ignored ? line.mid(1) : line, 0);
            QVERIFY2(outcome.understood != ignored, qPrintable(line));
            QVERIFY(!outcome.reply);
        }
        QStringList got;
        for (const QString& query : queries.split(u'|'))
            got << ask(load, query);
        QCOMPARE(got.join(u'|'), replies);
    }

    void acNoise_staysWithinItsBoundAndTheTotalMatchesTheFields()
    {
        LoadInstrument load(SourceKind::Ac);
        load.source().setAc({230, 0.2, 0.5});
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QStringList fields = ask(load, "GLOB:MEAS:VOLT?").split(',');
            double sum = 0;
            for (const QString& field : fields.mid(0, 3)) {
                QVERIFY2(qAbs(field.toDouble() - 230) <= 0.5, qPrintable(field));
                sum += field.toDouble();
            }
            QCOMPARE(fields.value(3), replyNumber(sum));
            seen += QSet<QString>(fields.begin(), fields.begin() + 3);
        }
        QVERIFY2(seen.size() > 10, "the readings vary");
    }

    void battery_dischargeReachesItsStopVoltageAndAmpereHours()
    {
        // 2 Ah from 4.2 V to 3.0 V at 1 A: under load the cell reads 0.02 V below its open
        // voltage. It reads below 3.5 V once 3.52 V open, i.e. (4.2 - 3.52) / 1.2 x 2 Ah =
        // 1.1333 Ah drawn, after 4080 s. It is empty, and draws nothing, after 7200 s.
        LoadInstrument load = battery(2);
        sendAll(load, {"CC:A 1", "MODE CC", "LOAD ON"});
        constexpr double kStepS = 10;
        double stopVoltageAt = -1;
        double emptyAt = -1;
        for (double t = kStepS; t <= 8000; t += kStepS) {
            const double volts = ask(load, "MEAS:VOLT?", t).toDouble();
            if (stopVoltageAt < 0 && volts < 3.5)
                stopVoltageAt = t;
            if (emptyAt < 0 && volts == 0) {
                emptyAt = t;
                QCOMPARE(ask(load, "MEAS:CURR?", t), QStringLiteral("0.000"));
            }
        }
        QVERIFY2(qAbs(stopVoltageAt - 4080) <= kStepS, qPrintable(QString::number(stopVoltageAt)));
        QVERIFY2(qAbs(emptyAt - 7200) <= kStepS, qPrintable(QString::number(emptyAt)));
        QCOMPARE(load.source().drawnAh(), 2.0);

        // Nothing is drawn while the load is off, and a fresh cell is full again.
        LoadInstrument idle = battery(2);
        QVERIFY(idle.execute("CC:A 1", 0).understood);
        idle.advanceTo(3600);
        QCOMPARE(idle.source().drawnAh(), 0.0);
        load.reset(9000);
        QCOMPARE(ask(load, "MEAS:VOLT?", 9000), QStringLiteral("4.200"));
    }

    void pulse_reportsOkOrNgFromTheLowestVoltageUnderTheHighCurrent()
    {
        // Five cycles of 100 ms at 20 A and 100 ms at 1 A on a 5 Ah cell. At the end of the
        // last high segment (20 x 0.5 + 1 x 0.4) / 3600 Ah are drawn: 4.199307 V open,
        // 3.799307 V under 20 A.
        for (const auto& [vth, expected] :
             {std::pair{3.5, "OK,3.799,20.000"}, std::pair{3.8, "NG,3.799,20.000"}}) {
            LoadInstrument load = battery();
            sendAll(load,
                    {"CCP:HIGH 20", "CC:B 1", "PERD:HIGH 100", "PERD:LOW 100",
                     QStringLiteral("VTH %1").arg(vth), "COUNT 5"},
                    10);
            const auto start = load.execute("DYNC ON", 10);
            QVERIFY(start.pulseStarted);
            QVERIFY(!start.reply);
            QCOMPARE(load.pulseSeconds(), 1.0);
            QVERIFY(load.state().pulseRunning);
            // High, then low segments: the load draws CCP:HIGH, then CC:B.
            QCOMPARE(ask(load, "MEAS:CURR?", 10.05), QStringLiteral("20.000"));
            QCOMPARE(ask(load, "MEAS:CURR?", 10.15), QStringLiteral("1.000"));
            QCOMPARE(load.finishPulse(11), QString::fromLatin1(expected));
            QVERIFY(!load.state().pulseRunning);
            QCOMPARE(ask(load, "MEAS:CURR?", 11.5), QStringLiteral("0.000"));
        }
    }

    void pulse_onTheAcSourceAndItsEdges()
    {
        LoadInstrument load = quietAc();
        sendAll(load,
                {"CCP:HIGH 20", "CC:B 0", "PERD:HIGH 5", "PERD:LOW 5", "VTH 226.5", "COUNT 2"});
        QVERIFY(load.execute("DYNC ON", 0).pulseStarted);
        // A second start while it runs changes nothing.
        QVERIFY(!load.execute("DYNC ON", 0.001).pulseStarted);
        QCOMPARE(load.finishPulse(0.02), QStringLiteral("NG,226.000,20.000"));
        // No cycles: the result comes from the high current at once.
        sendAll(load, {"COUNT 0", "VTH 200"}, 1);
        QVERIFY(load.execute("DYNC ON", 1).pulseStarted);
        QCOMPARE(load.pulseSeconds(), 0.0);
        QCOMPARE(load.finishPulse(1), QStringLiteral("OK,226.000,20.000"));
        // Twice this count does not fit an int; the sequence must still be under way.
        sendAll(load, {"CC:B 5", "COUNT 2147483647"}, 2);
        QVERIFY(load.execute("DYNC ON", 2).pulseStarted);
        QCOMPARE(ask(load, "MEAS:CURR?", 2.012), QStringLiteral("20.000"));
        // "DYNC OFF" ends a sequence without a result.
        QVERIFY(load.execute("DYNC OFF", 2.013).pulseStopped);
        QVERIFY(!load.state().pulseRunning);
        // Cycles without length are over at once, however many.
        sendAll(load, {"PERD:HIGH 0", "PERD:LOW 0", "DYNC ON"}, 3);
        QCOMPARE(ask(load, "MEAS:CURR?", 4), QStringLiteral("0.000"));
    }
};

ACL3_TEST_MAIN(LoadSimTest)
#include "tst_loadsim.moc"
