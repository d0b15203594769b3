// The connection check and reset, and the exact lines each step action sends to the load.

#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "settings/IniFile.h"
#include "support/SimStation.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

namespace {

void setStep(Station& s, int index, const QString& text)
{
    TestStep& step = s.StepTable[static_cast<std::size_t>(index)];
    const QStringList fields = text.split(u'|');
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
        QTest::addColumn<bool>("ticked");
        QTest::newRow("tcp") << int(SimStation::Link::Tcp) << QStringList() << true;
        // A TCP load needs no tick: its address is in the boxes.
        QTest::newRow("tcp, unticked") << int(SimStation::Link::Tcp) << QStringList() << false;
        QTest::newRow("serial") << int(SimStation::Link::Serial) << QStringList{"REM"} << true;
        QTest::newRow("gpib") << int(SimStation::Link::Gpib) << QStringList{"REMOTE"} << true;
    }
    void AllConnect_checksAndResetsTheLoad()
    {
        QFETCH(int, link);
        QFETCH(QStringList, opening);
        QFETCH(bool, ticked);
        const auto kind = static_cast<SimStation::Link>(link);
        const bool tcp = kind == SimStation::Link::Tcp;
        SimStation bench(kind);
        Station& s = bench.station();
        s.form.LoadCheck[0]->setFlag(ticked);
        s.form.LoadStatusGrid.setText(1, 1, QStringLiteral("before"));
        s.loadLink().IP = QStringLiteral("127.0.0.2"); // stale: the boxes decide
        s.loadLink().PORT = 1;
        // Two runs in a row: the count is of the channels that answered, not a running sum.
        for (int run = 0; run < 2; ++run) {
            bench.clearReceived();
            AllConnect(s);
            QCOMPARE(s.ConnectedLoadCount, 1);
            QVERIFY(s.LoadConnected[0]);
            // The TCP socket stays connected from the first run; serial and GPIB links open anew.
            const QStringList expected = QStringList(opening) << "MEAS:VOLT?" << resetSequence(tcp);
            QCOMPARE(bench.received(), expected);
            QCOMPARE(s.form.LoadStatusGrid.text(1, 2), QStringLiteral("Connect OK"));
            QCOMPARE(s.form.LoadStatusGrid.foreColor(1, 2), gridcolors::Green);
            QCOMPARE(s.form.LoadStatusGrid.text(1, 1),
                     tcp ? QStringLiteral("127.0.0.1") : QStringLiteral("before"));
        }
        if (tcp)
            QCOMPARE(s.loadLink().PORT, int(bench.sim().tcpPort()));
        QVERIFY(bench.fixture.prompts.shown.empty());
    }

