// The simulated load on TCP, a pseudo-terminal and GPIB: replies, pulse timing, fault knobs, log.

#include "GpibLibrary.h"
#include "LineClient.h"
#include "loadsim/LoadSimulatorThread.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTemporaryDir>

#include <thread>

namespace {
constexpr int kNoReplyWaitMs = 300;
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

void addLinkColumn()
{
    QTest::addColumn<QString>("link");
}

// One row a link.
void addLinkRows()
{
    addLinkColumn();
    for (const QString& link : kLinks)
        QTest::newRow(qPrintable(link)) << link;
}
} // namespace

class LoadSimLinksTest : public QObject
{
    Q_OBJECT

private slots:
    void replies_endWithLfAndSettingsAnswerNothing_data()
    {
        addLinkRows();
    }
    void replies_endWithLfAndSettingsAnswerNothing()
    {
        QFETCH(QString, link);
        Rig rig(link);
        LineClient& c = *rig.client;
        // CR LF, several commands in one write, and (on a byte stream) one command in two.
        c.write("CC:A 10\r\nMODE CC\nLOAD ON\n");
        if (link != QLatin1String("gpib")) {
            c.write("GLOB:MEAS:");
            c.write("CURR?\n");
            QCOMPARE(c.readLine(), QByteArray("10.000,10.000,10.000,30.000\n"));
        }
        QCOMPARE(c.query("GLOB:MEAS:VOLT?"), QByteArray("228.000,228.000,228.000,684.000"));
        send(c, {"LOAD OFF", "FOO"});
        QCOMPARE(c.readFor(kNoReplyWaitMs), QByteArray());
        QCOMPARE(c.query("MEAS:POW?"), QByteArray("0.000"));
        QVERIFY(!rig.sim->state().loadOn);
        const QList<SimLogEntry> log = rig.sim->log();
        QCOMPARE(log.constLast().line, QStringLiteral("MEAS:POW?"));
        for (const SimLogEntry& entry : log)
            QCOMPARE(entry.transport, link);
    }

    void pulse_resultComesAfterItsCyclesOnSimulatedTime_data()
    {
        addLinkColumn();
        QTest::addColumn<int>("speed");
        QTest::addColumn<QByteArray>("vth");
        QTest::addColumn<QByteArray>("result");
        QTest::newRow("tcp, OK") << "tcp" << 1 << QByteArray("200") << QByteArray("OK");
        QTest::newRow("serial, NG") << "serial" << 1 << QByteArray("227") << QByteArray("NG");
        QTest::newRow("gpib, NG") << "gpib" << 1 << QByteArray("227") << QByteArray("NG");
        QTest::newRow("tcp, 100 times faster")
            << "tcp" << 100 << QByteArray("200") << QByteArray("OK");
    }
    void pulse_resultComesAfterItsCyclesOnSimulatedTime()
    {
        QFETCH(QString, link);
        QFETCH(int, speed);
        QFETCH(QByteArray, vth);
        QFETCH(QByteArray, result);
        Rig rig(link);
        rig.sim->setSpeed(speed);
        // Two cycles of 200 + 25 ms; at 100 times, forty cycles of 200 + 25 ms (9 s).
        const int cycles = speed == 1 ? 2 : 40;
        send(*rig.client, {"CCP:HIGH 20", "CC:B 1", "PERD:HIGH 200", "PERD:LOW 25", "VTH " + vth,
                           "COUNT " + QByteArray::number(cycles)});
        QElapsedTimer timer;
        rig.client->send("DYNC ON");
        timer.start();
        // The load answers queries while the sequence runs: the first 200 ms at 20 A.
        if (speed == 1)
            QCOMPARE(rig.client->query("MEAS:CURR?"), QByteArray("20.000"));
        QCOMPARE(rig.client->readLine(5000), result + ",226.000,20.000\n");
        QVERIFY2(timer.elapsed() >= cycles * 225 / speed - 5,
                 qPrintable(QString::number(timer.elapsed())));
        QVERIFY(!rig.sim->state().pulseRunning);
    }

