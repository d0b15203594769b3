// The simulated load on TCP, a pseudo-terminal and GPIB: replies, pulse timing, fault knobs;
// and the acl3-loadsim program: its refusals, and a run over its links with a log file.

#include "LineClient.h"
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
};

ACL3_TEST_MAIN(LoadSimTest)
#include "tst_loadsim.moc"
