// A run on the simulated load: commands, records, timing, faults, Stop, Pause, journal, resume.

#include "common/NumberText.h"
#include "execution/InterruptedRun.h"
#include "execution/RunBench.h"
#include "links/LinkLayer.h"
#include "series/SeriesStore.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "testprogram/TestProgramFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>

#include <functional>
#include <memory>

namespace {

const QStringList kMeasure = {"GLOB:MEAS:VOLT?", "GLOB:MEAS:CURR?", "GLOB:MEAS:POW?"};

QStringList connection()
{
    return QStringList{"MEAS:VOLT?"} << resetSequence(true);
}

// The lines of a run without the connection, the reset and the measurement queries.
QStringList commandsOf(const QStringList& lines)
{
    QStringList out = lines.mid(connection().size());
    out.removeIf([](const QString& l) { return l.startsWith(QLatin1String("GLOB:MEAS:")); });
    return out;
}

// A FOR 3 loop around a four-second step, then one more step.
const QString kLoopProgram = QStringLiteral("FOR||||3, CC 2 4, LOOP, CC 3 1");

// Slow enough that the poll for the moment of a crash never misses it on a busy machine.
constexpr double kCrashSpeed = 5;

QString journalPath(RunBench& b)
{
    return QDir(b.station().testLogDir()).filePath("SN1.journal");
}

// Each event as "event step how [loop1]", the fields a reader of the journal goes by.
QStringList outline(const QString& path)
{
    QStringList out;
    for (const JournalEvent& e : readJournal(path).events) {
        QStringList parts{e.event};
        for (const char* key : {"step", "how", "after", "loop1"}) {
            const QJsonValue v = e.fields.value(QLatin1String(key));
            if (!v.isUndefined())
                parts << (v.isDouble() ? QString::number(v.toInt()) : v.toString());
        }
        out << parts.join(' ');
    }
    return out;
}

// Runs the program in a run control of its own until `until` holds, then drops it as a crash
// would: nothing more is written, the load stays on. The station is then as a new process finds
// it.
void crashWhen(RunBench& b, const std::function<bool()>& until)
{
    auto crashing = std::make_unique<RunControl>(b.station());
    crashing->StartCommand();
    QTRY_VERIFY_WITH_TIMEOUT(until(), 30000);
    crashing.reset();
    b.station().links().LinkClose(b.station().loadInstrument());
    // A new process's start-up names the log after the SN again.
    const QString logName = b.station().run.LogFileName;
    b.station().run = RunState{};
    b.station().run.LogFileName = logName;
    QVERIFY(LoadTestProgram(b.station()));
}

InterruptedRun interrupted(RunBench& b)
{
    const QList<InterruptedRun> runs = findInterruptedRuns(b.station().testLogDir(), nullptr);
    return runs.value(0);
}

} // namespace

