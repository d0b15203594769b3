// Protects acl3-run: its exit codes, its output, its log, its check, its dry run and the load off
// at every way out.
#include "RunnerHarness.h"
#include "common/NumberText.h"
#include "execution/RunBench.h"
#include "station/StationFolder.h"
#include "support/SimStation.h"
#include "support/TestMain.h"

#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>

#include <sys/resource.h>

namespace {

const QString kLevel = QStringLiteral("LoadLevel|CC|5|1||||1||50");

// Step and Loop1 of every record: the sequence the run went through.
QStringList stepsOf(const QList<QStringList>& records)
{
    QStringList out;
    for (const QStringList& r : records)
        out << r.value(1) + QLatin1Char('/') + r.value(2);
    return out;
}

} // namespace

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        // program: steps split by "/", "!" a damaged file; out, err and csv: texts split by "|".
        addColumns({"program", "args", "exitCode", "out", "err", "csv"});
        addRows({
            "simulated;LoadLevel|CC|5|1||||1||50/LoadLevel|CR|50|1||||1||50;--simulate --sn R1;0;"
            "Step 1 of 2: LoadLevel CC 5|Step 2 of 2: LoadLevel CR 50;;No.,Step,Loop1,StepTime,|"
            ",CR\r\n",
            "warning goes on;LoadLevel|CC|5|1||||1||50/Suspend|||1|0|||1|EndLoop;--simulate --sn "
            "R1;0;estimated run time 00:00:02, about 3 records|the program ran to its end: 3 "
            "records;warning: Step 2, Go To \"EndLoop\": never followed;No.,Step",
            "missing program;;--program /nonexistent/p.INI --sn R1;2;;does not exist;",
            "unknown option;;--frobnicate --sn R1;2;;frobnicate;",
            "source without simulate;;--source ac --sn R1;2;;--source goes with --simulate;",
            "bad source;;--simulate --source dc --sn R1;2;;dc;",
            "refused serial number;;--simulate --sn ../x;2;;cannot name a log file;",
            "damaged program;!;--simulate --sn R1;2;;TotalStepCount;",
            "value the load must not get;LoadLevel|CR|0|1||||1||50;--simulate --sn R1;2;;Step 1, "
            "Value \"0\";",
            "check and dry run;;--check --dry-run;2;;together;",
            "check simulated;;--check --simulate;2;;--simulate;",
            "dry run at a speed;;--dry-run --speed 9;2;;--speed;",
            "check of a new station's example;;--check;0;estimated run time 00:00:23, about 25 "
            "records|0 errors, 0 warnings;;",
            "check warning;LoadLevel|CC|5|1||||1||50/DisCharge|CC|5|3600|0|0|0|1|NextStep;--check;"
            "0;warning: Step 2, Dwell Time(s) \"3600\": a discharge with neither a stop value nor "
            "a stop charge runs all of its 3600 s|estimated run time 01:00:01, about 3,602 "
            "records|0 errors, 1 warning;;",
            "check error;LoadLevel|CR|0|1||||1||50;--check;2;error: Step 1, Value \"0\": Load "
            "Level must 0.533 ~ 10666(ohm) !|1 error, 0 warnings: the program would not be run;;",
            "check of a damaged file;!;--check;2;TotalStepCount of [TestStep Option] is \"many\", "
            "not a whole number|1 error, 0 warnings;;",
            "no load answering;LoadLevel|CC|5|1||||1||50;--sn R1;3;;Electronic Load Connect "
            "Error, Please check it.;",
        });
    }
    void run()
    {
        QFETCH(QString, program);
        QFETCH(QString, args);
        QFETCH(QString, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, csv);
        // The program's load takes connections and never answers: only a real run may reach it.
        QTcpServer load;
        QVERIFY(load.listen(QHostAddress::LocalHost));
        Runner r;
        QStringList arguments = args.split(u' ');
        if (program == "!")
            writeFile(r.path("p.INI"), "[TestStep Option]\r\nTotalStepCount=many\r\n");
        else if (!program.isEmpty())
            writeFile(r.path("p.INI"), runProgram(program.split(u'/'), loadAt(load.serverPort())));
        if (!program.isEmpty())
            arguments << "--program" << r.path("p.INI");
        const bool simulated = arguments.contains("--simulate");
        if (simulated)
            arguments << "--sim-log" << r.path("sim.log");
        r.run(arguments);
        QCOMPARE(r.exitCode, exitCode.toInt());
        for (const QString& line : out.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(r.out.contains(line), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        QCOMPARE(load.waitForNewConnection(0), exitCode == "3");
        if (csv.isEmpty())
            QCOMPARE(QDir(r.path("station/TestLog")).entryList({"*.CSV"}), QStringList());
        else
            QVERIFY2(r.out.contains("records in " + QDir::toNativeSeparators(r.logPath("R1"))),
                     qPrintable(r.out));
        for (const QString& part : csv.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(r.log("R1").contains(part), qPrintable(r.log("R1")));
        if (simulated) {
            const QByteArray sim = readFile(r.path("sim.log")).trimmed();
            QVERIFY(exitCode == "2" ? sim.isEmpty() : sim.endsWith("\tLOAD OFF"));
        }
        // The station's settings do not learn the program it ran.
        QVERIFY(!readFile(r.path("station/ACL3.INI")).contains("TestFileName01"));
    }

    void runWithoutALog_saysSoOnItsFirstLine()
    {
        Runner r;
        QVERIFY(QDir().mkpath(r.path("station/TestLog"))); // a station without its ACL3.INI
        // Loop markers alone: a progress line a second at most, not one per marker.
        writeFile(r.path("p.INI"), runProgram({"FOR||||20000", "LOOP", kLevel}));
        r.run({"--program", r.path("p.INI"), "--simulate"});
        QCOMPARE(r.exitCode, 0);
        const QString first = r.out.section('\n', 0, 0);
        QVERIFY2(first.contains("No CSV log") && first.contains("ACL3.INI does not exist"),
                 qPrintable(first));
        QVERIFY2(r.out.count("Step ") < 10, qPrintable(r.out.left(2000)));
    }

    void lostLoad_isReachedAgainOrTheRunEndsWithFour_data()
    {
        QTest::addColumn<QString>("afterDrop");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("accepting again") << "accept" << 0;
        QTest::newRow("never answering again") << "silent" << 4;
    }
    void lostLoad_isReachedAgainOrTheRunEndsWithFour()
    {
        QFETCH(QString, afterDrop);
        QFETCH(int, exitCode);
        Runner r;
        LoadSimProgram sim(
            {"--drop-after", "31", "--after-drop", afterDrop, "--log", r.path("sim.log")});
        QVERIFY(QDir().mkpath(r.path("station")));
        writeFile(r.path("station/ACL3.INI"),
                  defaultSettingsFile().replace("ReconnectSeconds=300", "ReconnectSeconds=2"));
        writeFile(r.path("p.INI"), runProgram({"LoadLevel|CC|5|6||||1||50"}, loadAt(sim.port)));
        r.run({"--program", r.path("p.INI"), "--sn", "L1"});
        QCOMPARE(r.exitCode, exitCode);
        const QList<QStringList> records = r.records("L1");
        for (const QStringList& record : records) // measured values only, none from the gap
            QVERIFY2(parseNumber(record.value(4)) > 200, qPrintable(record.join(',')));
        if (exitCode == 0) {
            QVERIFY2(r.out.contains("load out of reach 1 time(s) for "), qPrintable(r.out));
            QVERIFY2(r.out.contains(
                         QStringLiteral("attempt 1: 127.0.0.1:%1 answers again").arg(sim.port)),
                     qPrintable(r.out));
            // Lost at the fourth second: the rest of the six, not six again (a loaded machine may
            // miss a second or two on either side of the gap).
            QVERIFY2(records.size() >= 3 && records.size() <= 7, qPrintable(r.log("L1")));
            return;
        }
        QVERIFY2(r.out.contains("the load was lost"), qPrintable(r.out));
        QVERIFY2(r.err.contains("did not answer again within 2 s"), qPrintable(r.err));
        QVERIFY(readFile(r.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
    }

    void sigterm_duringTheConnectionAttempt_stopsAtOnce()
    {
        Runner r;
        // A loopback port where nothing listens: the attempts go on for ten seconds.
        writeFile(r.path("p.INI"), runProgram({kLevel}, loadAt(stationPort())));
        r.signalWhen({"--program", r.path("p.INI"), "--sn", "C1"}, SIGTERM, [&] {
            r.out += QString::fromLocal8Bit(r.process.readAllStandardOutput());
            return r.out.contains("connecting to the load at 127.0.0.1:");
        });
        QCOMPARE(r.exitCode, 128 + SIGTERM);
        QVERIFY2(!r.err.contains("Electronic Load Connect Error"), qPrintable(r.err));
        QVERIFY(!QFile::exists(r.logPath("C1"))); // nothing was recorded
    }

    void signal_stopsTheRunWithTheLoadOffAndTheLogClosed_data()
    {
        QTest::addColumn<int>("signo");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGQUIT") << SIGQUIT;
    }
    void signal_stopsTheRunWithTheLoadOffAndTheLogClosed()
    {
        QFETCH(int, signo);
        Runner r;
        writeFile(r.path("long.INI"), runProgram({"LoadLevel|CC|5|600||||1||50"}));
        // Sent after the first timed measurement.
        r.signalWhen({"--program", r.path("long.INI"), "--simulate", "--sn", "S1", "--sim-log",
                      r.path("sim.log")},
                     signo, [&] { return r.log("S1").count("\r\n") >= 3; });
        QCOMPARE(r.exitCode, 128 + signo);
        QVERIFY(readFile(r.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
        QVERIFY(r.log("S1").endsWith("\r\n")); // whole lines only
        QVERIFY2(r.out.contains("the test was stopped"), qPrintable(r.out));
    }

    void fullDisk_stopsTheRunWithOneAndWholeRecords()
    {
        Runner r;
        writeFile(r.path("fast.INI"), runProgram({"LoadLevel|CC|5|600||||0.1||50"}));
        // A file size limit stands in for a full disk.
        r.process.setChildProcessModifier([] {
            const rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        r.run({"--program", r.path("fast.INI"), "--simulate", "--sn", "F1"});
        QCOMPARE(r.exitCode, 1);
        const QString log = r.log("F1");
        QVERIFY(log.endsWith("\r\n"));
        const QString records = QString::number(log.count("\r\n") - 1);
        QVERIFY2(r.out.contains(": " + records + " records in"), qPrintable(r.out));
        QVERIFY2(r.err.contains("F1.CSV: File too large") && r.err.contains(records + " records"),
                 qPrintable(r.err));
    }

    void secondRunOnTheStationFolder_isRefusedByTheLock()
    {
        Runner first;
        writeFile(first.path("long.INI"), runProgram({"LoadLevel|CC|5|600||||1||50"}));
        first.start({"--program", first.path("long.INI"), "--simulate", "--sn", "L1"});
        QTRY_VERIFY_WITH_TIMEOUT(first.log("L1").count("\r\n") >= 2, 30000);
        Runner second;
        second.run({"--station", first.path("station"), "--program", first.path("long.INI"),
                    "--simulate", "--sn", "L1"});
        QCOMPARE(second.exitCode, 2);
        QVERIFY2(
            second.err.contains("acl3-run (process " + QString::number(first.process.processId())),
            qPrintable(second.err));
        // The first run's open log was left alone.
        QCOMPARE(QDir(first.path("station/TestLog")).entryList({"L1_*"}).size(), 0);
        ::kill(static_cast<pid_t>(first.process.processId()), SIGTERM);
        first.finish();
        QCOMPARE(first.exitCode, 128 + SIGTERM);
    }

    void dryRun_hasTheStepsAndRecordsOfARealRun_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("source");
        // Loops, a ramp, pulse loads that pass (stop voltage 100 V) and fail (300 V; Continue
        // skips step 10), discharges on the AC source.
        QTest::newRow("ac") << QStringList{"LoadLevel|CC|0|0||||1||50",
                                           "RAMP ON|CC|10|2||||1",
                                           kLevel,
                                           "FOR||||2",
                                           "FOR2||||2",
                                           "PlusLoad|20|2|50|50|100|3|50|EndLoop2",
                                           "DisCharge|CC|5|1|0|0|0|1|NextStep",
                                           "LOOP2",
                                           "PlusLoad|20|2|50|50|300|3|50|Continue",
                                           "DisCharge|CC|9|1|0|0|0|1|NextStep",
                                           "LOOP",
                                           "Suspend|||1|0|||1|NextStep"}
                            << int(SourceKind::Ac);
        // At 112.5 A the cell falls by 7.5 mV a second; it passes 1.902 V halfway between two
        // measurements, after about 7 s.
        QTest::newRow("battery") << QStringList{"Suspend|||1|0|||1|NextStep",
                                                "DisCharge|CC|112.5|600|1.902|0|0|1|NextStep",
                                                "Suspend|||1|0|||1|NextStep"}
                                 << int(SourceKind::Battery);
    }
    void dryRun_hasTheStepsAndRecordsOfARealRun()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, source);
        // A real run keeps its measuring instants only while no tick comes a measure time late:
        // on a busy machine, at twice real time.
        constexpr double kSpeed = 2;
        RunBench real(kSpeed, SourceKind(source));
        real.sim().setSpeed(kSpeed);
        QList<QStringList> fields;
        for (const QString& s : steps)
            fields << s.split(QLatin1Char('|'));
        real.program(fields);
        QCOMPARE(real.run(), RunEnd::Finished);

        Runner r;
        writeFile(r.path("p.INI"), runProgram(steps));
        r.run({"--program", r.path("p.INI"), "--dry-run", "--sn", "D1", "--source",
               source == int(SourceKind::Battery) ? "battery" : "ac"});
        QCOMPARE(r.exitCode, 0);
        const auto csv = QRegularExpression(" records in (\\S+D1\\.CSV)").match(r.out);
        QVERIFY2(csv.hasMatch() && !csv.captured(1).startsWith(r.dir.path()), qPrintable(r.out));
        QList<QStringList> dry;
        for (const QString& line :
             QString::fromUtf8(readFile(csv.captured(1))).split("\r\n", Qt::SkipEmptyParts).mid(1))
            dry << line.split(QLatin1Char(','));
        QCOMPARE(stepsOf(dry), stepsOf(real.records()));
        QVERIFY(dry.size() > 5);
        QVERIFY(QDir(QDir::cleanPath(QFileInfo(csv.captured(1)).absolutePath() + "/../.."))
                    .removeRecursively());
    }
};

ACL3_TEST_MAIN(RunnerTest)
#include "tst_runner.moc"
