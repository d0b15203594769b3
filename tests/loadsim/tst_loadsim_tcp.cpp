// The simulated load over loopback TCP: replies, the pulse timing, the fault knobs and the log.
// The simulator runs on the test's thread (served while the client waits) unless said.

#include "LineClient.h"
#include "loadsim/LoadSimulator.h"
#include "loadsim/LoadSimulatorThread.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

namespace {
constexpr int kNoReplyWaitMs = 300;

struct TcpRig
{
    TcpRig()
    {
        sim.setAc({230, 0.2, 0});
        port = sim.listenTcp();
        client = LineClient::tcp(port);
    }
    LoadSimulator sim;
    quint16 port = 0;
    std::unique_ptr<LineClient> client;
};
} // namespace

class LoadSimTcpTest : public QObject
{
    Q_OBJECT

private slots:
    void replies_endWithLfWhateverTheCommandsFraming()
    {
        TcpRig rig;
        QVERIFY(rig.port != 0);
        rig.client->write("MEAS:VOLT?\r\n");
        QCOMPARE(rig.client->readLine(), QByteArray("230.000\n"));
        // Several commands in one segment, and one command in two.
        rig.client->write("CC:A 10\nMODE CC\nLOAD ON\nGLOB:MEAS:");
        rig.client->write("CURR?\n");
        QCOMPARE(rig.client->readLine(), QByteArray("10.000,10.000,10.000,30.000\n"));
        QCOMPARE(rig.client->query("GLOB:MEAS:POW?"),
                 QByteArray("2280.000,2280.000,2280.000,6840.000"));
        QCOMPARE(rig.client->query("GLOB:MEAS:VOLT?"),
                 QByteArray("228.000,228.000,228.000,684.000"));
        // Settings send nothing back.
        rig.client->send("LOAD OFF");
        rig.client->send("FOO");
        QCOMPARE(rig.client->readFor(kNoReplyWaitMs), QByteArray());
        QCOMPARE(rig.client->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
        QCOMPARE(rig.sim.state().level(LoadMode::CC).a, 10.0);
        QVERIFY(!rig.sim.state().loadOn);
    }

    void log_holdsEveryLineInOrderWithRisingTimesAndGoesToItsFile()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("sim.log"));
        TcpRig rig;
        QVERIFY(rig.sim.setLogFile(logPath));
        const QStringList sent{"REMOTE", "CC:A 2", "MODE CC", "BOGUS 1", "MEAS:VOLT?", "LOAD ON"};
        for (const QString& line : sent)
            rig.client->send(line.toLatin1());
        QVERIFY(rig.sim.waitForLines(static_cast<int>(sent.size()), 5000));
        rig.sim.handleLine(nullptr, "LOAD OFF");

        QCOMPARE(rig.sim.lines(), sent + QStringList{"LOAD OFF"});
        const QList<SimLogEntry> log = rig.sim.log();
        for (qsizetype i = 0; i < log.size(); ++i) {
            QCOMPARE(log[i].transport,
                     i + 1 < log.size() ? QStringLiteral("tcp") : QStringLiteral("direct"));
            QCOMPARE(log[i].understood, log[i].line != QLatin1String("BOGUS 1"));
            QVERIFY(log[i].ms > 0);
            if (i > 0)
                QVERIFY(log[i].ms >= log[i - 1].ms);
        }

        const QStringList fileLines =
            QString::fromLatin1(readFile(logPath)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(fileLines.size(), log.size());
        for (qsizetype i = 0; i < log.size(); ++i) {
            QCOMPARE(fileLines[i],
                     QStringLiteral("%1\t%2\t%3")
                         .arg(QString::number(log[i].ms, 'f', 3), log[i].transport, log[i].line));
        }

        rig.sim.clearLog();
        QCOMPARE(rig.sim.lines(), QStringList());
        // A log not kept in memory still goes to its file.
        rig.sim.setLogKept(false);
        rig.sim.handleLine(nullptr, "LOAD ON");
        QCOMPARE(rig.sim.lines(), QStringList());
        QVERIFY(readFile(logPath).endsWith("\tdirect\tLOAD ON\n"));
        QString error;
        QVERIFY(!rig.sim.setLogFile(dir.filePath("no/such/dir/sim.log"), &error));
        QVERIFY2(error.contains("no/such/dir/sim.log"), qPrintable(error));
    }

