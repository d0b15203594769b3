// The simulated load's commands, replies and source models on simulated time, without a link.

#include "loadsim/LoadInstrument.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

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
    // Commands (a leading "!" marks one the load must ignore), then queries and their replies.
    // The AC source is 230 V behind 0.2 ohm a phase; the battery 4.2 V behind 0.02 ohm.
    void commands_shapeTheReplies_data()
    {
        addColumns({"source", "commands", "queries", "replies"});
        addRows({
            "idle;ac;;GLOB:MEAS:VOLT?|GLOB:MEAS:CURR?;230.000,230.000,230.000,690.000|"
            "0.000,0.000,0.000,0.000",
            "CC, 10 A through 0.2 ohm;ac;CC:A 10|FREQ 60|MODE CC|LOAD ON;"
            "GLOB:MEAS:POW?|MEAS:POW?|MEAS:CURR?|GLOB:MEAS:VOLT?;"
            "2280.000,2280.000,2280.000,6840.000|2280.000|10.000|228.000,228.000,228.000,684.000",
            "LIN;ac;LIN:A 7|MODE LIN|LOAD ON;MEAS:CURR?|GLOB:MEAS:VOLT?;"
            "7.000|228.600,228.600,228.600,685.800",
            "CR, 230 / (22.8 + 0.2);ac;CR:A 22.8|MODE CR|LOAD ON;GLOB:MEAS:CURR?|MEAS:VOLT?;"
            "10.000,10.000,10.000,30.000|228.000",
            "CV, (230 - 220) / 0.2;ac;CV:A 220|MODE CV|LOAD "
            "ON;MEAS:CURR?|MEAS:VOLT?;50.000|220.000",
            "CV above the source;ac;CV:A 240|MODE CV|LOAD ON;MEAS:CURR?|MEAS:VOLT?;0.000|230.000",
            "CP, 228 V x 10 A;ac;CP:A 2280|MODE CP|LOAD ON;MEAS:CURR?|MEAS:VOLT?;10.000|228.000",
            "CP beyond the maximum-power point;ac;CP:A 1000000|MODE CP|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;575.000|115.000",
            "level B idle;ac;CC:A 2|CC:B 9|MODE CC|LOAD ON;MEAS:CURR?|MEAS:VOLT?;2.000|229.600",
            "load off;ac;CP:A 2280|MODE CP|LOAD ON|LOAD OFF;GLOB:MEAS:CURR?|GLOB:MEAS:POW?|"
            "MEAS:VOLT?;0.000,0.000,0.000,0.000|0.000,0.000,0.000,0.000|230.000",
            "levels read back;ac;CR:A 0.533|CR:B 40|LIN:B 4|FREQ 400|mode cr|LOAD ON;"
            "MODE?|LOAD?|CR:A?|CR:B?|LIN:B?|FREQ?;CR|ON|0.533|40|4|400",
            "pulse settings read back;ac;CCP:HIGH 30|PERD:HIGH 10|PERD:LOW 990|VTH 2.75|COUNT 3|"
            "LDON 0.8|CC "
            "AUTO;CCP:HIGH?|PERD:HIGH?|PERD:LOW?|VTH?|COUNT?|LDON?;30|10|990|2.75|3|0.8",
            "remote and blanks;ac;REM|REMOTE|remote|  cc:a   12.5  ;CC:A?;12.5",
            "unknown and malformed lines;ac;CC:A 4|MODE CV|!FOO|!GLOB:MEAS:FREQ?|!CC:A|!CC:A ten|"
            "!CC:C 5|!MODE XX|!;CC:A?|MODE?;4|CV",
            "battery feeds phase A only;battery;;GLOB:MEAS:VOLT?;4.200,0.000,0.000,4.200",
            "battery at 10 A;battery;CC:A 10|MODE CC|LOAD ON;"
            "GLOB:MEAS:VOLT?|GLOB:MEAS:CURR?|GLOB:MEAS:POW?;"
            "4.000,0.000,0.000,4.000|10.000,0.000,0.000,10.000|40.000,0.000,0.000,40.000",
            // 20 A would pull the cell to 3.8 V; at LDON 3.9 the load takes only 15 A.
            "load-on voltage limits the draw;battery;LDON 3.9|CC:A 20|MODE CC|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;15.000|3.900",
            "source below the load-on voltage;battery;LDON 4.5|CC:A 20|MODE CC|LOAD ON;"
            "MEAS:CURR?|MEAS:VOLT?;0.000|4.200",
        });
    }
    void commands_shapeTheReplies()
    {
        QFETCH(QString, source);
        QFETCH(QString, commands);
        QFETCH(QString, queries);
        QFETCH(QString, replies);
        LoadInstrument load = source == QLatin1String("ac") ? quietAc() : battery();
        for (const QString& line : commands.split(u'|', Qt::SkipEmptyParts)) {
            const bool ignored = line.startsWith(u'!');
            const auto outcome = load.execute(ignored ? line.mid(1) : line, 0);
            QVERIFY2(outcome.understood != ignored, qPrintable(line));
            QVERIFY(!outcome.reply);
        }
        QStringList got;
        for (const QString& query : queries.split(u'|'))
            got << ask(load, query);
        QCOMPARE(got.join(u'|'), replies);
    }

    void acNoise_staysWithinItsBoundAndTheTotalMatchesTheFields()
    {
        LoadInstrument load(SourceKind::Ac);
        load.source().setAc({230, 0.2, 0.5});
        QSet<QString> seen;
        for (int i = 0; i < 50; ++i) {
            const QStringList fields = ask(load, "GLOB:MEAS:VOLT?").split(',');
            double sum = 0;
            for (const QString& field : fields.mid(0, 3)) {
                QVERIFY2(qAbs(field.toDouble() - 230) <= 0.5, qPrintable(field));
                sum += field.toDouble();
            }
            QCOMPARE(fields.value(3), replyNumber(sum));
            seen += QSet<QString>(fields.begin(), fields.begin() + 3);
        }
        QVERIFY2(seen.size() > 10, "the readings vary");
    }

    void battery_dischargeReachesItsStopVoltageAndAmpereHours()
    {
        // 2 Ah from 4.2 V to 3.0 V at 1 A: under load the cell reads 0.02 V below its open
        // voltage. It reads below 3.5 V once 3.52 V open, i.e. (4.2 - 3.52) / 1.2 x 2 Ah =
        // 1.1333 Ah drawn, after 4080 s. It is empty, and draws nothing, after 7200 s.
        LoadInstrument load = battery(2);
        sendAll(load, {"CC:A 1", "MODE CC", "LOAD ON"});
        constexpr double kStepS = 10;
        double stopVoltageAt = -1;
        double emptyAt = -1;
        for (double t = kStepS; t <= 8000; t += kStepS) {
            const double volts = ask(load, "MEAS:VOLT?", t).toDouble();
            if (stopVoltageAt < 0 && volts < 3.5)
                stopVoltageAt = t;
            if (emptyAt < 0 && volts == 0) {
                emptyAt = t;
                QCOMPARE(ask(load, "MEAS:CURR?", t), QStringLiteral("0.000"));
            }
        }
        QVERIFY2(qAbs(stopVoltageAt - 4080) <= kStepS, qPrintable(QString::number(stopVoltageAt)));
        QVERIFY2(qAbs(emptyAt - 7200) <= kStepS, qPrintable(QString::number(emptyAt)));
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
        sendAll(load, {"COUNT 0", "VTH 200"}, 1);
        QVERIFY(load.execute("DYNC ON", 1).pulseStarted);
        QCOMPARE(load.pulseSeconds(), 0.0);
        QCOMPARE(load.finishPulse(1), QStringLiteral("OK,226.000,20.000"));
        // Twice this count does not fit an int; the sequence must still be under way.
        sendAll(load, {"CC:B 5", "COUNT 2147483647"}, 2);
        QVERIFY(load.execute("DYNC ON", 2).pulseStarted);
        QCOMPARE(ask(load, "MEAS:CURR?", 2.012), QStringLiteral("20.000"));
        // "DYNC OFF" ends a sequence without a result.
        QVERIFY(load.execute("DYNC OFF", 2.013).pulseStopped);
        QVERIFY(!load.state().pulseRunning);
        // Cycles without length are over at once, however many.
        sendAll(load, {"PERD:HIGH 0", "PERD:LOW 0", "DYNC ON"}, 3);
        QCOMPARE(ask(load, "MEAS:CURR?", 4), QStringLiteral("0.000"));
    }
};

ACL3_TEST_MAIN(LoadInstrumentTest)
#include "tst_loadinstrument.moc"
