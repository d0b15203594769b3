// A run against the simulated load: exact commands, CSV records, timing, faults, Stop and Pause.

#include "common/NumberText.h"
#include "execution/RunBench.h"
#include "settings/IniFile.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QRegularExpression>

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
        QVERIFY(s.form.enabled("StartCommand").flag());
        QVERIFY(!s.form.enabled("StopCommand").flag());
        QVERIFY(!s.form.enabled("VoltageText").flag()); // the last values are no longer live
        QCOMPARE(s.form.Frame2Caption.text(), QStringLiteral("Channel - 1"));
        QCOMPARE(s.form.WorkLabel.text(), QStringLiteral(" "));
    }

    void program_drivesTheLoadAsItsStepsSay_data()
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
    void program_drivesTheLoadAsItsStepsSay()
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
        QCOMPARE(b.run(), RunEnd::Finished);
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
        QObject::connect(&status, &GridModel::dataChanged, &b.rc, [&] {
            if (status.text(1, 2) != QLatin1String("Lost Connect!") ||
                b.station().run.LinkLostSeconds != 0)
                return;
            b.fixture.clock.advance(60);
            if (serial)
                b.sim().clearFaults();
        });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.station().run.LinkLosses, 1);
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
        // Twenty seconds of records, every one measured. A busy machine may skip an instant or
        // two; the dwell started afresh would give 25, the lost minute counted 5.
        const QList<QStringList> records = b.records();
        QVERIFY2(records.size() >= 16 && records.size() <= 21,
                 qPrintable(QString::number(records.size())));
        for (const QStringList& r : records)
            QVERIFY2(parseNumber(r[4]) > 200 && r[7] == QLatin1String("5"),
                     qPrintable(r.join(',')));
    }

    void lostLoad_thatDoesNotAnswerAgain_endsTheRun_data()
    {
        QTest::addColumn<int>("afterDrop");
        QTest::addColumn<QString>("then");
        // Whether "LOAD OFF" reached the load after the drop: 0, 1, -1 either.
        QTest::addColumn<int>("loadOff");
        QTest::newRow("refusing") << int(SimFaults::AfterDrop::Refuse) << "" << 0;
        QTest::newRow("silent") << int(SimFaults::AfterDrop::Silent) << "" << 1;
        QTest::newRow("stop while reconnecting")
            << int(SimFaults::AfterDrop::Refuse) << "stop" << 0;
        // It answers the connection check and is gone again at the step's first line.
        QTest::newRow("gone after each check") << int(SimFaults::AfterDrop::Accept) << "drop" << -1;
    }
    void lostLoad_thatDoesNotAnswerAgain_endsTheRun()
    {
        QFETCH(int, afterDrop);
        QFETCH(QString, then);
        QFETCH(int, loadOff);
        const bool stop = then == QLatin1String("stop");
        RunBench b(20);
        const quint16 port = b.sim().tcpPort();
        b.station().settings.ReconnectSeconds = 20;
        b.program(steps("CC 5 600"));
        SimFaults drop;
        drop.dropAfter = static_cast<int>(connection().size()) + 6 + 3 * 2;
        drop.afterDrop = SimFaults::AfterDrop(afterDrop);
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
        if (loadOff >= 0)
            QCOMPARE(lines.mid(drop.dropAfter).contains("LOAD OFF"), loadOff == 1);
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
        if (loadOff < 0)
            return;
        // At 1 s and 13 s, each taking 10 s; the second is cut short at the end of the 20 s.
        QCOMPARE(attempts.size(), 1);
        QCOMPARE(attempts[0][0].toString(),
                 QStringLiteral("reconnecting, attempt 1: 127.0.0.1:%1: %2")
                     .arg(port)
                     .arg(loadOff ? "no answer within 10 s" : "connection refused"));
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

    void editedGrid_isSavedBeforeTheRunAndACancelledSaveKeepsTheEdit()
    {
        RunBench b;
        b.program(steps("CC 1 0"));
        GridModel& grid = b.station().form.TestStepGrid;
        grid.setRows(3);
        grid.setRowTexts(2, {"2", "LoadLevel", "CC", "2", "0", "", "", "", "1", "", "50"});

        QCOMPARE(b.run(), RunEnd::Refused); // the save dialog was cancelled
        QCOMPARE(grid.rows(), 3);
        QCOMPARE(grid.text(2, 3), QStringLiteral("2"));
        QVERIFY(b.received().isEmpty());

        b.ended.clear();
        b.fixture.prompts.scriptFileNames({b.fixture.programPath()});
        QCOMPARE(b.run(), RunEnd::Finished);
        QVERIFY(commandsOf(b.received()).contains("CC:A 2"));
        QCOMPARE(ReadIniString(b.fixture.programPath(), "Step2", "CurrentValue", ""),
                 QStringLiteral("2"));
    }

    void runningRow_isTheOnlyOneHighlighted_andTheRunsCountingIsNoEdit()
    {
        RunBench b(20);
        b.program(steps("FOR||||2, CC 1 1, LOOP, CC 2 1"));
        const GridModel& grid = b.station().form.TestStepGrid;
        QStringList seen; // per started step: its row, then the highlighted rows
        bool edited = false;
        QObject::connect(&b.rc, &RunControl::stepStarted, &b.rc, [&](int step) {
            QStringList rows;
            for (int r = 1; r < grid.rows(); ++r) {
                if (grid.backColor(r, 1) == gridcolors::LightYellow)
                    rows << QString::number(r);
            }
            seen << QStringLiteral("%1:%2").arg(step + 1).arg(rows.join(','));
            edited = edited || b.station().programEdits.unsaved();
        });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(seen, QStringList({"1:1", "2:2", "3:3", "2:2", "3:3", "4:4"}));
        QVERIFY(!edited);
    }
};

ACL3_TEST_MAIN(RunControlTest)
#include "tst_runcontrol.moc"
