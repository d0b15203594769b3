// The connection check and reset, and the exact lines each step action sends to the load.

#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "settings/IniFile.h"
#include "support/SimStation.h"
#include "support/TestMain.h"

namespace {

void setStep(Station& s, int index, const QStringList& fields)
{
    TestStep& step = s.StepTable[static_cast<std::size_t>(index)];
    for (int f = 0; f < TestStep::kFieldCount; ++f)
        step.field(f) = fields.value(f);
}

// Connects the load and forgets what the connection sent.
int connected(SimStation& bench)
{
    AllConnect(bench.station());
    if (bench.station().ConnectedLoadCount != 1)
        qFatal("the simulated load did not answer");
    return static_cast<int>(bench.received().size());
}

} // namespace

class LoadControlTest : public QObject
{
    Q_OBJECT

private slots:
    void AllConnect_checksAndResetsTheLoad_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<QStringList>("opening");
        QTest::newRow("tcp") << int(SimStation::Link::Tcp) << QStringList();
        QTest::newRow("serial") << int(SimStation::Link::Serial) << QStringList{"REM"};
        QTest::newRow("gpib") << int(SimStation::Link::Gpib) << QStringList{"REMOTE"};
    }
    void AllConnect_checksAndResetsTheLoad()
    {
        QFETCH(int, link);
        QFETCH(QStringList, opening);
        const auto kind = static_cast<SimStation::Link>(link);
        SimStation bench(kind);
        Station& s = bench.station();
        s.form.LoadStatusGrid.setText(1, 1, QStringLiteral("before"));
        // Two runs in a row: the count is of the channels that answered, not a running sum.
        for (int run = 0; run < 2; ++run) {
            bench.clearReceived();
            AllConnect(s);
            QCOMPARE(s.ConnectedLoadCount, 1);
            QVERIFY(s.LoadConnected[0]);
            const bool tcp = kind == SimStation::Link::Tcp;
            // The TCP socket stays connected from the first run; serial and GPIB links open anew.
            const QStringList expected = QStringList(opening) << "MEAS:VOLT?" << resetSequence(tcp);
            QCOMPARE(bench.received(), expected);
            QCOMPARE(s.form.LoadStatusGrid.text(1, 2), QStringLiteral("Connect OK"));
            QCOMPARE(s.form.LoadStatusGrid.foreColor(1, 2), gridcolors::Green);
            QCOMPARE(s.form.LoadStatusGrid.text(1, 1),
                     tcp ? QStringLiteral("127.0.0.1") : QStringLiteral("before"));
        }
        QVERIFY(bench.fixture.prompts.shown.empty());
    }

    void AllConnect_overTcpTakesTheAddressFromTheBoxes()
    {
        SimStation bench;
        Station& s = bench.station();
        s.loadLink().IP = QStringLiteral("127.0.0.2"); // stale: the boxes decide
        s.loadLink().PORT = 1;
        AllConnect(s);
        QCOMPARE(s.ConnectedLoadCount, 1);
        QCOMPARE(s.loadLink().IP, QStringLiteral("127.0.0.1"));
        QCOMPARE(s.loadLink().PORT, int(bench.sim().tcpPort()));
    }

    void AllConnect_failure_namesTheAddressTriedAndWhy_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("address"); // %1: the simulated load's port or device
        QTest::addColumn<QString>("why");
        QTest::newRow("no answer") << "silent"
                                   << "127.0.0.1:%1"
                                   << "no answer within 10 s";
        QTest::newRow("garbage") << "garbage"
                                 << "127.0.0.1:%1"
                                 << "the reply \"#?@!~%&*\" is no voltage";
        QTest::newRow("empty line") << "empty"
                                    << "127.0.0.1:%1"
                                    << "no answer within 10 s";
        QTest::newRow("closed at once") << "closed"
                                        << "127.0.0.1:%1"
                                        << "the connection was closed";
        QTest::newRow("refused") << "refused"
                                 << "127.0.0.1:%1"
                                 << "connection refused";
        QTest::newRow("no device") << "no device"
                                   << "COM1 (/dev/acl3-no-such-port)"
                                   << "device not found";
        QTest::newRow("unticked") << "unticked"
                                  << "COM1 (%1)"
                                  << "the load's channel is not ticked";
    }
    void AllConnect_failure_namesTheAddressTriedAndWhy()
    {
        QFETCH(QString, fault);
        QFETCH(QString, address);
        QFETCH(QString, why);
        const bool serial = address.startsWith(QLatin1String("COM"));
        SimStation bench(serial ? SimStation::Link::Serial : SimStation::Link::Tcp);
        Station& s = bench.station();
        bench.fixture.clock.setSpeed(200); // the 10 s windows pass quickly
        QString where = serial ? bench.sim().ptyPath() : QString::number(bench.sim().tcpPort());
        if (const QStringList forms = {"silent", "garbage", "empty"}; forms.contains(fault)) {
            SimFaults bad;
            bad.form = fault == QLatin1String("silent")    ? SimFaults::ReplyForm::None
                       : fault == QLatin1String("garbage") ? SimFaults::ReplyForm::Garbage
                                                           : SimFaults::ReplyForm::Empty;
            bench.sim().setFaults(bad);
        } else if (fault == QLatin1String("closed")) {
            SimFaults drop;
            drop.dropAfter = 1;
            bench.sim().setFaults(drop);
        } else if (fault == QLatin1String("refused")) {
            where = QString::number(stationPort()); // nothing listens there
            useTcpLoad(s, where.toUShort());
        } else if (fault == QLatin1String("no device")) {
            WriteIniString(s.settingsFilePath(), "Serial Ports", "COM1", "/dev/acl3-no-such-port");
        } else {
            s.form.LoadCheck[0]->setFlag(false);
        }
        s.LoadConnected[0] = true; // from an earlier run
        s.form.LoadStatusGrid.setText(1, 2, QStringLiteral("Wait"));
        const QString tried = address.arg(where);
        QCOMPARE(AllConnect(s), tried + QStringLiteral(": ") + why);
        QCOMPARE(s.ConnectedLoadCount, 0);
        QVERIFY(!s.LoadConnected[0]);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 1), tried);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 2), QStringLiteral("Connect Fail: ") + why);
        QCOMPARE(s.form.LoadStatusGrid.foreColor(1, 2), gridcolors::Red);
        QVERIFY(bench.fixture.prompts.shown.empty());
        // No reset after a failed check.
        QCOMPARE(bench.sim().lines(), serial || fault == QLatin1String("refused")
                                          ? QStringList()
                                          : QStringList{"MEAS:VOLT?"});
    }

    void AllConnect_refusesAPortTextTheSocketCannotTake_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("empty") << "";
        QTest::newRow("text") << "abc";
        QTest::newRow("text after the number") << "5025abc";
        QTest::newRow("too big") << "65536";
        QTest::newRow("zero") << "0";
        QTest::newRow("fraction") << "5025.5";
    }
    void AllConnect_refusesAPortTextTheSocketCannotTake()
    {
        QFETCH(QString, port);
        SimStation bench;
        Station& s = bench.station();
        s.form.txtPort.setText(port);
        AllConnect(s);
        QCOMPARE(s.ConnectedLoadCount, 0);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 2),
                 QStringLiteral("Connect Fail: invalid port \"%1\"").arg(port));
        QCOMPARE(bench.fixture.prompts.messages().size(), 1);
        QVERIFY2(bench.fixture.prompts.messages()[0].contains("TCP port \"" + port + "\""),
                 qPrintable(bench.fixture.prompts.messages()[0]));
        QVERIFY(bench.received().isEmpty());
    }

    void AllConnect_overTcpIgnoresTheUntickedChannel()
    {
        SimStation bench;
        bench.station().form.LoadCheck[0]->setFlag(false);
        AllConnect(bench.station());
        QCOMPARE(bench.station().ConnectedLoadCount, 1);
        QCOMPARE(bench.received().size(), 13);
    }

    void StartStep_sendsTheLinesOfEachAction_data()
    {
        QTest::addColumn<QStringList>("step");
        QTest::addColumn<QStringList>("lines");
        const QStringList none;
        QTest::newRow("DisCharge CC")
            << QStringList{"DisCharge", "CC", "10", "5", "12", "0", "0", "1", "NextStep"}
            << QStringList{"CC:A 10", "MODE CC", "LOAD ON"};
        QTest::newRow("DisCharge CR") << QStringList{"DisCharge", "CR", "0.533", "5", "12", "0"}
                                      << QStringList{"CR:A 0.533", "MODE CR", "LOAD ON"};
        QTest::newRow("DCIRLow CV") << QStringList{"DCIRLow", "CV", "48", "5", "12", "0"}
                                    << QStringList{"CV:A 48", "MODE CV", "LOAD ON"};
        QTest::newRow("DCIRHigh CP") << QStringList{"DCIRHigh", "CP", "1500", "5", "12", "0"}
                                     << QStringList{"CP:A 1500", "MODE CP", "LOAD ON"};
        QTest::newRow("DisCharge unknown mode")
            << QStringList{"DisCharge", "XX", "10", "5", "12", "0"} << QStringList{"LOAD ON"};
        QTest::newRow("LoadLevel CC")
            << QStringList{"LoadLevel", "CC", "10", "0", "", "", "", "1", "", "50"}
            << QStringList{"CC:A 10", "FREQ 50", "MODE CC", "LOAD ON"};
        QTest::newRow("LoadLevel CR")
            << QStringList{"LoadLevel", "CR", "0.533", "0", "", "", "", "1", "", "50"}
            << QStringList{"CR:A 0.533", "MODE CR", "LOAD ON"};
        QTest::newRow("LoadLevel CV")
            << QStringList{"LoadLevel", "CV", "120", "3", "", "", "", "1", "", "60"}
            << QStringList{"CV:A 120", "MODE CV", "LOAD ON"};
        QTest::newRow("LoadLevel CP")
            << QStringList{"LoadLevel", "CP", "2000", "3", "", "", "", "1", "", "60"}
            << QStringList{"CP:A 2000", "MODE CP", "LOAD ON"};
        QTest::newRow("LoadLevel LINCC")
            << QStringList{"LoadLevel", "LINCC", "2.5", "3", "", "", "", "1", "", "60"}
            << QStringList{"LIN:A 2.5", "MODE LIN", "LOAD ON"};
        QTest::newRow("LoadLevel unknown")
            << QStringList{"LoadLevel", "cc", "2.5"} << QStringList{"LOAD ON"};
        QTest::newRow("PlusLoad") << QStringList{"PlusLoad", "20", "2",  "5",       "5",
                                                 "11.5",     "3",  "50", "NextStep"}
                                  << QStringList{"CCP:HIGH 20", "CC:B 2",   "PERD:HIGH 5",
                                                 "PERD:LOW 5",  "VTH 11.5", "COUNT 3",
                                                 "DYNC ON"};
        for (const char* quiet : {"Charge", "CP-Charge", "OverDisCharge", "ACIR", "Suspend", "FOR",
                                  "LOOP", "FOR2", "LOOP2", "RAMP ON", "RAMP OFF"})
            QTest::newRow(quiet) << QStringList{quiet, "CC", "10", "5", "5", "1", "1", "1"} << none;
    }
    void StartStep_sendsTheLinesOfEachAction()
    {
        QFETCH(QStringList, step);
        QFETCH(QStringList, lines);
        SimStation bench;
        Station& s = bench.station();
        const int before = connected(bench);
        setStep(s, 7, step);
        StartStep(s, 7);
        QCOMPARE(bench.receivedSince(before), lines);
    }

    void StartStep_withTheChannelUntickedSendsOnlyThePulseLoad()
    {
        SimStation bench;
        Station& s = bench.station();
        const int before = connected(bench);
        s.form.LoadCheck[0]->setFlag(false);
        setStep(s, 0, {"DisCharge", "CC", "10", "5", "12", "0"});
        setStep(s, 1, {"LoadLevel", "CC", "10", "0", "", "", "", "1", "", "50"});
        setStep(s, 2, {"PlusLoad", "20", "2", "5", "5", "11.5", "3", "50", "NextStep"});
        StartStep(s, 0);
        StartStep(s, 1);
        LoadOff(s);
        OutputsOff(s);
        QCOMPARE(bench.receivedSince(before), QStringList());
        StartStep(s, 2);
        QCOMPARE(bench.receivedSince(before).size(), 7);
    }

    void StartStep_pulseLoadWaitsItsSetUpTimeLessTheLead_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::addColumn<QString>("setUpMs");
        QTest::addColumn<int>("dyncOn"); // "DYNC ON" lines the load got
        QTest::newRow("connected") << true << "400" << 1;
        QTest::newRow("not connected: nothing sent, the wait kept") << false << "400" << 0;
        // On a clock that stands still any wait would never end: returning shows there was none.
        QTest::newRow("100 ms or less waits nothing") << true << "100" << 1;
    }
    void StartStep_pulseLoadWaitsItsSetUpTimeLessTheLead()
    {
        QFETCH(bool, linked);
        QFETCH(QString, setUpMs);
        QFETCH(int, dyncOn);
        SimStation bench;
        Station& s = bench.station();
        const int before = linked ? connected(bench) : 0;
        s.ConnectedLoadCount = 1;
        s.LoadConnected[0] = linked;
        const bool none = setUpMs == QLatin1String("100");
        bench.fixture.clock.setSpeed(none ? 0 : 1);
        setStep(s, 0, {"PlusLoad", "20", "2", "5", "5", "11.5", "3", setUpMs, "NextStep"});
        const double start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY(none || s.clock.monotonicMs() - start >= 300);
        QCOMPARE(bench.receivedSince(before).count("DYNC ON"), dyncOn);
    }

    void StartStep_dischargeWaitsItsSettlingTimeAndStopEndsTheWait()
    {
        SimStation bench;
        Station& s = bench.station();
        connected(bench);
        bench.fixture.clock.setSpeed(20);
        setStep(s, 0, {"DisCharge", "CC", "10", "5", "12", "2.5"});
        double start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY(s.clock.monotonicMs() - start >= 2500);

        setStep(s, 0, {"DisCharge", "CC", "10", "5", "12", "3600"});
        QTimer::singleShot(20, [&s] { s.run.StopRequested = 1; });
        start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY2(s.clock.monotonicMs() - start < 3600 * 1000, "Stop ends the settling wait");

        // The pulse-load set-up too, and no sequence starts after it.
        s.run.StopRequested = 0;
        setStep(s, 0, {"PlusLoad", "20", "2", "5", "5", "11.5", "3", "5000", "NextStep"});
        QTimer::singleShot(20, [&s] { s.run.StopRequested = 1; });
        start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY2(s.clock.monotonicMs() - start < 1000, "Stop ends the pulse-load set-up");
        QCOMPARE(bench.received().last(), QStringLiteral("COUNT 3"));
    }

    void levels_areSharedByTheLoadCount()
    {
        SimStation bench;
        Station& s = bench.station();
        const int before = connected(bench);
        s.ConnectedLoadCount = 2;
        setStep(s, 0, {"DisCharge", "CC", "10", "5", "12", "0"});
        setStep(s, 1, {"DisCharge", "CR", "10", "5", "12", "0"});
        setStep(s, 2, {"PlusLoad", "20", "2", "5", "5", "11.5", "3", "50", "NextStep"});
        StartStep(s, 0);
        StartStep(s, 1);
        StartStep(s, 2);
        QCOMPARE(bench.receivedSince(before),
                 QStringList({"CC:A 5", "MODE CC", "LOAD ON", "CR:A 20", "MODE CR", "LOAD ON",
                              "CCP:HIGH 20", "CC:B 2", "PERD:HIGH 5", "PERD:LOW 5", "VTH 11.5",
                              "COUNT 3", "DYNC ON"}));
    }

    void LoadOff_andOutputsOff()
    {
        SimStation bench;
        Station& s = bench.station();
        const int before = connected(bench);
        LoadOff(s);
        OutputsOff(s);
        SupplyOff(s);
        QCOMPARE(bench.receivedSince(before), QStringList({"LOAD OFF", "LOAD OFF"}));
        s.LoadConnected[0] = false;
        OutputsOff(s);
        QCOMPARE(bench.receivedSince(before).size(), 2);
    }
};

ACL3_TEST_MAIN(LoadControlTest)
#include "tst_loadcontrol.moc"
