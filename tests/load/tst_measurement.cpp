// One measurement of three phases: queries, cells, live values, bad replies, Ah and kWh.

#include "common/NumberText.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
#include "support/SimStation.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

namespace {

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

class MeasurementTest : public QObject
{
    Q_OBJECT

private slots:
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
        AllConnect(s);
        bench.clearReceived();
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
        AllConnect(s);
        QCOMPARE(s.ConnectedLoadCount, 1);
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
        QCOMPARE(s.form.Loop2Text.text(), QString());
        QVERIFY(bench.received().isEmpty());
        QCOMPARE(s.form.grdPhase3.text(1, 1), QStringLiteral("old"));
    }

    void ampereHoursAndKilowattHours_accumulateOverTheStep()
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
        ResetStepAccumulators(b.s);
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("0.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("0.00000000"));
    }

    void resistance_isZeroWithoutCurrentAndVoltageKeptWhenUnreadable()
    {
        ScriptedBench b;
        b.measure({"12.5,0,0,12.5", "0,0,0,0", "0,0,0,0"});
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("0.0000"));
        // An unreadable voltage is not a cell at its stop voltage.
        b.measure({"Err,x", "5,0,0,5", "60,0,0,60"});
        QCOMPARE(b.s.form.VoltageText.text(), QStringLiteral("12.5000"));
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("2.5000"));
    }
};

ACL3_TEST_MAIN(MeasurementTest)
#include "tst_measurement.moc"
