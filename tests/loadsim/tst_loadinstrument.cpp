// The simulated load's commands, replies and source models on simulated time, without a link.

#include "loadsim/LoadInstrument.h"
#include "support/TestMain.h"

namespace {
// An AC source without reading noise, so that every reading is exact.
LoadInstrument quietAc()
{
    LoadInstrument load(SourceKind::Ac);
    load.source().setAc({230, 0.2, 0});
    return load;
}

LoadInstrument battery(double capacityAh = 5)
{
    LoadInstrument load(SourceKind::Battery);
    load.source().setBattery({capacityAh, 4.2, 3.0, 0.02});
    return load;
}

QString ask(LoadInstrument& load, const QString& line, double atS = 0)
{
    const auto outcome = load.execute(line, atS);
    return outcome.reply.value_or(QStringLiteral("<none>"));
}

void sendAll(LoadInstrument& load, const QStringList& lines, double atS = 0)
{
    for (const QString& line : lines)
        QVERIFY2(load.execute(line, atS).understood, qPrintable(line));
}
} // namespace

class LoadInstrumentTest : public QObject
{
    Q_OBJECT

private slots:
    void queries_giveOneNumberOrThreePhasesAndTotal()
    {
        LoadInstrument load = quietAc();
        QCOMPARE(ask(load, "GLOB:MEAS:VOLT?"), QStringLiteral("230.000,230.000,230.000,690.000"));
        sendAll(load, {"CC:A 10", "FREQ 60", "MODE CC", "LOAD ON"});
        // 10 A in every phase through 0.2 ohm: 228 V, 2280 W a phase.
        QCOMPARE(ask(load, "GLOB:MEAS:POW?"),
                 QStringLiteral("2280.000,2280.000,2280.000,6840.000"));
        QCOMPARE(ask(load, "MEAS:POW?"), QStringLiteral("2280.000"));
        QCOMPARE(ask(load, "MEAS:CURR?"), QStringLiteral("10.000"));
    }