    void faults_shapeTheReplies_data()
    {
        addLinkColumn();
        QTest::addColumn<int>("form");
        QTest::addColumn<QByteArray>("volts");
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("pulse");
        using F = SimFaults::ReplyForm;
        for (const QString& link : kLinks) {
            const auto row = [&](const char* name) {
                return &(QTest::newRow(qPrintable(link + ", " + name)) << link);
            };
            *row("single field") << int(F::SingleField) << QByteArray("230.000\n")
                                 << QByteArray("0.000\n") << QByteArray("OK\n");
            *row("empty") << int(F::Empty) << QByteArray("\n") << QByteArray("\n")
                          << QByteArray("\n");
            *row("garbage") << int(F::Garbage) << QByteArray("#?@!~%&*\n")
                            << QByteArray("#?@!~%&*\n") << QByteArray("#?@!~%&*\n");
            *row("none") << int(F::None) << QByteArray() << QByteArray() << QByteArray();
        }
    }
    void faults_shapeTheReplies()
    {
        QFETCH(QString, link);
        QFETCH(int, form);
        QFETCH(QByteArray, volts);
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, pulse);
        Rig rig(link);
        SimFaults faults;
        faults.form = static_cast<SimFaults::ReplyForm>(form);
        rig.sim->setFaults(faults);
        LineClient& c = *rig.client;
        c.send("MEAS:VOLT?");
        QCOMPARE(c.readLine(volts.isEmpty() ? kNoReplyWaitMs : 2000).value_or(QByteArray()), volts);
        c.send("GLOB:MEAS:CURR?");
        QCOMPARE(c.readLine(volts.isEmpty() ? kNoReplyWaitMs : 2000).value_or(QByteArray()),
                 current);
        send(c, {"COUNT 1", "DYNC ON"});
        QCOMPARE(c.readLine(volts.isEmpty() ? kNoReplyWaitMs : 2000).value_or(QByteArray()), pulse);
        QCOMPARE(c.readFor(50), QByteArray());
        rig.sim->clearFaults();
        QCOMPARE(c.query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
    }