    void pulse_resultArrivesAfterItsCycles()
    {
        TcpRig rig;
        for (const auto& [vth, result] :
             {std::pair{"200", "OK,226.000,20.000"}, std::pair{"227", "NG,226.000,20.000"}}) {
            for (const QByteArray& line :
                 {QByteArray("CCP:HIGH 20"), QByteArray("CC:B 1"), QByteArray("PERD:HIGH 200"),
                  QByteArray("PERD:LOW 25"), "VTH " + QByteArray(vth), QByteArray("COUNT 2")})
                rig.client->send(line);
            QElapsedTimer timer;
            rig.client->send("DYNC ON");
            timer.start();
            // The load answers queries while the sequence runs: the first 200 ms at 20 A.
            QCOMPARE(rig.client->query("MEAS:CURR?").left(6), QByteArray("20.000"));
            const auto line = rig.client->readLine(5000);
            const qint64 elapsed = timer.elapsed();
            QVERIFY(line.has_value());
            QCOMPARE(*line, QByteArray(result) + '\n');
            // 2 x (200 + 25) ms.
            QVERIFY2(elapsed >= 445, qPrintable(QString::number(elapsed)));
            QVERIFY(!rig.sim.state().pulseRunning);
        }
    }

    void pulse_runsOnSimulatedTime()
    {
        TcpRig rig;
        rig.sim.setSpeed(10);
        for (const char* line : {"CCP:HIGH 5", "PERD:HIGH 100", "PERD:LOW 100", "COUNT 10"})
            rig.client->send(line);
        QElapsedTimer timer;
        rig.client->send("DYNC ON");
        timer.start();
        QCOMPARE(rig.client->readLine(5000), QByteArray("OK,229.000,5.000\n"));
        // 2 s of cycles at ten times real time.
        QVERIFY2(timer.elapsed() >= 190, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    }

    void faults_shapeTheReplies_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QByteArray>("volts");
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("pulse");
        using F = SimFaults::ReplyForm;
        QTest::newRow("single field") << int(F::SingleField) << QByteArray("230.000\n")
                                      << QByteArray("0.000\n") << QByteArray("OK\n");
        QTest::newRow("empty") << int(F::Empty) << QByteArray("\n") << QByteArray("\n")
                               << QByteArray("\n");
        QTest::newRow("garbage") << int(F::Garbage) << QByteArray("#?@!~%&*\n")
                                 << QByteArray("#?@!~%&*\n") << QByteArray("#?@!~%&*\n");
    }

    void faults_shapeTheReplies()
    {
        QFETCH(int, form);
        QFETCH(QByteArray, volts);
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, pulse);
        TcpRig rig;
        SimFaults faults;
        faults.form = static_cast<SimFaults::ReplyForm>(form);
        rig.sim.setFaults(faults);
        rig.client->send("MEAS:VOLT?");
        QCOMPARE(rig.client->readLine(), volts);
        rig.client->send("GLOB:MEAS:CURR?");
        QCOMPARE(rig.client->readLine(), current);
        rig.client->send("COUNT 1");
        rig.client->send("DYNC ON");
        QCOMPARE(rig.client->readLine(), pulse);
        QCOMPARE(rig.client->readFor(50), QByteArray());

        rig.sim.clearFaults();
        QCOMPARE(rig.client->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
    }

    void faults_noReplyAnswersNothingUntilCleared()
    {
        TcpRig rig;
        SimFaults faults;
        faults.form = SimFaults::ReplyForm::None;
        rig.sim.setFaults(faults);
        rig.client->send("MEAS:VOLT?");
        rig.client->send("COUNT 0");
        rig.client->send("DYNC ON");
        QCOMPARE(rig.client->readFor(kNoReplyWaitMs), QByteArray());
        QCOMPARE(rig.sim.lines().size(), 3);
        rig.sim.clearFaults();
        QCOMPARE(rig.client->query("MEAS:VOLT?"), QByteArray("230.000"));
    }