    void acNoise_staysWithinItsBoundAndTheTotalMatchesTheFields()
    {
        LoadInstrument load(SourceKind::Ac);
        load.source().setAc({230, 0.2, 0.5});
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QStringList fields = ask(load, "GLOB:MEAS:VOLT?").split(',');
            QCOMPARE(fields.size(), 4);
            double sum = 0;
            for (int phase = 0; phase < 3; ++phase) {
                const double v = fields[phase].toDouble();
                QVERIFY2(v >= 229.5 && v <= 230.5, qPrintable(fields[phase]));
                sum += v;
                seen << fields[phase];
            }
            QCOMPARE(fields[3], replyNumber(sum));
        }
        QVERIFY2(seen.size() > 10, "the readings vary");
    }

    void modes_drawWhatTheirLevelAsks_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("amps");
        QTest::addColumn<QString>("volts");
        // Source: 230 V behind 0.2 ohm a phase.
        QTest::newRow("CC") << QStringList{"CC:A 10", "MODE CC"} << "10.000"
                            << "228.000";
        QTest::newRow("LIN") << QStringList{"LIN:A 7", "MODE LIN"} << "7.000"
                             << "228.600";
        // 230 / (22.8 + 0.2) = 10 A.
        QTest::newRow("CR") << QStringList{"CR:A 22.8", "MODE CR"} << "10.000"
                            << "228.000";
        // Holding 220 V takes (230 - 220) / 0.2 = 50 A.
        QTest::newRow("CV") << QStringList{"CV:A 220", "MODE CV"} << "50.000"
                            << "220.000";
        QTest::newRow("CV above the source") << QStringList{"CV:A 240", "MODE CV"} << "0.000"
                                             << "230.000";
        // 2280 W = 228 V x 10 A.
        QTest::newRow("CP") << QStringList{"CP:A 2280", "MODE CP"} << "10.000"
                            << "228.000";
        // Beyond the source's maximum power: its maximum-power point, 575 A at 115 V.
        QTest::newRow("CP too high") << QStringList{"CP:A 1000000", "MODE CP"} << "575.000"
                                     << "115.000";
        // Level B is not the active level.
        QTest::newRow("level B idle") << QStringList{"CC:A 2", "CC:B 9", "MODE CC"} << "2.000"
                                      << "229.600";
    }

    void modes_drawWhatTheirLevelAsks()
    {
        QFETCH(QStringList, commands);
        QFETCH(QString, amps);
        QFETCH(QString, volts);
        LoadInstrument load = quietAc();
        sendAll(load, commands + QStringList{"LOAD ON"});
        QCOMPARE(ask(load, "GLOB:MEAS:CURR?").section(',', 0, 0), amps);
        QCOMPARE(ask(load, "GLOB:MEAS:VOLT?").section(',', 2, 2), volts);

        QVERIFY(load.execute("LOAD OFF", 0).understood);
        QCOMPARE(ask(load, "GLOB:MEAS:CURR?"), QStringLiteral("0.000,0.000,0.000,0.000"));
        QCOMPARE(ask(load, "GLOB:MEAS:POW?"), QStringLiteral("0.000,0.000,0.000,0.000"));
        QCOMPARE(ask(load, "MEAS:VOLT?"), QStringLiteral("230.000"));
    }

    void settings_areKeptAndReadBack()
    {
        LoadInstrument load = quietAc();
        sendAll(load, {"CR:A 0.533", "CR:B 40", "LIN:B 4", "FREQ 400", "CCP:HIGH 30",
                       "PERD:HIGH 10", "PERD:LOW 990", "VTH 2.75", "COUNT 3", "LDON 0.8", "CC AUTO",
                       "mode cr", "LOAD ON"});
        const LoadState& s = load.state();
        QCOMPARE(s.level(LoadMode::CR).b, 40.0);
        QCOMPARE(s.frequency, 400.0);
        QVERIFY(s.ccAuto);
        QCOMPARE(s.pulse.highAmps, 30.0);
        QCOMPARE(s.pulse.highMs, 10.0);
        QCOMPARE(s.pulse.lowMs, 990.0);
        QStringList replies;
        for (const char* q : {"MODE?", "LOAD?", "CR:A?", "LIN:B?", "VTH?", "COUNT?", "LDON?"})
            replies << ask(load, q);
        QCOMPARE(replies, QStringList({"CR", "ON", "0.533", "4", "2.75", "3", "0.8"}));
    }

    void unknownAndMalformedLines_areIgnored_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown word") << "FOO";
        QTest::newRow("unknown query") << "GLOB:MEAS:FREQ?";
        QTest::newRow("level without value") << "CC:A";
        QTest::newRow("level with text") << "CC:A ten";
        QTest::newRow("no such register") << "CC:C 5";
        QTest::newRow("no such mode") << "MODE XX";
        QTest::newRow("empty") << "";
    }

    void unknownAndMalformedLines_areIgnored()
    {
        QFETCH(QString, line);
        LoadInstrument load = quietAc();
        sendAll(load, {"CC:A 4", "MODE CV"});
        const auto outcome = load.execute(line, 0);
        QVERIFY(!outcome.understood);
        QVERIFY(!outcome.reply);
        QCOMPARE(load.state().level(LoadMode::CC).a, 4.0);
        QCOMPARE(load.state().mode, LoadMode::CV);
    }

    void remoteCommandsAndBlanks_areAcceptedSilently()
    {
        LoadInstrument load = quietAc();
        for (const char* line : {"REM", "REMOTE", "remote"}) {
            const auto outcome = load.execute(line, 0);
            QVERIFY(outcome.understood);
            QVERIFY(!outcome.reply);
        }
        QVERIFY(load.execute("  cc:a   12.5  ", 0).understood);
        QCOMPARE(load.state().level(LoadMode::CC).a, 12.5);
    }

    void battery_feedsPhaseAOnly()
    {
        LoadInstrument load = battery();
        QCOMPARE(ask(load, "GLOB:MEAS:VOLT?"), QStringLiteral("4.200,0.000,0.000,4.200"));
        sendAll(load, {"CC:A 10", "MODE CC", "LOAD ON"});
        // 10 A through 0.02 ohm.
        QCOMPARE(ask(load, "GLOB:MEAS:VOLT?"), QStringLiteral("4.000,0.000,0.000,4.000"));
        QCOMPARE(ask(load, "GLOB:MEAS:CURR?"), QStringLiteral("10.000,0.000,0.000,10.000"));
        QCOMPARE(ask(load, "GLOB:MEAS:POW?"), QStringLiteral("40.000,0.000,0.000,40.000"));
    }

    void loadOnVoltage_limitsWhatTheLoadDraws()
    {
        LoadInstrument load = battery();
        // 20 A would pull the cell to 3.8 V; with LDON 3.9 the load takes only 15 A.
        sendAll(load, {"LDON 3.9", "CC:A 20", "MODE CC", "LOAD ON"});
        QCOMPARE(ask(load, "MEAS:CURR?"), QStringLiteral("15.000"));
        QCOMPARE(ask(load, "MEAS:VOLT?"), QStringLiteral("3.900"));
        // A source below the load-on voltage gives nothing.
        QVERIFY(load.execute("LDON 4.5", 0).understood);
        QCOMPARE(ask(load, "MEAS:CURR?"), QStringLiteral("0.000"));
        QCOMPARE(ask(load, "MEAS:VOLT?"), QStringLiteral("4.200"));
    }

    void battery_dischargeReachesItsStopVoltageAndAmpereHours()
    {
        // 2 Ah from 4.2 V to 3.0 V, 1 A: under load the cell reads 0.02 V below its open
        // voltage. It reads below 3.5 V once 3.52 V open, i.e. (4.2 - 3.52) / 1.2 x 2 Ah =
        // 1.1333 Ah, drawn, after 4080 s. It is empty after 7200 s.
        LoadInstrument load = battery(2);
        sendAll(load, {"CC:A 1", "MODE CC", "LOAD ON"});
        constexpr double kStepS = 10;
        double ampereHours = 0;
        double stopVoltageAt = -1;
        double ahAtStopVoltage = 0;
        double emptyAt = -1;
        for (double t = kStepS; t <= 8000; t += kStepS) {
            const double volts = ask(load, "MEAS:VOLT?", t).toDouble();
            const double amps = ask(load, "MEAS:CURR?", t).toDouble();
            ampereHours += amps * kStepS / 3600;
            if (stopVoltageAt < 0 && volts < 3.5) {
                stopVoltageAt = t;
                ahAtStopVoltage = ampereHours;
            }
            if (emptyAt < 0 && volts == 0) {
                emptyAt = t;
                QCOMPARE(amps, 0.0);
            }
        }
        QVERIFY2(qAbs(stopVoltageAt - 4080) <= kStepS, qPrintable(QString::number(stopVoltageAt)));
        QVERIFY2(qAbs(ahAtStopVoltage - 1.1333) < 0.005,
                 qPrintable(QString::number(ahAtStopVoltage)));
        QVERIFY2(qAbs(emptyAt - 7200) <= kStepS, qPrintable(QString::number(emptyAt)));
        QVERIFY2(qAbs(ampereHours - 2.0) < 0.005, qPrintable(QString::number(ampereHours)));
        QCOMPARE(load.source().drawnAh(), 2.0);

        // Nothing is drawn while the load is off, and a fresh cell is full again.
        LoadInstrument idle = battery(2);
        QVERIFY(idle.execute("CC:A 1", 0).understood);
        idle.advanceTo(3600);
        QCOMPARE(idle.source().drawnAh(), 0.0);
        load.reset(9000);
        QCOMPARE(ask(load, "MEAS:VOLT?", 9000), QStringLiteral("4.200"));
    }

    void pulse_reportsOkOrNgFromTheLowestVoltageUnderTheHighCurrent()
    {
        // Five cycles of 100 ms at 20 A and 100 ms at 1 A on a 5 Ah cell. At the end of the
        // last high segment (20 x 0.5 + 1 x 0.4) / 3600 Ah are drawn: 4.199307 V open,
        // 3.799307 V under 20 A.
        for (const auto& [vth, expected] :
             {std::pair{3.5, "OK,3.799,20.000"}, std::pair{3.8, "NG,3.799,20.000"}}) {
            LoadInstrument load = battery();
            sendAll(load,
                    {"CCP:HIGH 20", "CC:B 1", "PERD:HIGH 100", "PERD:LOW 100",
                     QStringLiteral("VTH %1").arg(vth), "COUNT 5"},
                    10);
            const auto start = load.execute("DYNC ON", 10);
            QVERIFY(start.pulseStarted);
            QVERIFY(!start.reply);
            QCOMPARE(load.pulseSeconds(), 1.0);
            QVERIFY(load.state().pulseRunning);
            // High, then low segments: the load draws CCP:HIGH, then CC:B.
            QCOMPARE(ask(load, "MEAS:CURR?", 10.05), QStringLiteral("20.000"));
            QCOMPARE(ask(load, "MEAS:CURR?", 10.15), QStringLiteral("1.000"));
            QCOMPARE(load.finishPulse(11), QString::fromLatin1(expected));
            QVERIFY(!load.state().pulseRunning);
            QCOMPARE(ask(load, "MEAS:CURR?", 11.5), QStringLiteral("0.000"));
        }
    }

    void pulse_onTheAcSourceAndItsEdges()
    {
        LoadInstrument load = quietAc();
        sendAll(load,
                {"CCP:HIGH 20", "CC:B 0", "PERD:HIGH 5", "PERD:LOW 5", "VTH 226.5", "COUNT 2"});
        QVERIFY(load.execute("DYNC ON", 0).pulseStarted);
        // A second start while it runs changes nothing.
        QVERIFY(!load.execute("DYNC ON", 0.001).pulseStarted);
        QCOMPARE(load.finishPulse(0.02), QStringLiteral("NG,226.000,20.000"));

        // No cycles: the result comes from the high current at once.
        QVERIFY(load.execute("COUNT 0", 1).understood);
        QVERIFY(load.execute("VTH 200", 1).understood);
        QVERIFY(load.execute("DYNC ON", 1).pulseStarted);
        QCOMPARE(load.pulseSeconds(), 0.0);
        QCOMPARE(load.finishPulse(1), QStringLiteral("OK,226.000,20.000"));

        // "DYNC OFF" ends a sequence without a result.
        QVERIFY(load.execute("COUNT 100", 2).understood);
        QVERIFY(load.execute("DYNC ON", 2).pulseStarted);
        QVERIFY(load.execute("DYNC OFF", 2.001).pulseStopped);
        QVERIFY(!load.state().pulseRunning);
    }

    void pulse_ofTheLargestCountRunsItsCycles()
    {
        // Twice this count does not fit an int; the sequence must still be under way.
        LoadInstrument load = quietAc();
        sendAll(load, {"CCP:HIGH 20", "CC:B 5", "PERD:HIGH 5", "PERD:LOW 5", "COUNT 2147483647"});
        QVERIFY(load.execute("DYNC ON", 0).pulseStarted);
        QCOMPARE(ask(load, "GLOB:MEAS:CURR?", 0.012),
                 QStringLiteral("20.000,20.000,20.000,60.000"));
        // Cycles without length are over at once, however many.
        sendAll(load, {"DYNC OFF", "PERD:HIGH 0", "PERD:LOW 0", "DYNC ON"}, 1);
        QCOMPARE(ask(load, "GLOB:MEAS:CURR?", 2), QStringLiteral("0.000,0.000,0.000,0.000"));
    }
};

ACL3_TEST_MAIN(LoadInstrumentTest)
#include "tst_loadinstrument.moc"