    void faults_delayAndSplitHoldRepliesBackInOrder_data()
    {
        addLinkColumn();
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("splitMs");
        for (const QString& link : kLinks) {
            QTest::newRow(qPrintable(link + ", delay")) << link << 200 << 0;
            QTest::newRow(qPrintable(link + ", split")) << link << 0 << 300;
        }
    }
    void faults_delayAndSplitHoldRepliesBackInOrder()
    {
        QFETCH(QString, link);
        QFETCH(int, delayMs);
        QFETCH(int, splitMs);
        Rig rig(link);
        SimFaults faults;
        faults.delayMs = delayMs;
        faults.splitPauseMs = splitMs;
        rig.sim->setFaults(faults);
        LineClient& c = *rig.client;
        QElapsedTimer timer;
        timer.start();
        send(c, {"GLOB:MEAS:VOLT?", "MODE?"});
        const QByteArray whole("230.000,230.000,230.000,690.000\n");
        // Nothing before the delay; with a split, the first half at once (a GPIB read takes the
        // whole reply).
        QByteArray got;
        if (link != QLatin1String("gpib")) {
            got = c.readFor(splitMs / 2 + delayMs / 2);
            QCOMPARE(got, splitMs ? whole.left(whole.size() / 2) : QByteArray());
        }
        QCOMPARE(got + c.readLine(3000).value_or("<none>"), whole);
        QVERIFY2(timer.elapsed() >= delayMs + splitMs - 5,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(c.readLine(3000).value_or("<none>").right(3), QByteArray("CC\n"));
    }

    void faults_dropAfterCutsThePeerAtTheNthCommand_data()
    {
        addLinkRows();
    }
    void faults_dropAfterCutsThePeerAtTheNthCommand()
    {
        QFETCH(QString, link);
        Rig rig(link);
        LineClient& c = *rig.client;
        c.send("CC:A 1"); // before the knob: not counted
        QVERIFY(rig.sim->waitForLines(1, 5000));
        SimFaults faults;
        faults.dropAfter = 3;
        rig.sim->setFaults(faults);
        c.send("CC:A 5");
        QCOMPARE(c.query("MEAS:VOLT?"), QByteArray("230.000"));
        // Carried out, not answered; the peer is gone (the pseudo-terminal goes deaf).
        send(c, {"GLOB:MEAS:VOLT?", "MODE CV"});
        if (link == QLatin1String("tcp"))
            QVERIFY(c.waitClosed(5000));
        QCOMPARE(c.readFor(kNoReplyWaitMs), QByteArray());
        QCOMPARE(rig.sim->lines().constLast(), QStringLiteral("GLOB:MEAS:VOLT?"));
        QCOMPARE(rig.sim->state().level(LoadMode::CC).a, 5.0);
        QCOMPARE(rig.sim->state().mode, LoadMode::CC);
        // A new peer is served (the pseudo-terminal once the faults are set again), and the
        // knob does not fire twice.
        std::unique_ptr<LineClient> again;
        if (link == QLatin1String("tcp"))
            again = LineClient::tcp(rig.sim->tcpPort());
        else if (link == QLatin1String("gpib"))
            again = LineClient::gpib();
        else
            rig.sim->clearFaults();
        for (int i = 0; i < 4; ++i)
            QCOMPARE((again ? *again : c).query("MODE?"), QByteArray("CC"));
    }

    void faults_canBeNarrowedToOneCommandOrSomeReplies()
    {
        Rig rig("tcp");
        SimFaults powerEmpty;
        powerEmpty.form = SimFaults::ReplyForm::Empty;
        powerEmpty.only = QStringLiteral(" glob:meas:pow?");
        rig.sim->setFaults(powerEmpty);
        LineClient& c = *rig.client;
        QCOMPARE(c.query("GLOB:MEAS:POW?"), QByteArray(""));
        QCOMPARE(c.query("MEAS:VOLT?"), QByteArray("230.000"));
        QCOMPARE(c.query("GLOB:MEAS:POW?"), QByteArray(""));
        SimFaults firstOnly;
        firstOnly.form = SimFaults::ReplyForm::SingleField;
        firstOnly.count = 1;
        rig.sim->setFaults(firstOnly);
        QCOMPARE(c.query("GLOB:MEAS:VOLT?"), QByteArray("230.000"));
        QCOMPARE(c.query("GLOB:MEAS:VOLT?"), QByteArray("230.000,230.000,230.000,690.000"));
    }

    void log_goesToItsFileLineByLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sim.log"));
        Rig rig("tcp");
        QVERIFY(rig.sim->setLogFile(path));
        send(*rig.client, {"REMOTE", "BOGUS 1", "LOAD ON"});
        QVERIFY(rig.sim->waitForLines(3, 5000));
        rig.sim->handleLine(nullptr, "LOAD OFF");
        const QList<SimLogEntry> log = rig.sim->log();
        QStringList expected;
        for (qsizetype i = 0; i < log.size(); ++i) {
            QCOMPARE(log[i].understood, log[i].line != QLatin1String("BOGUS 1"));
            QVERIFY(i == 0 || log[i].ms >= log[i - 1].ms);
            expected << QString::number(log[i].ms, 'f', 3) + '\t' + log[i].transport + '\t' +
                            log[i].line + '\n';
        }
        QCOMPARE(rig.sim->lines(), (QStringList{"REMOTE", "BOGUS 1", "LOAD ON", "LOAD OFF"}));
        QCOMPARE(log.constLast().transport, QStringLiteral("direct"));
        QCOMPARE(readFile(path), expected.join(QString()).toLatin1());
        // A log not kept in memory still goes to its file.
        rig.sim->clearLog();
        rig.sim->setLogKept(false);
        rig.sim->handleLine(nullptr, "LOAD ON");
        QCOMPARE(rig.sim->lines(), QStringList());
        QVERIFY(readFile(path).endsWith("\tdirect\tLOAD ON\n"));
        QString error;
        QVERIFY(!rig.sim->setLogFile(dir.filePath("no/such/dir/sim.log"), &error));
        QVERIFY2(error.contains("no/such/dir/sim.log"), qPrintable(error));
    }