    void faults_delayHoldsEachReplyBackInOrder()
    {
        TcpRig rig;
        SimFaults faults;
        faults.delayMs = 200;
        rig.sim.setFaults(faults);
        QElapsedTimer timer;
        timer.start();
        rig.client->send("MEAS:VOLT?");
        rig.client->send("MODE?");
        QCOMPARE(rig.client->readFor(100), QByteArray());
        QCOMPARE(rig.client->readLine(), QByteArray("230.000\n"));
        QVERIFY2(timer.elapsed() >= 195, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(rig.client->readLine(), QByteArray("CC\n"));
    }

    void faults_splitSendsTwoHalvesApart()
    {
        TcpRig rig;
        SimFaults faults;
        faults.splitPauseMs = 300;
        rig.sim.setFaults(faults);
        rig.client->send("GLOB:MEAS:VOLT?");
        const QByteArray whole("230.000,230.000,230.000,690.000\n");
        // The first half comes at once, the rest after the pause.
        QCOMPARE(rig.client->readFor(150), whole.left(whole.size() / 2));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(rig.client->readLine(2000), whole.mid(whole.size() / 2));
        QVERIFY2(timer.elapsed() >= 100, qPrintable(QString::number(timer.elapsed())));
    }

    void faults_dropAfterClosesTheConnectionAtTheNthCommand()
    {
        TcpRig rig;
        rig.client->send("CC:A 1"); // before the knob: not counted
        QVERIFY(rig.sim.waitForLines(1, 5000));
        SimFaults faults;
        faults.dropAfter = 3;
        rig.sim.setFaults(faults);
        rig.client->send("CC:A 5");
        QCOMPARE(rig.client->query("MEAS:VOLT?"), QByteArray("230.000"));
        rig.client->send("GLOB:MEAS:VOLT?");
        QVERIFY(rig.client->waitClosed(5000));
        QVERIFY(!rig.client->hasData());
        QCOMPARE(rig.sim.lines().constLast(), QStringLiteral("GLOB:MEAS:VOLT?"));
        QCOMPARE(rig.sim.state().level(LoadMode::CC).a, 5.0);

        // A new connection is served, and the knob does not fire twice.
        auto again = LineClient::tcp(rig.port);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(again->query("MODE?"), QByteArray("CC"));
    }

    void faults_canBeNarrowedToOneCommandOrSomeReplies()
    {
        TcpRig rig;
        SimFaults powerEmpty;
        powerEmpty.form = SimFaults::ReplyForm::Empty;
        powerEmpty.only = QStringLiteral("glob:meas:pow?");
        rig.sim.setFaults(powerEmpty);
        QCOMPARE(rig.client->query("GLOB:MEAS:VOLT?"),
                 QByteArray("230.000,230.000,230.000,690.000"));
        QCOMPARE(rig.client->query("GLOB:MEAS:POW?"), QByteArray(""));
        QCOMPARE(rig.client->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
        QCOMPARE(rig.client->query("GLOB:MEAS:POW?"), QByteArray(""));

        SimFaults firstOnly;
        firstOnly.form = SimFaults::ReplyForm::SingleField;
        firstOnly.count = 1;
        rig.sim.setFaults(firstOnly);
        QCOMPARE(rig.client->query("GLOB:MEAS:VOLT?"), QByteArray("230.000"));
        QCOMPARE(rig.client->query("GLOB:MEAS:VOLT?"),
                 QByteArray("230.000,230.000,230.000,690.000"));
    }

    void batteryDischarge_reachesItsStopVoltageAndCapacityFastWithSpeed()
    {
        TcpRig rig;
        rig.sim.setSource(SourceKind::Battery);
        QVERIFY(rig.sim.setBattery({0.5, 4.2, 3.0, 0.02}));
        // An hour of the cell in a real second: 1 A empties 0.5 Ah in 0.5 s.
        rig.sim.setSpeed(3600);
        rig.client->send("CC:A 1");
        rig.client->send("MODE CC");
        rig.client->send("LOAD ON");

        // As a station counts ampere-hours: current x time between readings. The cell reads
        // below 3.5 V once (4.2 - 3.52) / 1.2 x 0.5 = 0.28333 Ah are drawn.
        double countedAh = 0;
        double lastS = rig.sim.simSeconds();
        double ahAtStopVoltage = -1;
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            QVERIFY2(timer.elapsed() < 20000, "the cell is not empty after 20 s");
            const double volts = rig.client->query("MEAS:VOLT?").toDouble();
            const double amps = rig.client->query("MEAS:CURR?").toDouble();
            const double nowS = rig.sim.simSeconds();
            countedAh += amps * (nowS - lastS) / 3600;
            lastS = nowS;
            if (ahAtStopVoltage < 0 && volts < 3.5) {
                ahAtStopVoltage = rig.sim.drawnAh();
                QVERIFY2(ahAtStopVoltage >= 0.2833, qPrintable(QString::number(ahAtStopVoltage)));
                QCOMPARE(amps, 1.0);
            }
            if (volts == 0)
                break;
        }
        QVERIFY(ahAtStopVoltage > 0);
        QCOMPARE(rig.sim.drawnAh(), 0.5);
        QVERIFY2(qAbs(countedAh - 0.5) < 0.05, qPrintable(QString::number(countedAh)));
        QCOMPARE(rig.client->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
    }

    void ownThread_servesClientsAndGuardsItsState()
    {
        LoadSimulatorThread sim;
        QVERIFY(sim->setAc({230, 0.2, 0}));
        const quint16 port = sim->listenTcp();
        QVERIFY(port != 0);
        QCOMPARE(sim->tcpPort(), port);
        auto first = LineClient::tcp(port);
        auto second = LineClient::tcp(port);
        first->send("COUNT 2");
        first->send("PERD:HIGH 20");
        first->send("DYNC ON");
        // The second client's query is answered to it alone; the result goes to the first.
        QCOMPARE(second->query("MODE?"), QByteArray("CC"));
        QCOMPARE(first->readLine(5000), QByteArray("OK,230.000,0.000\n"));
        QCOMPARE(second->readFor(50), QByteArray());
        QVERIFY(sim->waitForLines(4, 5000));
        QCOMPARE(sim->state().pulse.count, 2);

        sim->closeTransports();
        QCOMPARE(sim->tcpPort(), quint16(0));
        QVERIFY(first->waitClosed(5000));
    }
};

ACL3_TEST_MAIN(LoadSimTcpTest)
#include "tst_loadsim_tcp.moc"
