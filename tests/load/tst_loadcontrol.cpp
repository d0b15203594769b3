// The connection check and reset, the exact lines each step action sends to the load, and the
// measurement of three phases: queries, cells, live values, bad replies, Ah and kWh.

#include "common/NumberText.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
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

const QStringList kQueries = {"GLOB:MEAS:VOLT?", "GLOB:MEAS:CURR?", "GLOB:MEAS:POW?"};

QString column(const Station& s, int col)
{
    QStringList cells;
    for (int row = 1; row <= 3; ++row)
        cells << s.form.grdPhase3.text(row, col);
    return cells.join(',');
}

// A station connected to a scripted load that answered the connection check.
struct ScriptedBench
{
    ScriptedBench()
    {
        useTcpLoad(s, load.port());
        load.script({"230"});
        AllConnect(s);
        load.sync(s);
        load.received.clear();
    }
    // Measures with these replies; what the load was asked.
    QStringList measure(const QStringList& replies)
    {
        load.script(replies);
        MeasurePhases(s, 0);
        load.sync(s);
        return std::exchange(load.received, {});
    }
    StationFixture f;
    Station& s = *f.station;
    ScriptedLoad load;
};

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
            // Port texts the socket cannot take: nothing is tried, the operator is told what was
            // typed.
            "empty port;port ;127.0.0.1:;invalid port \"\"",
            "text port;port abc;127.0.0.1:abc;invalid port \"abc\"",
            "text after the port;port 5025abc;127.0.0.1:5025abc;invalid port \"5025abc\"",
            "port too big;port 65536;127.0.0.1:65536;invalid port \"65536\"",
            "port zero;port 0;127.0.0.1:0;invalid port \"0\"",
            "port fraction;port 5025.5;127.0.0.1:5025.5;invalid port \"5025.5\"",
        });
    }
    void AllConnect_failure_namesTheAddressTriedAndWhy()
    {
        QFETCH(QString, fault);
        QFETCH(QString, address);
        QFETCH(QString, why);
        const bool serial = address.startsWith(QLatin1String("COM"));
        const bool badPort = fault.startsWith(QLatin1String("port "));
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
        } else if (badPort) {
            s.form.txtPort.setText(fault.mid(5));
        } else if (fault == QLatin1String("no device")) {
            WriteIniString(s.settingsFilePath(), "Serial Ports", "COM1", "/dev/acl3-no-such-port");
        } else {
            s.form.LoadCheck[0]->setFlag(false);
        }
        s.LoadConnected[0] = true; // from an earlier run
        s.form.LoadStatusGrid.setText(1, 2, QStringLiteral("Wait"));
        const QString failure = AllConnect(s);
        const QString tried = badPort ? address : address.arg(where);
        QCOMPARE(failure, tried + QStringLiteral(": ") + why);
        QCOMPARE(s.ConnectedLoadCount, 0);
        QVERIFY(!s.LoadConnected[0]);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 1), tried);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 2), QStringLiteral("Connect Fail: ") + why);
        QCOMPARE(s.form.LoadStatusGrid.foreColor(1, 2), gridcolors::Red);
        QCOMPARE(int(bench.fixture.prompts.shown.size()), badPort ? 1 : 0);
        QVERIFY(!badPort ||
                bench.fixture.prompts.messages()[0].contains("TCP port \"" + fault.mid(5) + "\""));
        // No reset after a failed check.
        QCOMPARE(bench.sim().lines(), serial || badPort || fault == QLatin1String("refused")
                                          ? QStringList()
                                          : QStringList{"MEAS:VOLT?"});
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
    // How long a step's start waits on the station's clock (at `speed` times real time), with
    // or without a Stop during the wait, and what the load got meanwhile.
    void StartStep_waitsItsSettingTimeUntilStop_data()
    {
        addColumns({"linked", "speed", "step", "stop", "minMs", "maxMs", "lines"});
        addRows({
            "discharge settling;yes;20;DisCharge|CC|10|5|12|2.5;;2500;;CC:A 10|MODE CC|LOAD ON",
            "Stop ends the settling;yes;20;DisCharge|CC|10|5|12|3600;stop;0;3599999;"
            "CC:A 10|MODE CC|LOAD ON",
            "Stop ends the pulse-load set-up, no sequence after;yes;20;"
            "PlusLoad|20|2|5|5|11.5|3|5000|NextStep;stop;0;999;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3",
            "pulse-load set-up less the lead;yes;1;PlusLoad|20|2|5|5|11.5|3|400|NextStep;;300;;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3|DYNC ON",
            "not connected: nothing sent, the wait kept;no;1;"
            "PlusLoad|20|2|5|5|11.5|3|400|NextStep;;300;;",
            // On a clock that stands still any wait would never end.
            "100 ms or less waits nothing;yes;0;PlusLoad|20|2|5|5|11.5|3|100|NextStep;;0;0;"
            "CCP:HIGH 20|CC:B 2|PERD:HIGH 5|PERD:LOW 5|VTH 11.5|COUNT 3|DYNC ON",
        });
    }
    void StartStep_waitsItsSettingTimeUntilStop()
    {
        QFETCH(QString, linked);
        QFETCH(QString, speed);
        QFETCH(QString, step);
        QFETCH(QString, stop);
        QFETCH(QString, minMs);
        QFETCH(QString, maxMs);
        QFETCH(QString, lines);
        SimStation bench;
        Station& s = bench.station();
        const int before = linked == QLatin1String("yes") ? connected(bench) : 0;
        s.ConnectedLoadCount = 1;
        s.LoadConnected[0] = linked == QLatin1String("yes");
        bench.fixture.clock.setSpeed(speed.toDouble());
        setStep(s, 0, step);
        if (!stop.isEmpty())
            QTimer::singleShot(20, [&s] { s.run.StopRequested = 1; });
        const double start = s.clock.monotonicMs();
        StartStep(s, 0);
        const double waited = s.clock.monotonicMs() - start;
        QVERIFY2(waited >= minMs.toDouble() && (maxMs.isEmpty() || waited <= maxMs.toDouble()),
                 qPrintable(QString::number(waited)));
        QCOMPARE(bench.receivedSince(before).join(u'|'), lines);
    }

    // Replies, the queries asked ("V" volts, "I" amps, "P" watts), the volts, amps and watts
    // columns, the live V, I, P and R ("" not to look) and whether phases B and C are greyed.
    void replies_becomeCellsAndLiveValues_data()
    {
        addColumns({"replies", "asked", "columns", "live", "greyBC"});
        addRows({
            "four fields: the fourth is the total, not a phase; 230.1 ,230.2,230.3,690.6|1,2,3,99|"
            "10,20,30,99;VIP; 230.1 ,230.2,230.3|1,2,3|10,20,30;230.1000|6.0000|60.0000|38.3500;",
            "three fields;1,2,3|4,5,6|7,8,9;VIP;1,2,3|4,5,6|7,8,9;;",
            "a bad first reply is asked again;garbage|1,2,3,6|4,5,6,15|7,8,9,24;VVIP;"
            "1,2,3|4,5,6|7,8,9;;",
            "one field is asked twice;230|230|10|10|2300|2300;VVIIPP;230,Err,Err|10,Err,Err|"
            "2300,Err,Err;230.0000|10.0000|2300.0000|23.0000;grey",
            "empty lines;1,2,3,6|4,5,6,15||;VIPP;1,2,3|4,5,6|ErrRec,Err,Err;;",
        });
    }
    void replies_becomeCellsAndLiveValues()
    {
        QFETCH(QString, replies);
        QFETCH(QString, asked);
        QFETCH(QString, columns);
        QFETCH(QString, live);
        QFETCH(QString, greyBC);
        QStringList queries;
        for (const QChar quantity : asked)
            queries << kQueries[QStringLiteral("VIP").indexOf(quantity)];
        ScriptedBench b;
        QCOMPARE(b.measure(replies.split(u'|')), queries);
        QCOMPARE(QStringList({column(b.s, 1), column(b.s, 2), column(b.s, 3)}).join(u'|'), columns);
        const StationForm& form = b.s.form;
        if (!live.isEmpty())
            QCOMPARE(QStringList({form.VoltageText.text(), form.CurrentText.text(),
                                  form.PowerText.text(), form.ResText.text()})
                         .join('|'),
                     live);
        for (int row = 2; row <= 3; ++row) {
            QCOMPARE(form.grdPhase3.foreColor(row, 1) == gridcolors::Grey, !greyBC.isEmpty());
            QCOMPARE(form.grdPhase3.foreColor(row, 0) == gridcolors::Grey, !greyBC.isEmpty());
        }
        QVERIFY(!form.grdPhase3.foreColor(1, 1).isValid());
    }

    void lostOrSilentLoad_leavesErrInItsColumn_data()
    {
        QTest::addColumn<bool>("drop");
        QTest::newRow("no reply to the current") << false;
        QTest::newRow("connection dropped at the power") << true;
    }
    void lostOrSilentLoad_leavesErrInItsColumn()
    {
        QFETCH(bool, drop);
        SimStation bench;
        Station& s = bench.station();
        connected(bench);
        bench.fixture.clock.setSpeed(200);
        SimFaults faults;
        faults.form = SimFaults::ReplyForm::None;
        faults.only = QStringLiteral("GLOB:MEAS:CURR?");
        if (drop) {
            faults = {};
            faults.dropAfter = 3; // the power query is the third line
        }
        bench.sim().setFaults(faults);
        MeasurePhases(s, 0);
        QVERIFY(beginsWithNumber(s.form.grdPhase3.text(1, 1)));
        QCOMPARE(column(s, drop ? 3 : 2), drop ? "Err,Err,Err" : "ErrRec,Err,Err");
        QCOMPARE(s.form.grdPhase3.foreColor(2, drop ? 3 : 2) == gridcolors::Grey, !drop);
        QCOMPARE(s.links().linkLost(s.loadInstrument()), drop);
        if (!drop) // a current that could not be read adds nothing
            QCOMPARE(s.form.CurrentText.text(), QStringLiteral("0.0000"));
    }

    // A serial load that answers after the read window: its late answers must never fill the
    // column of a later query (a voltage of 230 read as a current).
    void slowSerialLoad_neverShiftsAColumn()
    {
        SimStation bench(SimStation::Link::Serial);
        Station& s = bench.station();
        connected(bench);
        SimFaults slow;
        slow.delayMs = 150;
        bench.sim().setFaults(slow);
        for (int cycle = 0; cycle < 3; ++cycle) {
            MeasurePhases(s, 0);
            for (const QString& cell : (column(s, 2) + ',' + column(s, 3)).split(','))
                QVERIFY2(!isNumberText(cell) || parseNumber(cell) < 100, qPrintable(cell));
        }
    }

    void notConnected_queriesNothingAndShowsTheLoopCells()
    {
        SimStation bench;
        Station& s = bench.station();
        s.form.grdPhase3.setText(1, 1, QStringLiteral("old"));
        s.form.TestStepGrid.setRows(5);
        s.form.TestStepGrid.setText(2, 5, QStringLiteral("3"));
        s.form.Loop1Text.setText(QStringLiteral("x"));
        MeasurePhases(s, 0);
        QCOMPARE(s.form.Loop1Text.text(), QString());
        s.run.ForRow = 2;
        MeasurePhases(s, 0);
        QCOMPARE(s.form.Loop1Text.text(), QStringLiteral("3"));
        QVERIFY(bench.received().isEmpty());
        QCOMPARE(s.form.grdPhase3.text(1, 1), QStringLiteral("old"));
    }

    void liveValues_accumulateAhAndKwhAndKeepTheLastReadableVoltage()
    {
        ScriptedBench b;
        b.f.clock.setSpeed(0);
        ResetStepAccumulators(b.s);
        b.f.clock.advance(1800); // half an hour at 30 A and 6900 W
        b.measure({"230,230,230,690", "10,10,10,30", "2300,2300,2300,6900"});
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("15.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("3.45000000"));
        b.f.clock.advance(360); // six minutes at 10 A, one phase unreadable
        b.measure({"230,230,230,690", "10,Err,x", "2300,0,0,2300"});
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("16.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("3.68000000"));
        // No current, no resistance; an unreadable voltage is not a cell at its stop voltage.
        b.measure({"12.5,0,0,12.5", "0,0,0,0", "0,0,0,0"});
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("0.0000"));
        b.measure({"Err,x", "5,0,0,5", "60,0,0,60"});
        QCOMPARE(b.s.form.VoltageText.text(), QStringLiteral("12.5000"));
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("2.5000"));
        ResetStepAccumulators(b.s);
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("0.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("0.00000000"));
    }
};

ACL3_TEST_MAIN(LoadControlTest)
#include "tst_loadcontrol.moc"
