#include "common/NumberText.h"
#include "links/LinkLayer.h"
#include "load/LoadControl.h"
#include "load/Measurement.h"
#include "support/SimStation.h"
#include "support/TestMain.h"

namespace {

QStringList column(const Station& s, int col)
{
    return {s.form.grdPhase3.text(1, col), s.form.grdPhase3.text(2, col),
            s.form.grdPhase3.text(3, col)};
}

// A station connected to a scripted load that answers the connection check.
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
    StationFixture f;
    Station& s = *f.station;
    ScriptedLoad load;
};

} // namespace

class MeasurementTest : public QObject
{
    Q_OBJECT

private slots:
    void fourFields_fillThePhasesAndTheLiveValues()
    {
        SimStation bench;
        Station& s = bench.station();
        AllConnect(s);
        bench.clearReceived();
        for (const char* line : {"CC:A 10", "MODE CC", "LOAD ON"})
            bench.sim().handleLine(nullptr, line);
        bench.sim().clearLog();
        MeasurePhases(s, 0);
        QCOMPARE(bench.received(),
                 QStringList({"GLOB:MEAS:VOLT?", "GLOB:MEAS:CURR?", "GLOB:MEAS:POW?"}));
        // The fourth field is the total, not a phase.
        for (int row = 1; row <= 3; ++row) {
            QCOMPARE(parseNumber(s.form.grdPhase3.text(row, 2)), 10.0);
            QVERIFY(parseNumber(s.form.grdPhase3.text(row, 1)) > 200);
        }
        QCOMPARE(s.form.CurrentText.text(), QStringLiteral("30.0000"));
        const double v = parseNumber(s.form.grdPhase3.text(1, 1));
        QCOMPARE(s.form.VoltageText.text(), QString::number(v, 'f', 4));
        QCOMPARE(s.form.ResText.text(), QString::number(v / 30.0, 'f', 4));
        double power = 0;
        for (int row = 1; row <= 3; ++row)
            power += parseNumber(s.form.grdPhase3.text(row, 3));
        QCOMPARE(s.form.PowerText.text(), QString::number(power, 'f', 4));
    }

    void threeFields_fillAllThreePhases()
    {
        ScriptedBench b;
        b.load.script({"1,2,3", "4,5,6", "7,8,9"});
        MeasurePhases(b.s, 0);
        b.load.sync(b.s);
        QCOMPARE(column(b.s, 1), QStringList({"1", "2", "3"}));
        QCOMPARE(column(b.s, 2), QStringList({"4", "5", "6"}));
        QCOMPARE(column(b.s, 3), QStringList({"7", "8", "9"}));
        QCOMPARE(b.load.received.size(), 3);
    }

    void repliesAreWrittenAsReceived()
    {
        ScriptedBench b;
        b.load.script({" 230.1 ,230.2,230.3,690.6", "1,2,3,6", "10,20,30,60"});
        MeasurePhases(b.s, 0);
        QCOMPARE(column(b.s, 1), QStringList({" 230.1 ", "230.2", "230.3"}));
        QCOMPARE(b.s.form.VoltageText.text(), QStringLiteral("230.1000"));
        QCOMPARE(b.s.form.CurrentText.text(), QStringLiteral("6.0000"));
        QCOMPARE(b.s.form.PowerText.text(), QStringLiteral("60.0000"));
    }

    void oneField_isAskedTwiceAndGreysPhasesBAndC()
    {
        SimStation bench;
        Station& s = bench.station();
        AllConnect(s);
        bench.clearReceived();
        SimFaults single;
        single.form = SimFaults::ReplyForm::SingleField;
        bench.sim().setFaults(single);
        bench.clearReceived();
        MeasurePhases(s, 0);
        QCOMPARE(bench.received(),
                 QStringList({"GLOB:MEAS:VOLT?", "GLOB:MEAS:VOLT?", "GLOB:MEAS:CURR?",
                              "GLOB:MEAS:CURR?", "GLOB:MEAS:POW?", "GLOB:MEAS:POW?"}));
        for (int col = 1; col <= 3; ++col) {
            QVERIFY(beginsWithNumber(s.form.grdPhase3.text(1, col)));
            QCOMPARE(s.form.grdPhase3.text(2, col), QStringLiteral("Err"));
            QCOMPARE(s.form.grdPhase3.text(3, col), QStringLiteral("Err"));
            QCOMPARE(s.form.grdPhase3.foreColor(2, col), gridcolors::Grey);
            QCOMPARE(s.form.grdPhase3.foreColor(3, col), gridcolors::Grey);
            QVERIFY(!s.form.grdPhase3.foreColor(1, col).isValid());
        }
        QCOMPARE(s.form.grdPhase3.foreColor(2, 0), gridcolors::Grey);
        QCOMPARE(s.form.grdPhase3.foreColor(3, 0), gridcolors::Grey);
    }

    void aFailedFirstReplyThatSucceedsOnTheRepetitionChangesNoColour()
    {
        ScriptedBench b;
        b.load.script({"garbage", "1,2,3,6", "4,5,6,15", "7,8,9,24"});
        MeasurePhases(b.s, 0);
        b.load.sync(b.s);
        QCOMPARE(b.load.received, QStringList({"GLOB:MEAS:VOLT?", "GLOB:MEAS:VOLT?",
                                               "GLOB:MEAS:CURR?", "GLOB:MEAS:POW?"}));
        QCOMPARE(column(b.s, 1), QStringList({"1", "2", "3"}));
        QVERIFY(!b.s.form.grdPhase3.foreColor(2, 1).isValid());
    }