    void AllConnect_failure_namesTheAddressTriedAndWhy_data()
    {
        addColumns({"fault", "address", "why"}); // address %1: the simulated load's port or pty
        addRows({
            "no answer;silent;127.0.0.1:%1;no answer within 10 s",
            "garbage;garbage;127.0.0.1:%1;the reply \"#?@!~%&*\" is no voltage",
            "empty line;empty;127.0.0.1:%1;no answer within 10 s",
            "closed at once;closed;127.0.0.1:%1;the connection was closed",
            "refused;refused;127.0.0.1:%1;connection refused",
            "no device;no device;COM1 (/dev/acl3-no-such-port);device not found",
            "unticked;unticked;COM1 (%1);the load's channel is not ticked",
        });
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
        addColumns({"port"});
        addRows({"empty;", "text;abc", "text after the number;5025abc", "too big;65536", "zero;0",
                 "fraction;5025.5"});
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

    // The lines one step sends to a load connected alone, shared by two, or with its channel
    // unticked (then Load Off and Outputs Off before the step send nothing either).
    void StartStep_sendsTheLinesOfEachAction_data()
    {
        addColumns({"loads", "step", "lines"});
        addRows({
            "DisCharge CC;1;DisCharge|CC|10|5|12|0|0|1|NextStep;CC:A 10|MODE CC|LOAD ON",
            "DisCharge CR;1;DisCharge|CR|0.533|5|12|0;CR:A 0.533|MODE CR|LOAD ON",
            "DCIRLow CV;1;DCIRLow|CV|48|5|12|0;CV:A 48|MODE CV|LOAD ON",
            "DCIRHigh CP;1;DCIRHigh|CP|1500|5|12|0;CP:A 1500|MODE CP|LOAD ON",
            "DisCharge unknown mode;1;DisCharge|XX|10|5|12|0;LOAD ON",
            "LoadLevel CC;1;LoadLevel|CC|10|0||||1||50;CC:A 10|FREQ 50|MODE CC|LOAD ON",
            "LoadLevel CR;1;LoadLevel|CR|0.533|0||||1||50;CR:A 0.533|MODE CR|LOAD ON",
            "LoadLevel CV;1;LoadLevel|CV|120|3||||1||60;CV:A 120|MODE CV|LOAD ON",
            "LoadLevel CP;1;LoadLevel|CP|2000|3||||1||60;CP:A 2000|MODE CP|LOAD ON",
            "LoadLevel LINCC;1;LoadLevel|LINCC|2.5|3||||1||60;LIN:A 2.5|MODE LIN|LOAD ON",
            "LoadLevel unknown;1;LoadLevel|cc|2.5;LOAD ON",
            "PlusLoad;1;PlusLoad|20|2|5|5|11.5|3|50|NextStep;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3|DYNC ON",
            "CC shared by two loads;2;DisCharge|CC|10|5|12|0;CC:A 5|MODE CC|LOAD ON",
            "CR shared by two loads;2;DisCharge|CR|10|5|12|0;CR:A 20|MODE CR|LOAD ON",
            "pulse load not shared;2;PlusLoad|20|2|5|5|11.5|3|50|NextStep;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3|DYNC ON",
            "DisCharge unticked;unticked;DisCharge|CC|10|5|12|0;",
            "LoadLevel unticked;unticked;LoadLevel|CC|10|0||||1||50;",
            "pulse load unticked still sent;unticked;PlusLoad|20|2|5|5|11.5|3|50|NextStep;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3|DYNC ON",
        });
        for (const char* quiet : {"Charge", "CP-Charge", "OverDisCharge", "ACIR", "Suspend", "FOR",
                                  "LOOP", "FOR2", "LOOP2", "RAMP ON", "RAMP OFF"})
            QTest::newRow(quiet) << "1" << QString(quiet) + "|CC|10|5|5|1|1|1" << QString();
    }
    void StartStep_sendsTheLinesOfEachAction()
    {
        QFETCH(QString, loads);
        QFETCH(QString, step);
        QFETCH(QString, lines);
        SimStation bench;
        Station& s = bench.station();
        const int before = connected(bench);
        if (loads == QLatin1String("unticked")) {
            s.form.LoadCheck[0]->setFlag(false);
            LoadOff(s);
            OutputsOff(s);
        }
        s.ConnectedLoadCount = loads == QLatin1String("2") ? 2 : 1;
        setStep(s, 7, step);
        StartStep(s, 7);
        QCOMPARE(bench.receivedSince(before).join(u'|'), lines);
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
        setStep(s, 0, "PlusLoad|20|2|5|5|11.5|3|" + setUpMs + "|NextStep");
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
        setStep(s, 0, "DisCharge|CC|10|5|12|2.5");
        double start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY(s.clock.monotonicMs() - start >= 2500);

        setStep(s, 0, "DisCharge|CC|10|5|12|3600");
        QTimer::singleShot(20, [&s] { s.run.StopRequested = 1; });
        start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY2(s.clock.monotonicMs() - start < 3600 * 1000, "Stop ends the settling wait");

        // The pulse-load set-up too, and no sequence starts after it.
        s.run.StopRequested = 0;
        setStep(s, 0, "PlusLoad|20|2|5|5|11.5|3|5000|NextStep");
        QTimer::singleShot(20, [&s] { s.run.StopRequested = 1; });
        start = s.clock.monotonicMs();
        StartStep(s, 0);
        QVERIFY2(s.clock.monotonicMs() - start < 1000, "Stop ends the pulse-load set-up");
        QCOMPARE(bench.received().last(), QStringLiteral("COUNT 3"));
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