class RunControlTest : public QObject
{
    Q_OBJECT

private slots:
    void preRunOnlyProgram_endsWithTestFinishedWithoutTheTimer()
    {
        RunBench b;
        // The second ramp reaches its level in one pass.
        b.program(steps("CC 5 0, FOR||||2, CR 50 0, LOOP, RAMP ON|CC|10|2||||1, "
                        "RAMP ON|CC|12|1||||1, RAMP OFF|CC|3|0||||1"));
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.messages(), QStringList{"Test Finished"});
        const QStringList lines = b.received();
        QCOMPARE(lines.mid(0, 13), connection());
        QCOMPARE(lines.mid(13).join(", "),
                 QStringLiteral("MODE CC, CC:A 5, LOAD ON, %1, MODE CR, CR:A 50, LOAD ON, %1, "
                                "MODE CR, CR:A 50, LOAD ON, %1, CC:A 5, %1, CC:A 10, %1, "
                                "CC:A 12, %1, CC:A 3, LOAD ON, %1, LOAD OFF")
                     .arg(kMeasure.join(", ")));
        QStringList records; // No./Step/Loop1/StepMode of each record, 15 fields each
        for (const QStringList& r : b.records())
            records << QStringList{r[0], r[1], r[2], r[14], QString::number(r.size())}.join('/');
        QCOMPARE(records, QStringList({"1/1//CC/15", "2/3/2/CR/15", "3/3/1/CR/15", "4/5/1/CC/15",
                                       "5/5/1/CC/15", "6/6/1/CC/15", "7/7/1/CC/15"}));
        // Stop restored the program and the controls.
        Station& s = b.station();
        QCOMPARE(s.form.TestStepGrid.text(2, 5), QStringLiteral("2"));
        for (int row = 1; row <= 7; ++row)
            QVERIFY(!s.form.TestStepGrid.backColor(row, 1).isValid());
        QVERIFY(!s.form.enabled("VoltageText").flag()); // the last values are no longer live
        QCOMPARE(s.form.Frame2Caption.text(), QStringLiteral("Channel - 1"));
        QCOMPARE(s.form.WorkLabel.text(), QStringLiteral(" "));
    }

    void program_drivesTheLoadAsItsStepsSay_highlightingTheRunningRow_data()
    {
        // pulses: each pulse load's result in turn (the source stands above or below its stop
        // voltage); filter: the commands compared ("" all); passes: step/Loop1 of the records as
        // they change; records: their count, give or take one.
        addColumns({"program", "pulses", "filter", "commands", "passes", "records"});
        addRows({
            "FOR 3;FOR||||3, CC 1 1, LOOP, CC 2 1;;^CC:A ;CC:A 1, CC:A 1, CC:A 1, CC:A 2;"
            "2/3 2/2 2/1 4/3;",
            "FOR 1 and FOR 0 run once;FOR||||1, CC 1 1, LOOP, FOR||||0, CC 2 1, LOOP;;^CC:A ;"
            "CC:A 1, CC:A 2;;",
            "FOR2 inside FOR;FOR||||2, FOR2||||3, CC 1 1, LOOP2, LOOP;;^CC:A ;"
            "CC:A 1, CC:A 1, CC:A 1, CC:A 1, CC:A 1, CC:A 1;;",
            // A jump out of the loop's second pass leaves the loop's count as its own end does.
            "pulse NG to EndLoop;CC 1 1, FOR||||2, PlusLoad|20|2|5|5|300|3|50|EndLoop, CC 7 1, "
            "LOOP, CC 9 1;NG;^CC:A ;CC:A 1, CC:A 9;;",
            "pulse NG to step 6;CC 1 1, FOR||||2, PlusLoad|20|2|5|5|300|3|50|6, CC 7 1, LOOP, "
            "CC 9 1;NG;^CC:A ;CC:A 1, CC:A 9;;",
            "pulse NG one past the end;CC 1 1, FOR||||2, PlusLoad|20|2|5|5|300|3|50|7, CC 7 1, "
            "LOOP, CC 9 1;NG;^CC:A ;CC:A 1;;",
            "pulse NG to step 6 in the second pass;CC 1 1, FOR||||2, "
            "PlusLoad|20|2|5|5|300|3|50|6, CC 7 1, LOOP, CC 9 1;OK NG;^CC:A ;CC:A 1, CC:A 7, "
            "CC:A 9;1/ 3/2 4/2 3/1 6/2;",
            "pulse NG without a target repeats;CC 1 1, PlusLoad|20|2|5|5|300|3|50|, CC 7 1;NG OK;"
            "^CC:A ;CC:A 1, CC:A 7;;",
            "load level after a discharge;CC 1 1, DisCharge|CC|5|1|0|0|0|1|NextStep, CP 2000 1;;;"
            "MODE CC, CC:A 1, LOAD ON, CC:A 5, MODE CC, LOAD ON, LOAD OFF, CP:A 2000, MODE CP, "
            "LOAD ON, LOAD OFF;;4",
            "discharge first;DisCharge|CC|5|3|0|0|0|1|NextStep;;;"
            "CC:A 5, MODE CC, LOAD ON, LOAD OFF, LOAD OFF;;3",
            "consecutive discharges keep the load on;CC 1 1, DisCharge|CC|5|1|0|0|0|1|NextStep, "
            "DisCharge|CC|6|1|0|0|0|1|NextStep, Suspend|||1|0|||1|NextStep;;;MODE CC, CC:A 1, "
            "LOAD ON, CC:A 5, MODE CC, LOAD ON, CC:A 6, MODE CC, LOAD ON, LOAD OFF, LOAD OFF;;5",
            // Catching up on the five seconds of settling would add five records at once.
            "settling is no burst of records;CC 1 1, DisCharge|CC|5|9|0|5|0|1|NextStep;;^CC:A ;"
            "CC:A 1, CC:A 5;;7",
            // 20 A on each of three phases: 60 A, so 0.05 Ah passes after 3 s.
            "discharge ends at its charge;CC 0 1, DisCharge|CC|20|3600|0|0|0.05|1|NextStep, "
            "CC 1 1;;^CC:A ;CC:A 0, CC:A 20, CC:A 1;;7",
        });
    }
    void program_drivesTheLoadAsItsStepsSay_highlightingTheRunningRow()
    {
        QFETCH(QString, program);
        QFETCH(QString, pulses);
        QFETCH(QString, filter);
        QFETCH(QString, commands);
        QFETCH(QString, passes);
        QFETCH(QString, records);
        RunBench b(20);
        b.program(steps(program));
        const QStringList results = pulses.split(' ', Qt::SkipEmptyParts);
        int pulse = 0;
        QObject::connect(&b.sim(), &LoadSimulator::lineLogged, &b.rc, [&](const SimLogEntry& e) {
            if (e.line != QLatin1String("COUNT 3"))
                return;
            AcSource source;
            source.volts = results.value(pulse++) == QLatin1String("OK") ? 400 : source.volts;
            b.sim().setAc(source);
        });
        // Each step starts with its row the only one highlighted; the run's counting is no edit.
        const GridModel& grid = b.station().form.TestStepGrid;
        QStringList wrong;
        QObject::connect(&b.rc, &RunControl::stepStarted, &b.rc, [&](int step) {
            QStringList rows;
            for (int r = 1; r < grid.rows(); ++r) {
                if (grid.backColor(r, 1) == gridcolors::LightYellow)
                    rows << QString::number(r);
            }
            if (rows != QStringList{QString::number(step + 1)} ||
                b.station().programEdits.unsaved())
                wrong << QStringLiteral("%1:%2").arg(step + 1).arg(rows.join(','));
        });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(wrong, QStringList());
        QVERIFY(b.messages().isEmpty()); // "Test Finished" only for an end before the timer
        const QStringList sent = commandsOf(b.received());
        QCOMPARE(sent.filter(QRegularExpression(filter)).join(", "), commands);
        QCOMPARE(sent.last(), QStringLiteral("LOAD OFF"));
        QCOMPARE(sent.count("DYNC ON"), results.size());
        if (!results.isEmpty())
            QCOMPARE(sent[sent.lastIndexOf("DYNC ON") + 1], QStringLiteral("LOAD OFF"));
        if (!passes.isEmpty())
            QCOMPARE(::passes(b.records()), passes);
        if (records.isEmpty())
            return;
        // One record a second of each step's dwell time, counted once.
        QVERIFY2(std::abs(b.records().size() - records.toInt()) <= 1,
                 qPrintable(QString::number(b.records().size())));
        QVERIFY(b.records().last()[4] != QLatin1String("0"));
    }

    void batteryDischarge_endsAtItsStopVoltageAndTheNextStepFollows()
    {
        RunBench b(20, SourceKind::Battery);
        BatterySource cell;
        cell.capacityAh = 0.02;
        cell.fullVolts = 12.6;
        cell.emptyVolts = 10.5;
        cell.resistanceOhm = 0.01;
        QVERIFY(b.sim().setBattery(cell));
        b.sim().setSpeed(10);
        b.program(
            steps("CC 0 1, DisCharge|CC|20|3600|11.5|0|0|1|NextStep, Suspend|||2|0|||1|NextStep"));
        QCOMPARE(b.run(), RunEnd::Finished);
        QStringList volts; // of the discharge's records: all at or above 11.5 but the last
        for (const QStringList& r : b.records()) {
            if (r[1] == QLatin1String("2"))
                volts << (parseNumber(r[4]) < 11.5 ? "below" : "above");
        }
        QCOMPARE(volts.mid(0, volts.size() - 1), QStringList(volts.size() - 1, "above"));
        QCOMPARE(volts.value(volts.size() - 1), QStringLiteral("below"));
        QCOMPARE(b.records().last()[1], QStringLiteral("3")); // the suspend step followed
    }

    void longPulseOverGpib_isAwaitedPastTheDeviceTimeOut()
    {
        // Two cycles of 1 s: each GPIB read gives up after one second, the result comes later.
        // Its "NG" jumps to step 4; a result taken for missing would go on to step 3.
        RunBench b(1, SourceKind::Ac, SimStation::Link::Gpib);
        b.program(steps("CC 1 1, PlusLoad|20|2|500|500|300|2|50|4, CC 7 1, CC 9 1"));
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.received().filter(QRegularExpression("^(CC:A |DYNC ON)")).join(", "),
                 QStringLiteral("CC:A 0, CC:A 1, DYNC ON, CC:A 9")); // the reset sets 0 A
    }

    void pulseResultWithoutValues_endsTheRunWithWhatArrived()
    {
        RunBench b(20);
        SimFaults bare;
        bare.form = SimFaults::ReplyForm::SingleField;
        bare.only = QStringLiteral("DYNC ON");
        b.sim().setFaults(bare);
        b.program(steps("CC 1 1, PlusLoad|20|2|5|5|300|3|50|NextStep, CC 7 1"));
        QCOMPARE(b.run(), RunEnd::Error);
        QCOMPARE(b.messages().size(), 1);
        QVERIFY2(b.messages()[0].contains(QStringLiteral("\"NG\"")), qPrintable(b.messages()[0]));
        const QStringList sent = commandsOf(b.received());
        QCOMPARE(sent.mid(sent.size() - 2), QStringList({"DYNC ON", "LOAD OFF"}));
    }

    void lostLoad_isReachedAgainAndTheStepGoesOnWithItsRemainingDwell_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("afterDrop");
        QTest::addColumn<int>("downMs");
        QTest::newRow("tcp, accepting again") << false << int(SimFaults::AfterDrop::Accept) << 0;
        QTest::newRow("tcp, refusing a while") << false << int(SimFaults::AfterDrop::Refuse) << 300;
        // Deaf until the station has told the loss (a busy machine may take long to notice).
        QTest::newRow("serial, deaf a while") << true << int(SimFaults::AfterDrop::Accept) << 0;
    }
    void lostLoad_isReachedAgainAndTheStepGoesOnWithItsRemainingDwell()
    {
        QFETCH(bool, serial);
        QFETCH(int, afterDrop);
        QFETCH(int, downMs);
        // The serial link reads in windows of 0.1 s: a slower clock keeps them long enough in
        // real time for a busy machine, and a longer step leaves room for the ten instants
        // without a value that tell the loss.
        RunBench b(serial ? 4 : 20, SourceKind::Ac,
                   serial ? SimStation::Link::Serial : SimStation::Link::Tcp);
        b.program(steps(serial ? "CC 5 30" : "CC 5 20"));
        const QStringList reset = resetSequence(!serial);
        SimFaults drop;
        // At the fifth measuring instant (serial opens with "REM").
        drop.dropAfter = 1 + static_cast<int>(reset.size()) + (serial ? 1 : 0) + 6 + 3 * 5;
        drop.afterDrop = SimFaults::AfterDrop(afterDrop);
        drop.downMs = downMs;
        b.sim().setFaults(drop);
        // A minute passes while the load is out of reach: the step's clock must stand still.
        GridModel& status = b.station().form.LoadStatusGrid;
        bool shownLive = true; // the last values while the load is out of reach
        QObject::connect(&status, &GridModel::dataChanged, &b.rc, [&] {
            if (status.text(1, 2) != QLatin1String("Lost Connect!") ||
                b.station().run.LinkLostSeconds != 0)
                return;
            shownLive = b.station().form.enabled("VoltageText").flag();
            b.fixture.clock.advance(60);
            if (serial)
                b.sim().clearFaults();
        });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.station().run.LinkLosses, 1);
        QVERIFY(!shownLive);
        QTRY_COMPARE(b.messages(), QStringList{"Lost Connect!"});
        QStringList after = b.received();
        after = after.mid(after.lastIndexOf("MEAS:VOLT?") + 1);
        after.removeIf([](const QString& l) { return l.startsWith(QLatin1String("GLOB:MEAS:")); });
        const QStringList stepStart = {"CC:A 5", "FREQ 50", "MODE CC", "LOAD ON"};
        QCOMPARE(after.mid(0, reset.size() + 4), reset + stepStart);
        QCOMPARE(b.station().form.LoadStatusGrid.text(1, 2), QStringLiteral("Connect OK"));
        QVERIFY(b.station().run.LinkLostSeconds >= 60);
        if (serial)
            return; // its ten instants without a value are recorded before the loss is known
        // Twenty seconds of records. A busy machine may skip an instant or two; the dwell
        // started afresh would give 25, the lost minute counted 5.
        const QList<QStringList> records = b.records();
        QVERIFY2(records.size() >= 16 && records.size() <= 21,
                 qPrintable(QString::number(records.size())));
    }

    void lostLoad_thatDoesNotAnswerAgain_endsTheRun_data()
    {
        // The load refuses connections after the drop, or (gone after each check) answers the
        // connection check and is gone again at the step's first line.
        addColumns({"then"});
        addRows({"refusing;", "stop while reconnecting;stop", "gone after each check;drop"});
    }
    void lostLoad_thatDoesNotAnswerAgain_endsTheRun()
    {
        QFETCH(QString, then);
        const bool stop = then == QLatin1String("stop");
        RunBench b(20);
        const quint16 port = b.sim().tcpPort();
        b.station().settings.ReconnectSeconds = 20;
        b.program(steps("CC 5 600"));
        SimFaults drop;
        drop.dropAfter = static_cast<int>(connection().size()) + 6 + 3 * 2;
        drop.afterDrop = then == QLatin1String("drop") ? SimFaults::AfterDrop::Accept
                                                       : SimFaults::AfterDrop::Refuse;
        b.sim().setFaults(drop);
        QObject::connect(&b.sim(), &LoadSimulator::lineLogged, &b.rc, [&](const SimLogEntry& e) {
            SimFaults again; // at the step's first measurement
            again.dropAfter = 5;
            if (then == QLatin1String("drop") && e.line == QLatin1String("LDON 0.8") &&
                b.sim().lines().size() > drop.dropAfter)
                b.sim().setFaults(again);
        });
        QSignalSpy attempts(&b.rc, &RunControl::reconnectAttempted);
        double stoppedAt = -1;
        GridModel& status = b.station().form.LoadStatusGrid;
        QObject::connect(&status, &GridModel::dataChanged, &b.rc, [&] {
            if (stop && stoppedAt < 0 &&
                status.text(1, 2) == QLatin1String("Reconnecting, attempt 1")) {
                stoppedAt = b.fixture.clock.monotonicMs();
                QTimer::singleShot(0, &b.rc, [&] { b.rc.StopCommand(); });
            }
        });
        QCOMPARE(b.run(), stop ? RunEnd::Stopped : RunEnd::LoadLost);
        const double endedAt = b.fixture.clock.monotonicMs();
        const QStringList lines = b.received();
        if (then != QLatin1String("drop")) // nothing reaches a load that refuses
            QVERIFY(!lines.mid(drop.dropAfter).contains("LOAD OFF"));
        if (stop) {
            // Stop ends the connection attempt at once, not after its ten seconds.
            QVERIFY(endedAt - stoppedAt < 5000);
            QVERIFY(attempts.isEmpty());
            return;
        }
        // One loss, told once, for at most its 20 s.
        QCOMPARE(b.station().run.LinkLosses, 1);
        QVERIFY(std::abs(b.station().run.LinkLostSeconds - 20) < 1);
        QCOMPARE(b.messages().size(), 2);
        QVERIFY2(b.messages()[1].contains("did not answer again within 20 s"),
                 qPrintable(b.messages()[1]));
        QVERIFY(b.station().form.RunStatus.text().contains(": 2 records in "));
        if (then == QLatin1String("drop"))
            return;
        // At 1 s and 13 s, each taking 10 s; the second is cut short at the end of the 20 s.
        QCOMPARE(attempts.size(), 1);
        QCOMPARE(attempts[0][0].toString(),
                 QStringLiteral("reconnecting, attempt 1: 127.0.0.1:%1: %2")
                     .arg(port)
                     .arg("connection refused"));
    }

    void stopInsideAWait_switchesOffClosesTheLogAndSendsNothingMore_data()
    {
        // trigger: Stop is pressed when the load receives it; how: "close" closes the window,
        // "slow" makes the load answer the voltage query after 3 s.
        addColumns({"program", "trigger", "how"});
        addRows({
            "first timed step of the pre-run;Suspend|||3600|0|||1|NextStep;LDON 0.8;",
            "discharge settling;CC 1 1, DisCharge|CC|5|60|0|3600|0|1|NextStep;CC:A 5;",
            "reply;CC 2 60;GLOB:MEAS:VOLT?;slow",
            "ramp pass;RAMP ON|CC|100|1000||||10;CC:A 1;",
            "pulse-load result;CC 2 1, PlusLoad|20|2|500|500|300|100|50|NextStep;DYNC ON;",
            "window closed in a timed step;CC 1 1, CC 2 600;GLOB:MEAS:POW?;close",
        });
    }
    void stopInsideAWait_switchesOffClosesTheLogAndSendsNothingMore()
    {
        QFETCH(QString, program);
        QFETCH(QString, trigger);
        QFETCH(QString, how);
        // Closing the window leaves the reply wait to its own window: a faster clock.
        RunBench b(how == QLatin1String("close") ? 20 : 1);
        if (how == QLatin1String("slow")) {
            SimFaults slow;
            slow.delayMs = 3000;
            slow.only = QStringLiteral("GLOB:MEAS:VOLT?");
            b.sim().setFaults(slow);
        }
        b.program(steps(program));
        bool pressed = false;
        QObject::connect(&b.sim(), &LoadSimulator::lineLogged, &b.rc, [&](const SimLogEntry& e) {
            if (!pressed && e.line == trigger) {
                pressed = true;
                QTimer::singleShot(0, &b.rc, [&] {
                    how == QLatin1String("close") ? b.rc.windowClosing() : b.rc.StopCommand();
                });
            }
        });
        QCOMPARE(b.run(30000), RunEnd::Stopped);
        QVERIFY(pressed);
        const QStringList lines = b.received();
        QCOMPARE(lines.last(), QStringLiteral("LOAD OFF"));
        QCOMPARE(lines.count("LOAD OFF"), 1);
        QVERIFY(!b.sim().state().loadOn);
        QVERIFY(!b.rc.log().isOpen());
        QVERIFY(!b.rc.runTimer().isActive());
        QVERIFY(!b.rc.isRunning());
        // Nothing reaches the load afterwards.
        QTest::qWait(300);
        QCOMPARE(b.received(), lines);
        QVERIFY2(!b.messages().contains("Lost Connect!"), qPrintable(b.messages().join('|')));
    }

    void stepsWithALongerMeasureTime_endAtTheirDwellTimes()
    {
        // A slow clock: a busy machine's late timer adds little; the measure times (10 s and
        // 1e20 s) are far outside the bounds.
        RunBench b(1);
        b.program(steps("CC 1 2 10, DisCharge|CC|5|0.6|0|0|0|1e20|NextStep, CC 2 1"));
        QList<double> starts;
        QObject::connect(&b.rc, &RunControl::stepStarted, &b.rc,
                         [&] { starts << b.fixture.clock.monotonicMs() / 1000.0; });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(starts.size(), 3);
        const double first = starts[1] - starts[0], second = starts[2] - starts[1];
        QVERIFY2(first >= 1.95 && first < 4, qPrintable(QString::number(first)));
        QVERIFY2(second >= 0.55 && second < 0.95, qPrintable(QString::number(second)));
    }

    void startsThatDoNotRun_leaveTheLoadAndTheLogsAlone_data()
    {
        // message: "%1" stands for the load's port; a silent load fails the connection check.
        addColumns({"sn", "program", "end", "message"});
        addRows({
            "no steps;SN1;;refused;Please setup test step, then press START.",
            "serial number with a path;../SN1;CC 1 0;refused;\"/\"",
            "CR 0;SN1;CC 1 0, CR 0 1;refused;Step 2, Value \"0\": Load Level must 0.533 ~ "
            "10666(ohm) !",
            "silent load;SN1;CC 1 1;connect error;Electronic Load Connect Error, Please check "
            "it.\n127.0.0.1:%1: no answer within 10 s",
        });
    }
    void startsThatDoNotRun_leaveTheLoadAndTheLogsAlone()
    {
        QFETCH(QString, sn);
        QFETCH(QString, program);
        QFETCH(QString, end);
        QFETCH(QString, message);
        RunBench b(200);
        const bool silent = end == QLatin1String("connect error");
        if (silent) {
            SimFaults faults;
            faults.form = SimFaults::ReplyForm::None;
            b.sim().setFaults(faults);
        }
        b.program(steps(program));
        b.station().form.SNText.setText(sn);
        // An earlier test's log, which must keep its name and contents.
        QDir().mkpath(b.station().testLogDir());
        const QString previous = QDir(b.station().testLogDir()).filePath("SN1.CSV");
        writeFile(previous, "1,old\r\n");
        QCOMPARE(b.run(), silent ? RunEnd::ConnectError : RunEnd::Refused);
        QCOMPARE(b.messages().size(), 1);
        message.replace("%1", QString::number(b.sim().tcpPort()));
        QVERIFY2(b.messages()[0].contains(message), qPrintable(b.messages()[0]));
        QCOMPARE(b.received(), silent ? QStringList{"MEAS:VOLT?"} : QStringList());
        QVERIFY(b.station().form.enabled("StartCommand").flag());
        QCOMPARE(readFile(previous), QByteArray("1,old\r\n"));
        QCOMPARE(QDir(b.station().testLogDir()).entryList({"SN1*"}), QStringList{"SN1.CSV"});
        if (silent) {
            QCOMPARE(b.station().form.RunStatus.text(), b.messages()[0]);
            QCOMPARE(b.station().form.Frame2ForeColor.color(), gridcolors::Red);
        }
    }

    void emptySerialNumber_logsToNoSaveLogWithoutPreRunRecords()
    {
        RunBench b;
        b.station().form.SNText.setText(QString());
        b.program(steps("CC 1 0, CC 2 0"));
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.station().form.SNText.text(), QStringLiteral("NoSaveLog"));
        QCOMPARE(QFileInfo(b.station().run.LogFileName).fileName(),
                 QStringLiteral("NoSaveLog.CSV"));
        QVERIFY(b.records().isEmpty());
        QVERIFY(!b.received().contains("GLOB:MEAS:VOLT?"));
    }

    void run_journalsEveryStepPauseAndEnd_andResumesAfterPause()
    {
        RunBench b(20);
        b.program(
            steps("CC 1 0, FOR||||2, CC 2 10, LOOP, PlusLoad|20|2|5|5|300|3|50|NextStep, CC 3 1"));
        b.rc.StartCommand();
        QTRY_VERIFY_WITH_TIMEOUT(b.records().size() >= 4, 30000);
        QVERIFY(b.station().form.enabled("VoltageText").flag()); // live while measured
        b.rc.PauseCommand();
        QVERIFY(!b.station().form.enabled("VoltageText").flag());
        QCOMPARE(b.station().form.grdPhase3.foreColor(1, 2), gridcolors::Grey); // stale amperes
        QVERIFY(b.station().form.RunStatus.text().startsWith("Paused at step 3: "));
        const int paused = static_cast<int>(b.received().size());
        b.fixture.clock.advance(600); // a long pause is not the step's time
        b.rc.StartCommand();
        QVERIFY(b.waitForEnd());
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Finished);
        QCOMPARE(b.receivedSince(paused).mid(0, 4),
                 QStringList({"CC:A 2", "FREQ 50", "MODE CC", "LOAD ON"}));
        QVERIFY(QDir(b.station().testLogDir()).entryList({"SN1_*"}).isEmpty()); // the same log
        // About ten records a pass of ten seconds, the paused one too; Loop1 counts on.
        QStringList records;
        for (const QStringList& r : b.records())
            records << r[1] + "/" + r[2];
        QVERIFY2(std::abs(records.count("3/2") - 10) <= 1, qPrintable(records.join(' ')));
        QVERIFY2(std::abs(records.count("3/1") - 10) <= 1, qPrintable(records.join(' ')));
        QCOMPARE(outline(journalPath(b)),
                 QStringList({"run start", "step start 1", "step end 1 dwell time",
                              "step start 3 2", "step end 3 Pause 2", "pause 3", "resume 3 pause",
                              "step start 3 2", "step end 3 dwell time 2", "step start 3 1",
                              "step end 3 dwell time 1", "step start 5 2", "step end 5 pulse NG 2",
                              "step start 6 2", "step end 6 dwell time 2", "run end finished"}));
        const QList<JournalEvent> events = readJournal(journalPath(b)).events;
        const QJsonObject start = events.first().fields;
        QCOMPARE(
            start["sha256"].toString(),
            QCryptographicHash::hash(readFile(b.fixture.programPath()), QCryptographicHash::Sha256)
                .toHex());
        QCOMPARE(start["sn"].toString(), QStringLiteral("SN1"));
        // Two passes of 2 s and a step of 1 s at least, as the program check counts them.
        QVERIFY(start["estimate"]["fullSeconds"].toDouble() >= 5);
        QCOMPARE(start["start"].toString(), QStringLiteral("2026/01/05 08:00:00"));
        // The step ends share out the records between them, in order and without a gap.
        int next = 1;
        for (const JournalEvent& e : events) {
            if (e.event != journalevents::StepEnd)
                continue;
            QCOMPARE(e.fields["firstRecord"].toInt(), next);
            next = e.fields["lastRecord"].toInt() + 1;
            if (e.fields["how"] == stepends::PulseNg)
                QVERIFY(e.fields["reply"].toString().startsWith("NG,"));
        }
        QCOMPARE(next - 1, b.records().size());
        QCOMPARE(events.last().fields["records"].toInt(), b.records().size());
    }

    void crash_isResumedWhereItStood_data()
    {
        QTest::addColumn<QByteArray>("torn");
        QTest::addColumn<bool>("afterAStepEnd");
        QTest::newRow("in the second pass") << QByteArray() << false;
        QTest::newRow("torn last line") << QByteArray("99,2,2,08:0") << false;
        QTest::newRow("between two steps") << QByteArray() << true;
    }
    void crash_isResumedWhereItStood()
    {
        QFETCH(QByteArray, torn);
        QFETCH(bool, afterAStepEnd);
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        double ahAtCrash = 0;
        crashWhen(b, [&] {
            ahAtCrash = b.station().run.StepAh;
            // Two seconds into the second pass: its charge is more than the tolerance below.
            const QList<QStringList> r = b.records();
            return r.size() >= 8 && r[r.size() - 3].mid(1, 2) == QStringList({"2", "2"});
        });
        const QString csvPath = b.station().testLogDir() + "/SN1.CSV";
        if (afterAStepEnd) {
            // The crash came after the first pass ended and before the second began: its
            // start and its records are not on disk.
            QByteArray journal = readFile(journalPath(b));
            journal.truncate(journal.lastIndexOf("{\"event\":\"step start\""));
            writeFile(journalPath(b), journal);
            const int last = readJournal(journalPath(b)).events.last().fields["lastRecord"].toInt();
            QByteArray log = readFile(csvPath);
            log.truncate(log.indexOf("\r\n" + QByteArray::number(last + 1) + ",") + 2);
            writeFile(csvPath, log);
        }
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::Append));
        csv.write(torn);
        csv.close();
        const int crashed = static_cast<int>(b.received().size());

        SeriesStore plot;
        b.rc.log().setSeriesStore(&plot);
        b.rc.resumeInterrupted(interrupted(b));
        // The plot shows the records from before the crash too.
        QCOMPARE(plot.size(), qsizetype(b.station().run.RecordNo - 1));
        if (!afterAStepEnd)
            // Within a second's charge at 3 x 2 A: the log's times are whole seconds.
            QVERIFY2(std::abs(b.station().run.StepAh - ahAtCrash) <= 6.0 / 3600,
                     qPrintable(QString::number(b.station().run.StepAh)));
        QVERIFY(b.waitForEnd());
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Finished);
        // Connected, reset, the body restarted on the load.
        QCOMPARE(b.receivedSince(crashed).mid(0, 1), QStringList{"MEAS:VOLT?"});
        const QList<QStringList> records = b.records();
        for (int i = 0; i < records.size(); ++i)
            QCOMPARE(records[i][0], QString::number(i + 1));
        QCOMPARE(passes(records), QStringLiteral("2/3 2/2 2/1 4/3"));
        const QStringList events = outline(journalPath(b));
        QVERIFY(events.contains("resume 2 interruption"));
        QCOMPARE(events.contains("log cut"), !torn.isEmpty());
        QCOMPARE(events.last(), QStringLiteral("run end finished"));
        // About four records a pass of four seconds, the interrupted one too.
        for (const char* loop1 : {"3", "2", "1"}) {
            int count = 0;
            for (const QStringList& r : records)
                count += r[1] == "2" && r[2] == loop1;
            QVERIFY2(count >= 3 && count <= 6,
                     qPrintable(QString(loop1) + ": " + QString::number(count)));
        }
    }

    void changedProgram_isNotResumed()
    {
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        crashWhen(b, [&] { return b.records().size() >= 2; });
        const QByteArray csv = readFile(b.station().testLogDir() + "/SN1.CSV");
        const QByteArray journal = readFile(journalPath(b));
        writeFile(b.fixture.programPath(), readFile(b.fixture.programPath()) + "\r\n");
        const int crashed = static_cast<int>(b.received().size());
        b.rc.resumeInterrupted(interrupted(b));
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Refused);
        QVERIFY2(b.messages().value(0).contains("has changed since the run of SN SN1 started "
                                                "(SHA-256 "),
                 qPrintable(b.messages().join('\n')));
        QCOMPARE(b.receivedSince(crashed), QStringList());
        QCOMPARE(readFile(b.station().testLogDir() + "/SN1.CSV"), csv);
        QCOMPARE(readFile(journalPath(b)), journal);
    }

    void startUpOffer_asksResumeOrDiscard_andDiscardEndsTheJournal()
    {
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        crashWhen(b, [&] { return b.records().size() >= 6 && b.records().last()[2] == "2"; });
        b.fixture.prompts.scriptAnswers({PromptAnswer::Cancel, PromptAnswer::Discard});
        QVERIFY(!b.rc.offerInterruptedRuns()); // closed without an answer: asked again later
        QVERIFY(!b.rc.offerInterruptedRuns());
        const QString stoppedAt = b.records().last()[3];
        QCOMPARE(b.fixture.prompts.shown.back().text,
                 "The run of SN SN1 stopped unexpectedly at step 2 of 4 (Loop1 2) at " + stoppedAt +
                     ".");
        QCOMPARE(outline(journalPath(b)).last(), QStringLiteral("run end discarded"));
        QVERIFY(findInterruptedRuns(b.station().testLogDir(), nullptr).isEmpty());
        // The next Start keeps the discarded run's log and journal under one dated name.
        b.rc.StartCommand();
        QCOMPARE(QDir(b.station().testLogDir()).entryList({"SN1_*"}).size(), 2);
    }
};

ACL3_TEST_MAIN(RunControlTest)
#include "tst_runcontrol.moc"