    void twoTcpClients_eachGetTheirOwnReplies_untilTheTransportsClose()
    {
        Rig rig("tcp");
        auto second = LineClient::tcp(rig.sim->tcpPort());
        send(*rig.client, {"COUNT 2", "PERD:HIGH 20", "DYNC ON"});
        QCOMPARE(second->query("MODE?"), QByteArray("CC"));
        QCOMPARE(rig.client->readLine(5000), QByteArray("OK,230.000,0.000\n"));
        QCOMPARE(second->readFor(50), QByteArray());
        rig.sim->closeTransports();
        QCOMPARE(rig.sim->tcpPort(), quint16(0));
        QVERIFY(rig.client->waitClosed(5000));
    }

    void pseudoTerminal_servesAQSerialPortAsTheStationOpensIt()
    {
        Rig rig("serial");
        QSerialPort port;
        port.setPortName(rig.sim->ptyPath());
        port.setBaudRate(115200);
        port.setFlowControl(QSerialPort::HardwareControl);
        for (int round = 0; round < 2; ++round) {
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            port.write("MODE?\n");
            QByteArray reply;
            QElapsedTimer timer;
            timer.start();
            while (!reply.endsWith('\n') && timer.elapsed() < 2000 && port.waitForReadyRead(100))
                reply += port.readAll();
            QCOMPARE(reply, QByteArray("CC\n"));
            port.close();
        }
    }

    void gpibLibrary_opensValidAddressesAndCountsPerThread()
    {
        qunsetenv("ACL3_GPIBSIM");
        GpibLibrary gpib;
        QVERIFY2(gpib.complete(), ::dlerror());
        QCOMPARE(gpib.open(1), -1); // no bridge named
        Rig rig("gpib");
        QCOMPARE(qEnvironmentVariable("ACL3_GPIB_LIBRARY"), gpibSimLibraryPath());
        QCOMPARE(gpib.open(0), -1);
        QCOMPARE(gpib.open(31), -1);
        const int ud = gpib.open(30);
        QVERIFY(ud > 0);
        QCOMPARE(gpib.write(ud, "REMOTE") & GpibLibrary::kErr, 0);
        QCOMPARE(gpib.ThreadIbcnt(), 6);
        int otherThreadCount = -1;
        std::thread([&] { otherThreadCount = gpib.ThreadIbcnt(); }).join();
        QCOMPARE(otherThreadCount, 0);
        // A reply longer than the buffer comes in pieces.
        gpib.write(ud, "GLOB:MEAS:VOLT?");
        QCOMPARE(gpib.read(ud, 8), QByteArray("230.000,"));
        QCOMPARE(gpib.read(ud), QByteArray("230.000,230.000,690.000\n"));
        // A read with nothing to return gives up after the device's second, with no bytes.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(gpib.read(ud), QByteArray());
        QVERIFY(timer.elapsed() >= 950);
        // Offline, nothing moves.
        QCOMPARE(gpib.ibonl(ud, 0) & GpibLibrary::kErr, 0);
        QVERIFY(gpib.write(ud, "MODE?") & GpibLibrary::kErr);
        rig.sim->closeTransports();
        QCOMPARE(gpib.open(1), -1);
    }
};

ACL3_TEST_MAIN(LoadSimLinksTest)
#include "tst_loadsim_links.moc"
