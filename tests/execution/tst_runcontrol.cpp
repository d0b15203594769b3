#include "common/NumberText.h"
#include "execution/RunBench.h"
#include "settings/IniFile.h"
#include "support/TestMain.h"

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

QStringList column(const QList<QStringList>& records, int field)
{
    QStringList out;
    for (const QStringList& r : records)
        out << r.value(field);
    return out;
}

// An earlier test's log, which a Start that does not run must leave as it was.
QString keepPreviousLog(RunBench& b)
{
    QDir().mkpath(b.station().testLogDir());
    const QString previous = QDir(b.station().testLogDir()).filePath("SN1.CSV");
    writeFile(previous, "1,old\r\n");
    return previous;
}

QStringList loadLevel(const QString& mode, const QString& value, const QString& dwell,
                      const QString& measure = QStringLiteral("1"))
{
    return {"LoadLevel", mode, value, dwell, "", "", "", measure, "", "50"};
}

} // namespace

class RunControlTest : public QObject
{
    Q_OBJECT

private slots:
    void preRunOnlyProgram_endsWithTestFinishedWithoutTheTimer()
    {
        RunBench b;
        b.program({loadLevel("CC", "5", "0"),
                   {"FOR", "", "", "", "2"},
                   loadLevel("CR", "50", "0"),
                   {"LOOP"},
                   {"RAMP ON", "CC", "10", "2", "", "", "", "1"},
                   {"RAMP OFF", "CC", "3", "0", "", "", "", "1"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.messages(), QStringList{"Test Finished"});
        const QStringList lines = b.received();
        QCOMPARE(lines.mid(0, 13), connection());
        QStringList expected;
        expected << "MODE CC"
                 << "CC:A 5"
                 << "LOAD ON" << kMeasure;
        for (int pass = 0; pass < 2; ++pass)
            expected << "MODE CR"
                     << "CR:A 50"
                     << "LOAD ON" << kMeasure;
        expected << "CC:A 5" << kMeasure << "CC:A 10" << kMeasure; // the ramp, from 0
        expected << "CC:A 3"
                 << "LOAD ON" << kMeasure << "LOAD OFF";
        QCOMPARE(lines.mid(13), expected);

        const QList<QStringList> records = b.records();
        QCOMPARE(b.csv().first(), QStringLiteral("No.,Step,Loop1,StepTime,VotlageA,VotlageB,"
                                                 "VotlageC,CurrentA,CurrentB,CurrentC,PowerA,"
                                                 "PowerB,PowerC,TotalTime,StepMode"));
        QCOMPARE(column(records, 0), QStringList({"1", "2", "3", "4", "5", "6"}));
        QCOMPARE(column(records, 1), QStringList({"1", "3", "3", "5", "5", "6"}));
        QCOMPARE(column(records, 2), QStringList({"", "2", "1", "1", "1", "1"}));
        QCOMPARE(column(records, 14), QStringList({"CC", "CR", "CR", "CC", "CC", "CC"}));
        for (const QStringList& r : records)
            QCOMPARE(r.size(), 15);

        // Stop restored the program and the controls.
        Station& s = b.station();
        QCOMPARE(s.form.TestStepGrid.text(2, 5), QStringLiteral("2"));
        QVERIFY(!s.form.TestStepGrid.backColor(3, 1).isValid());
        QVERIFY(s.form.enabled("StartCommand").flag());
        QVERIFY(!s.form.enabled("StopCommand").flag());
        QCOMPARE(s.form.Frame2Caption.text(), QStringLiteral("Channel - 1"));
        QCOMPARE(s.form.WorkLabel.text(), QStringLiteral(" "));
        QVERIFY(!b.rc.log().isOpen());
        QVERIFY(!b.rc.runTimer().isActive());
    }

    void forLoop_runsItsTimedBodyAndCountsDown()
    {
        RunBench b(20);
        b.program({{"FOR", "", "", "", "3"},
                   loadLevel("CC", "1", "1"),
                   {"LOOP"},
                   loadLevel("CC", "2", "1")});
        QCOMPARE(b.run(), RunEnd::Finished);
        QVERIFY(b.messages().isEmpty()); // "Test Finished" only for an end before the timer
        const QStringList commands = commandsOf(b.received());
        QCOMPARE(commands.count("CC:A 1"), 3);
        QCOMPARE(commands.count("CC:A 2"), 1);
        QCOMPARE(commands.last(), QStringLiteral("LOAD OFF"));
        // Loop1 of the body's records counts 3, 2, 1; after the loop the cell shows 3 again.
        QStringList loop1;
        for (const QStringList& r : b.records()) {
            if (loop1.isEmpty() || loop1.last() != r[1] + "/" + r[2])
                loop1 << r[1] + "/" + r[2];
        }
        QCOMPARE(loop1, QStringList({"2/3", "2/2", "2/1", "4/3"}));
    }

    void loopTimesOfOneOrLess_runTheBodyOnce()
    {
        RunBench b(20);
        b.program({{"FOR", "", "", "", "1"},
                   loadLevel("CC", "1", "1"),
                   {"LOOP"},
                   {"FOR", "", "", "", "0"},
                   loadLevel("CC", "2", "1"),
                   {"LOOP"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QStringList commands = commandsOf(b.received());
        QCOMPARE(commands.count("CC:A 1"), 1);
        QCOMPARE(commands.count("CC:A 2"), 1);
    }

    void innerLoop_runsInsideTheOuterLoop()
    {
        RunBench b(20);
        b.program({{"FOR", "", "", "", "2"},
                   {"FOR2", "", "", "", "3"},
                   loadLevel("CC", "1", "1"),
                   {"LOOP2"},
                   {"LOOP"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(commandsOf(b.received()).count("CC:A 1"), 6);
    }

    void timerCarriedSteps_driveTheLoadAsTheirRowsSay_data()
    {
        QTest::addColumn<QList<QStringList>>("steps");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("records");
        QTest::newRow("load level after a discharge")
            << QList<QStringList>{loadLevel("CC", "1", "1"),
                                  {"DisCharge", "CC", "5", "1", "0", "0", "0", "1", "NextStep"},
                                  loadLevel("CP", "2000", "1")}
            << QStringList{"MODE CC",  "CC:A 1",    "LOAD ON", "CC:A 5",  "MODE CC", "LOAD ON",
                           "LOAD OFF", "CP:A 2000", "MODE CP", "LOAD ON", "LOAD OFF"}
            << 4;
        QTest::newRow("discharge first")
            << QList<QStringList>{{"DisCharge", "CC", "5", "3", "0", "0", "0", "1", "NextStep"}}
            << QStringList{"CC:A 5", "MODE CC", "LOAD ON", "LOAD OFF", "LOAD OFF"} << 3;
    }
    void timerCarriedSteps_driveTheLoadAsTheirRowsSay()
    {
        QFETCH(QList<QStringList>, steps);
        QFETCH(QStringList, commands);
        QFETCH(int, records);
        RunBench b(20);
        b.program(steps);
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(commandsOf(b.received()), commands);
        // One record a second of each step's dwell time, counted once.
        QVERIFY2(std::abs(b.records().size() - records) <= 1,
                 qPrintable(QString::number(b.records().size())));
        QVERIFY(b.records().last()[4] != QLatin1String("0"));
    }

    void consecutiveDischarges_keepTheLoadOnAndTheLastSwitchesItOff()
    {
        RunBench b(20);
        b.program({loadLevel("CC", "1", "1"),
                   {"DisCharge", "CC", "5", "1", "0", "0", "0", "1", "NextStep"},
                   {"DisCharge", "CC", "6", "1", "0", "0", "0", "1", "NextStep"},
                   {"Suspend", "", "", "1", "0", "", "", "1", "NextStep"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(commandsOf(b.received()),
                 QStringList({"MODE CC", "CC:A 1", "LOAD ON", "CC:A 5", "MODE CC", "LOAD ON",
                              "CC:A 6", "MODE CC", "LOAD ON", "LOAD OFF", "LOAD OFF"}));
    }

    void settlingTime_isNotFollowedByABurstOfRecords()
    {
        RunBench b(10);
        b.program({loadLevel("CC", "1", "1"),
                   {"DisCharge", "CC", "5", "9", "0", "5", "0", "1", "NextStep"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        QStringList times;
        for (const QStringList& r : b.records()) {
            if (r[1] == QLatin1String("2"))
                times << r[3];
        }
        // Measured once a second in the four seconds after the settling; catching up on the
        // five seconds of settling would add five more records at once.
        QVERIFY2(times.size() >= 2 && times.size() <= 5, qPrintable(times.join(' ')));
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
        b.program({loadLevel("CC", "0", "1"),
                   {"DisCharge", "CC", "20", "3600", "11.5", "0", "0", "1", "NextStep"},
                   {"Suspend", "", "", "2", "0", "", "", "1", "NextStep"}});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QList<QStringList> records = b.records();
        QList<QStringList> discharge;
        for (const QStringList& r : records) {
            if (r[1] == QLatin1String("2"))
                discharge << r;
        }
        QVERIFY(!discharge.isEmpty());
        QVERIFY2(discharge.size() < 600, "the step ended long before its hour");
        QVERIFY(parseNumber(discharge.last()[4]) < 11.5);
        for (int i = 0; i + 1 < discharge.size(); ++i)
            QVERIFY(parseNumber(discharge[i][4]) >= 11.5);
        QCOMPARE(records.last()[1], QStringLiteral("3")); // the suspend step followed
        QVERIFY(commandsOf(b.received()).contains("LOAD OFF"));
    }

    void dischargeAmpereHourLimit_endsTheStep()
    {
        RunBench b(20);
        // 20 A on each of three phases: 60 A, so 0.05 Ah passes after 3 s.
        b.program({loadLevel("CC", "0", "1"),
                   {"DisCharge", "CC", "20", "3600", "0", "0", "0.05", "1", "NextStep"},
                   loadLevel("CC", "1", "1")});
        QCOMPARE(b.run(), RunEnd::Finished);
        int dischargeRecords = 0;
        for (const QStringList& r : b.records())
            dischargeRecords += r[1] == QLatin1String("2");
        QVERIFY2(dischargeRecords >= 2 && dischargeRecords <= 6,
                 qPrintable(QString::number(dischargeRecords)));
        QVERIFY(commandsOf(b.received()).contains("CC:A 1"));
    }

    void pulseLoadNg_followsItsGoToTarget_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("reachesLastStep");
        QTest::newRow("EndLoop") << "EndLoop" << true;
        QTest::newRow("step number") << "6" << true;
        QTest::newRow("one past the program ends it") << "7" << false;
    }
    void pulseLoadNg_followsItsGoToTarget()
    {
        QFETCH(QString, target);
        QFETCH(bool, reachesLastStep);
        RunBench b(20);
        b.program({loadLevel("CC", "1", "1"),
                   {"FOR", "", "", "", "2"},
                   {"PlusLoad", "20", "2", "5", "5", "300", "3", "50", target},
                   loadLevel("CC", "7", "1"),
                   {"LOOP"},
                   loadLevel("CC", "9", "1")});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QStringList commands = commandsOf(b.received());
        QCOMPARE(commands.count("DYNC ON"), 1);
        QVERIFY(!commands.contains("CC:A 7"));
        QCOMPARE(commands.contains("CC:A 9"), reachesLastStep);
        const QStringList pulse = commands.mid(commands.indexOf("CCP:HIGH 20"), 8);
        QCOMPARE(pulse, QStringList({"CCP:HIGH 20", "CC:B 2", "PERD:HIGH 5", "PERD:LOW 5",
                                     "VTH 300", "COUNT 3", "DYNC ON", "LOAD OFF"}));
        // The NG reply's voltage and current are shown, and the pulse step recorded.
        bool recorded = false;
        for (const QStringList& r : b.records())
            recorded = recorded || r[1] == QLatin1String("3");
        QVERIFY(recorded);
    }

    void longPulseOverGpib_isAwaitedPastTheDeviceTimeOut()
    {
        // Two cycles of 1 s: each GPIB read gives up after one second, the result comes later.
        // Its "NG" jumps to step 4; a result taken for missing would go on to step 3.
        RunBench b(1, SourceKind::Ac, SimStation::Link::Gpib);
        b.program({loadLevel("CC", "1", "1"),
                   {"PlusLoad", "20", "2", "500", "500", "300", "2", "50", "4"},
                   loadLevel("CC", "7", "1"),
                   loadLevel("CC", "9", "1")});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QStringList lines = b.received();
        QVERIFY(lines.contains("DYNC ON"));
        QVERIFY(!lines.contains("CC:A 7"));
        QVERIFY(lines.indexOf("CC:A 9") > lines.indexOf("DYNC ON"));
    }

    void pulseLoadNgWithoutTarget_startsTheSameStepAgain()
    {
        RunBench b(20);
        // The second pulse passes: the source rises above the stop voltage.
        int pulses = 0;
        QObject::connect(&b.sim(), &LoadSimulator::lineLogged, &b.rc, [&](const SimLogEntry& e) {
            if (e.line == QLatin1String("COUNT 3") && ++pulses == 2) {
                AcSource high;
                high.volts = 400;
                b.sim().setAc(high);
            }
        });
        b.program({loadLevel("CC", "1", "1"),
                   {"PlusLoad", "20", "2", "5", "5", "300", "3", "50", ""},
                   loadLevel("CC", "7", "1")});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QStringList commands = commandsOf(b.received());
        QCOMPARE(commands.count("DYNC ON"), 2);
        QVERIFY(commands.indexOf("CC:A 7") > commands.lastIndexOf("DYNC ON"));
        QVERIFY(parseNumber(b.station().form.VoltageText.text()) > 0);
    }

    void pulseResultWithoutValues_endsTheRunWithWhatArrived()
    {
        RunBench b(20);
        SimFaults bare;
        bare.form = SimFaults::ReplyForm::SingleField;
        bare.only = QStringLiteral("DYNC ON");
        b.sim().setFaults(bare);
        b.program({loadLevel("CC", "1", "1"),
                   {"PlusLoad", "20", "2", "5", "5", "300", "3", "50", "NextStep"},
                   loadLevel("CC", "7", "1")});
        QCOMPARE(b.run(), RunEnd::Error);
        QCOMPARE(b.messages().size(), 1);
        QVERIFY2(b.messages()[0].contains(QStringLiteral("\"NG\"")), qPrintable(b.messages()[0]));
        const QStringList commands = commandsOf(b.received());
        QCOMPARE(commands.last(), QStringLiteral("LOAD OFF"));
        QVERIFY(!commands.contains("CC:A 7"));
    }

    void rampWithoutMeasureTime_isRefusedBeforeAnythingIsSent()
    {
        RunBench b;
        b.program({{"RAMP ON", "CC", "10", "5", "", "", "", "0"}});
        QCOMPARE(b.run(), RunEnd::Refused);
        QCOMPARE(b.messages().size(), 1);
        QVERIFY(b.messages()[0].contains(QStringLiteral("Step 1, MeasT(s) \"0\"")));
        QVERIFY(b.received().isEmpty());
    }

    void pauseThenStart_resumesTheStepWithItsRemainingDwellInTheSameLog()
    {
        RunBench b(20);
        b.program({{"FOR", "", "", "", "2"},
                   loadLevel("CC", "1", "10"),
                   {"LOOP"},
                   loadLevel("CC", "2", "1")});
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(b.records().size() >= 4, 30000);
        QVERIFY(b.station().form.enabled("VoltageText").flag()); // live while measured
        b.rc.PauseCommand();
        QVERIFY(b.rc.isPaused());
        QVERIFY(b.station().form.enabled("StartCommand").flag());
        QVERIFY(!b.station().form.enabled("VoltageText").flag());
        QCOMPARE(b.station().form.grdPhase3.foreColor(1, 2), gridcolors::Grey); // stale amperes
        QVERIFY(b.station().form.RunStatus.text().startsWith("Paused at step 2: "));
        QCOMPARE(commandsOf(b.received()).last(), QStringLiteral("LOAD OFF"));
        const int paused = static_cast<int>(b.received().size());
        b.fixture.clock.advance(600); // a long pause is not the step's time

        b.rc.StartCommand();
        QVERIFY(b.waitForEnd());
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Finished);
        QCOMPARE(b.receivedSince(paused).mid(0, 4),
                 QStringList({"CC:A 1", "FREQ 50", "MODE CC", "LOAD ON"}));
        QVERIFY(QDir(b.station().testLogDir()).entryList({"SN1_*.CSV"}).isEmpty());
        const QList<QStringList> records = b.records();
        QStringList passes; // step/Loop1 of each record
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i][0], QString::number(i + 1));
            passes << records[i][1] + "/" + records[i][2];
        }
        // About ten records a pass of ten seconds, the paused one too; Loop1 counts on.
        QVERIFY2(std::abs(passes.count("2/2") - 10) <= 1, qPrintable(passes.join(' ')));
        QVERIFY2(std::abs(passes.count("2/1") - 10) <= 1, qPrintable(passes.join(' ')));
        QVERIFY(passes.last().startsWith("4/"));
        QVERIFY(b.station().form.RunStatus.text().startsWith(
            QStringLiteral("Finished: %1 records in ").arg(records.size())));
    }

    void lostLoad_isReachedAgainAndTheStepGoesOnWithItsRemainingDwell_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("afterDrop");
        QTest::addColumn<int>("downMs");
        QTest::newRow("tcp, accepting again") << false << int(SimFaults::AfterDrop::Accept) << 0;
        QTest::newRow("tcp, refusing a while") << false << int(SimFaults::AfterDrop::Refuse) << 300;
        QTest::newRow("serial, deaf a while") << true << int(SimFaults::AfterDrop::Accept) << 800;
    }
    void lostLoad_isReachedAgainAndTheStepGoesOnWithItsRemainingDwell()
    {
        QFETCH(bool, serial);
        QFETCH(int, afterDrop);
        QFETCH(int, downMs);
        RunBench b(20, SourceKind::Ac, serial ? SimStation::Link::Serial : SimStation::Link::Tcp);
        b.program({loadLevel("CC", "5", "20")});
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
            if (status.text(1, 2) == QLatin1String("Lost Connect!") &&
                b.station().run.LinkLostSeconds == 0)
                b.fixture.clock.advance(60);
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
        // Twenty seconds of records, every one of them measured.
        const QList<QStringList> records = b.records();
        QVERIFY2(std::abs(records.size() - 20) <= 1, qPrintable(QString::number(records.size())));
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
        b.program({loadLevel("CC", "5", "600")});
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
        QTest::addColumn<QString>("wait");
        QTest::addColumn<QString>("trigger"); // Stop is pressed when the load receives this
        QTest::newRow("first timed step of the pre-run") << "prerun"
                                                         << "LDON 0.8";
        QTest::newRow("discharge settling") << "settling"
                                            << "CC:A 5";
        QTest::newRow("reply") << "reply"
                               << "GLOB:MEAS:VOLT?";
        QTest::newRow("ramp pass") << "ramp"
                                   << "CC:A 1";
        QTest::newRow("pulse-load result") << "pulse"
                                           << "DYNC ON";
    }
    void stopInsideAWait_switchesOffClosesTheLogAndSendsNothingMore()
    {
        QFETCH(QString, wait);
        QFETCH(QString, trigger);
        RunBench b(1);
        if (wait == QLatin1String("prerun"))
            b.program({{"Suspend", "", "", "3600", "0", "", "", "1", "NextStep"}});
        else if (wait == QLatin1String("settling"))
            b.program({loadLevel("CC", "1", "1"),
                       {"DisCharge", "CC", "5", "60", "0", "3600", "0", "1", "NextStep"}});
        else if (wait == QLatin1String("reply")) {
            SimFaults slow;
            slow.delayMs = 3000;
            slow.only = QStringLiteral("GLOB:MEAS:VOLT?");
            b.sim().setFaults(slow);
            b.program({loadLevel("CC", "2", "60")});
        } else if (wait == QLatin1String("ramp"))
            b.program({{"RAMP ON", "CC", "100", "1000", "", "", "", "10"}});
        else
            b.program({loadLevel("CC", "2", "1"),
                       {"PlusLoad", "20", "2", "500", "500", "300", "100", "50", "NextStep"}});
        bool pressed = false;
        QObject::connect(&b.sim(), &LoadSimulator::lineLogged, &b.rc, [&](const SimLogEntry& e) {
            if (!pressed && e.line == trigger) {
                pressed = true;
                QTimer::singleShot(0, &b.rc, [&] { b.rc.StopCommand(); });
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

    void valuesNotMeasured_areEmptyFieldsAndCounted_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("currents"); // "n" where a phase's current is a number
        QTest::newRow("garbage") << int(SimFaults::ReplyForm::Garbage) << ",,";
        QTest::newRow("empty line") << int(SimFaults::ReplyForm::Empty) << ",,";
        QTest::newRow("one field") << int(SimFaults::ReplyForm::SingleField) << "n,,";
        QTest::newRow("no reply") << int(SimFaults::ReplyForm::None) << ",,";
    }
    void valuesNotMeasured_areEmptyFieldsAndCounted()
    {
        QFETCH(int, form);
        QFETCH(QString, currents);
        RunBench b(200);
        SimFaults faults;
        faults.form = static_cast<SimFaults::ReplyForm>(form);
        faults.only = QStringLiteral("GLOB:MEAS:CURR?");
        b.sim().setFaults(faults);
        b.program({loadLevel("CC", "5", "3")});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QList<QStringList> records = b.records();
        QVERIFY(!records.isEmpty());
        for (const QStringList& r : records) {
            QVERIFY(isNumberText(r[4]) && isNumberText(r[10])); // voltage and power were read
            QStringList shape = r.mid(7, 3);
            shape.replaceInStrings(QRegularExpression("^[0-9.]+$"), "n");
            QCOMPARE(shape.join(','), currents);
        }
        QCOMPARE(b.station().run.UnmeasuredValues, records.size() * (3 - currents.count('n')));
    }

    void stepsWithALongerMeasureTime_endAtTheirDwellTimes()
    {
        RunBench b(5);
        // 2 s with a measure time of 10 s from the pre-run; 0.6 s with 1e20 on the timer.
        b.program({loadLevel("CC", "1", "2", "10"),
                   {"DisCharge", "CC", "5", "0.6", "0", "0", "0", "1e20", "NextStep"},
                   loadLevel("CC", "2", "1")});
        QList<double> starts;
        QObject::connect(&b.rc, &RunControl::stepStarted, &b.rc,
                         [&] { starts << b.fixture.clock.monotonicMs() / 1000.0; });
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(starts.size(), 3);
        QVERIFY2(std::abs(starts[1] - starts[0] - 2) < 0.2, qPrintable(QString::number(starts[1])));
        QVERIFY2(std::abs(starts[2] - starts[1] - 0.6) < 0.2,
                 qPrintable(QString::number(starts[2])));
    }

    void runAcrossMidnight_keepsItsMeasuringInterval()
    {
        RunBench b(5);
        b.fixture.clock.setNow(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 57)));
        b.program({loadLevel("CC", "1", "6")});
        QCOMPARE(b.run(), RunEnd::Finished);
        const QList<QStringList> records = b.records();
        QVERIFY(records.size() >= 6);
        QTime previous = QTime::fromString(records[0][3], QStringLiteral("hh:mm:ss"));
        for (int i = 1; i < records.size(); ++i) {
            const QTime t = QTime::fromString(records[i][3], QStringLiteral("hh:mm:ss"));
            QCOMPARE((previous.secsTo(t) + 86400) % 86400, 1);
            previous = t;
        }
        QCOMPARE(records.last()[13], QStringLiteral("00:00:0%1").arg(records.size() - 1));
        QVERIFY(records.last()[3].startsWith(QLatin1String("00:00:")));
    }

    void noLoad_endsWithTheConnectErrorAndStop()
    {
        RunBench b(200);
        SimFaults silent;
        silent.form = SimFaults::ReplyForm::None;
        b.sim().setFaults(silent);
        b.program({loadLevel("CC", "1", "1")});
        const QString previous = keepPreviousLog(b);
        QCOMPARE(b.run(), RunEnd::ConnectError);
        QCOMPARE(readFile(previous), QByteArray("1,old\r\n")); // its name back, as it was
        QVERIFY(QDir(b.station().testLogDir()).entryList({"SN1_*"}).isEmpty());
        const QString why = QStringLiteral("Electronic Load Connect Error, Please check it.\n"
                                           "127.0.0.1:%1: no answer within 10 s")
                                .arg(b.sim().tcpPort());
        QCOMPARE(b.messages(), QStringList{why});
        QCOMPARE(b.station().form.RunStatus.text(), why);
        QCOMPARE(b.station().form.Frame2ForeColor.color(), gridcolors::Red);
        QCOMPARE(b.station().form.LoadCountLabel.text(), QStringLiteral("0"));
        QCOMPARE(b.received(), QStringList{"MEAS:VOLT?"});
    }

    void startsThatDoNotRun_leaveTheLogsAlone_data()
    {
        QTest::addColumn<QString>("sn");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("message");
        QTest::newRow("no steps") << "SN1" << 0 << "Please setup test step, then press START.";
        QTest::newRow("serial number with a path") << "../SN1" << 1 << "\"/\"";
    }
    void startsThatDoNotRun_leaveTheLogsAlone()
    {
        QFETCH(QString, sn);
        QFETCH(int, steps);
        QFETCH(QString, message);
        RunBench b;
        QList<QStringList> program;
        if (steps > 0)
            program << loadLevel("CC", "1", "1");
        b.program(program);
        b.station().form.SNText.setText(sn);
        const QString previous = keepPreviousLog(b);
        QCOMPARE(b.run(), RunEnd::Refused);
        QCOMPARE(b.messages().size(), 1);
        QVERIFY2(b.messages()[0].contains(message), qPrintable(b.messages()[0]));
        QVERIFY(b.received().isEmpty());
        QVERIFY(b.station().form.enabled("StartCommand").flag());
        QCOMPARE(readFile(previous), QByteArray("1,old\r\n"));
        QCOMPARE(QDir(b.station().testLogDir()).entryList({"SN1*"}), QStringList{"SN1.CSV"});
    }

    void emptySerialNumber_logsToNoSaveLogWithoutPreRunRecords()
    {
        RunBench b;
        b.station().form.SNText.setText(QString());
        b.program({loadLevel("CC", "1", "0"), loadLevel("CC", "2", "0")});
        QCOMPARE(b.run(), RunEnd::Finished);
        QCOMPARE(b.station().form.SNText.text(), QStringLiteral("NoSaveLog"));
        QCOMPARE(QFileInfo(b.station().run.LogFileName).fileName(),
                 QStringLiteral("NoSaveLog.CSV"));
        QCOMPARE(b.csv().size(), 1); // the header only
        QVERIFY(!b.received().contains("GLOB:MEAS:VOLT?"));
    }

    void editedGrid_isSavedBeforeTheRunAndACancelledSaveKeepsTheEdit()
    {
        RunBench b;
        b.program({loadLevel("CC", "1", "0")});
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

    void valuesTheLoadMustNotGet_refuseTheStartBeforeTheLog_data()
    {
        QTest::addColumn<QStringList>("step");
        QTest::addColumn<QString>("finding");
        QTest::newRow("CR 0") << loadLevel("CR", "0", "1")
                              << "Step 1, Value \"0\": Load Level must 0.533 ~ 10666(ohm) !";
        QTest::newRow("abc") << loadLevel("CC", "abc", "1")
                             << "Step 1, Value \"abc\": not a number";
    }
    void valuesTheLoadMustNotGet_refuseTheStartBeforeTheLog()
    {
        QFETCH(QStringList, step);
        QFETCH(QString, finding);
        RunBench b;
        const QString log = QDir(b.station().testLogDir()).filePath("SN1.CSV");
        QVERIFY(QDir().mkpath(b.station().testLogDir()));
        writeFile(log, "an earlier test\r\n");
        b.program({loadLevel("CC", "1", "0"), step});
        QCOMPARE(b.run(), RunEnd::Refused);
        QCOMPARE(b.messages().size(), 1);
        QVERIFY2(b.messages()[0].contains(finding.replace("Step 1", "Step 2")),
                 qPrintable(b.messages()[0]));
        QVERIFY(b.received().isEmpty());
        QCOMPARE(QDir(b.station().testLogDir()).entryList(QDir::Files), QStringList{"SN1.CSV"});
        QCOMPARE(readFile(log), QByteArray("an earlier test\r\n"));
    }

    void runningRow_isTheOnlyOneHighlighted_andTheRunsCountingIsNoEdit()
    {
        RunBench b(20);
        b.program({{"FOR", "", "", "", "2"},
                   loadLevel("CC", "1", "1"),
                   {"LOOP"},
                   loadLevel("CC", "2", "1")});
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

    void closingTheWindow_switchesOffAndClosesTheLog()
    {
        RunBench b(20);
        b.program({loadLevel("CC", "1", "600")});
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(b.records().size() >= 1, 30000);
        b.rc.windowClosing();
        QVERIFY(!b.rc.runTimer().isActive());
        QVERIFY(!b.rc.log().isOpen());
        QCOMPARE(commandsOf(b.received()).last(), QStringLiteral("LOAD OFF"));
    }
};

ACL3_TEST_MAIN(RunControlTest)
#include "tst_runcontrol.moc"