    void droppedConnection_fillsThePowerCellsWithErr()
    {
        SimStation bench;
        Station& s = bench.station();
        AllConnect(s);
        bench.clearReceived();
        SimFaults drop;
        drop.dropAfter = 3; // the power query is the third line: the load hangs up on it
        bench.sim().setFaults(drop);
        MeasurePhases(s, 0);
        QVERIFY(beginsWithNumber(s.form.grdPhase3.text(1, 1)));
        QVERIFY(beginsWithNumber(s.form.grdPhase3.text(1, 2)));
        QCOMPARE(column(s, 3), QStringList({"Err", "Err", "Err"}));
        QVERIFY(!s.form.grdPhase3.foreColor(2, 3).isValid());
        QVERIFY(s.links().linkLost(s.loadInstrument()));
    }

    void emptyReplyLine_readsAsErrRecOverTcp()
    {
        ScriptedBench b;
        b.load.script({"1,2,3,6", "4,5,6,15", "", ""});
        MeasurePhases(b.s, 0);
        QCOMPARE(column(b.s, 1), QStringList({"1", "2", "3"}));
        QCOMPARE(column(b.s, 3), QStringList({"ErrRec", "Err", "Err"}));
    }

    void noReply_showsErrRecInPhaseA()
    {
        SimStation bench;
        Station& s = bench.station();
        AllConnect(s);
        bench.clearReceived();
        bench.fixture.clock.setSpeed(200);
        SimFaults silent;
        silent.form = SimFaults::ReplyForm::None;
        silent.only = QStringLiteral("GLOB:MEAS:CURR?");
        bench.sim().setFaults(silent);
        MeasurePhases(s, 0);
        QCOMPARE(column(s, 2), QStringList({"ErrRec", "Err", "Err"}));
        QCOMPARE(s.form.grdPhase3.foreColor(2, 2), gridcolors::Grey);
        // A current that could not be read adds nothing.
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
            for (int row = 1; row <= 3; ++row) {
                for (int col = 2; col <= 3; ++col) {
                    const QString cell = s.form.grdPhase3.text(row, col);
                    QVERIFY2(!isNumberText(cell) || parseNumber(cell) < 100, qPrintable(cell));
                }
            }
        }
    }

    void notConnected_queriesNothingAndKeepsTheCells()
    {
        SimStation bench;
        Station& s = bench.station();
        s.form.grdPhase3.setText(1, 1, QStringLiteral("old"));
        MeasurePhases(s, 0);
        QVERIFY(bench.received().isEmpty());
        QCOMPARE(s.form.grdPhase3.text(1, 1), QStringLiteral("old"));
    }

    void loopBoxes_showTheLoopCells()
    {
        SimStation bench;
        Station& s = bench.station();
        s.form.TestStepGrid.setRows(5);
        s.form.TestStepGrid.setText(2, 5, QStringLiteral("3"));
        s.form.Loop1Text.setText(QStringLiteral("x"));
        MeasurePhases(s, 0);
        QCOMPARE(s.form.Loop1Text.text(), QString());
        s.run.ForRow = 2;
        MeasurePhases(s, 0);
        QCOMPARE(s.form.Loop1Text.text(), QStringLiteral("3"));
        QCOMPARE(s.form.Loop2Text.text(), QString());
    }

    void ampereHoursAndKilowattHours_accumulateOverTheStep()
    {
        ScriptedBench b;
        b.f.clock.setSpeed(0);
        ResetStepAccumulators(b.s);
        b.f.clock.advance(1800); // half an hour at 30 A and 6900 W
        b.load.script({"230,230,230,690", "10,10,10,30", "2300,2300,2300,6900"});
        MeasurePhases(b.s, 0);
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("15.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("3.45000000"));
        b.f.clock.advance(360); // six minutes at 10 A, one phase unreadable
        b.load.script({"230,230,230,690", "10,Err,x", "2300,0,0,2300"});
        MeasurePhases(b.s, 0);
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("16.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("3.68000000"));
        ResetStepAccumulators(b.s);
        QCOMPARE(b.s.form.AHText.text(), QStringLiteral("0.00000000"));
        QCOMPARE(b.s.form.KWHText.text(), QStringLiteral("0.00000000"));
    }

    void resistance_isZeroWithoutCurrentAndVoltageKeptWhenUnreadable()
    {
        ScriptedBench b;
        b.load.script({"12.5,0,0,12.5", "0,0,0,0", "0,0,0,0"});
        MeasurePhases(b.s, 0);
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("0.0000"));
        QCOMPARE(b.s.form.VoltageText.text(), QStringLiteral("12.5000"));
        b.load.script({"Err,x", "5,0,0,5", "60,0,0,60"});
        MeasurePhases(b.s, 0);
        // An unreadable voltage is not a cell at its stop voltage.
        QCOMPARE(b.s.form.VoltageText.text(), QStringLiteral("12.5000"));
        QCOMPARE(b.s.form.ResText.text(), QStringLiteral("2.5000"));
    }
};

ACL3_TEST_MAIN(MeasurementTest)
#include "tst_measurement.moc"
