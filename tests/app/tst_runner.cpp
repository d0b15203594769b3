// Protects acl3-run: its exit codes, its output, its log and the load off at every way out.
#include "common/NumberText.h"
#include "station/StationFolder.h"
#include "support/SimStation.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray program(const QStringList& steps, const QByteArray& link = {})
{
    return programFile(steps, "MeasureTime=1\r\n", link);
}

struct Runner
{
    QTemporaryDir dir;
    QProcess process;
    int exitCode = -1;
    QString out;
    QString err;

    QString path(const QString& name) const { return dir.filePath(name); }

    void start(const QStringList& args)
    {
        process.setProgram(QStringLiteral(ACL3_RUN_PATH));
        process.setArguments(QStringList{"--station", path("station")} + args);
        process.start();
        QVERIFY(process.waitForStarted());
    }
    void finish(int timeoutMs = 60000)
    {
        QVERIFY(process.waitForFinished(timeoutMs));
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err += QString::fromLocal8Bit(process.readAllStandardError());
    }
    void run(const QStringList& args, int timeoutMs = 60000)
    {
        start(args);
        finish(timeoutMs);
    }
    QString log(const QString& sn) const
    {
        return QString::fromUtf8(readFile(dir.filePath("station/TestLog/" + sn + ".CSV")));
    }
};

const QString kTwoSteps = QStringLiteral("LoadLevel|CC|5|1||||1||50");

QByteArray loadAt(quint16 port)
{
    return "[Load1 Option]\r\nIP=127.0.0.1\r\nPORT=" + QByteArray::number(port) + "\r\n";
}

// acl3-loadsim as a program of its own, on a free loopback port.
struct LoadSimProgram
{
    explicit LoadSimProgram(const QStringList& options)
    {
        process.start(QStringLiteral(ACL3_LOADSIM_PATH), QStringList{"--tcp", "0"} + options);
        process.waitForReadyRead(10000);
        port = QString::fromLocal8Bit(process.readLine()).section(':', -1).trimmed().toUShort();
    }
    ~LoadSimProgram()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
    quint16 port = 0;
};

} // namespace

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void simulatedRun_ofAGivenProgramEndsWithZeroAndItsLog()
    {
        Runner r;
        writeFile(r.path("short.INI"),
                  program({"LoadLevel|CC|5|1||||1||50", "LoadLevel|CR|50|1||||1||50"}));
        r.run({"--program", r.path("short.INI"), "--sn", "T1", "--simulate", "--sim-log",
               r.path("sim.log")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("Step 1 of 2: LoadLevel CC 5"), qPrintable(r.out));
        QVERIFY(r.out.contains("Step 2 of 2: LoadLevel CR 50"));
        const QString csvPath = QDir::toNativeSeparators(r.path("station/TestLog/T1.CSV"));
        QVERIFY2(r.out.contains("records in " + csvPath), qPrintable(r.out));
        const QStringList lines = r.log("T1").split("\r\n", Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 4);
        QVERIFY(lines[0].startsWith("No.,Step,Loop1,StepTime,"));
        QVERIFY(lines.last().endsWith(",CR"));
        // The station's settings do not learn the program it ran.
        QVERIFY(!readFile(r.path("station/ACL3.INI")).contains("TestFileName01"));
        const QByteArray sim = readFile(r.path("sim.log"));
        QVERIFY(sim.contains("\tMEAS:VOLT?\n"));
        QVERIFY(sim.trimmed().endsWith("\tLOAD OFF"));
    }

    void refusedInput_exitsWithTwoBeforeTheLoadGetsALine_data()
    {
        QTest::addColumn<QString>("program"); // "" for none; step lines separated by "/"
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing program")
            << "" << QStringList{"--program", "/nonexistent/p.INI"} << "does not exist";
        QTest::newRow("unknown option") << "" << QStringList{"--frobnicate"} << "frobnicate";
        QTest::newRow("source without simulate")
            << "" << QStringList{"--source", "ac"} << "--source goes with --simulate";
        const QStringList sim = {"--simulate"};
        QTest::newRow("bad source") << "" << sim + QStringList{"--source", "dc"} << "dc";
        QTest::newRow("refused serial number")
            << "" << sim + QStringList{"--sn", "../x"} << "cannot name a log file";
        QTest::newRow("refused program file") << "!" << sim << "TotalStepCount";
        QTest::newRow("value the load must not get")
            << "LoadLevel|CR|0|1||||1||50" << sim << "Step 1, Value \"0\"";
    }
    void refusedInput_exitsWithTwoBeforeTheLoadGetsALine()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        Runner r;
        if (program == "!")
            writeFile(r.path("p.INI"), "[TestStep Option]\nTotalStepCount=many\n");
        else if (!program.isEmpty())
            writeFile(r.path("p.INI"), ::program(program.split(u'/')));
        if (!program.isEmpty())
            args << "--program" << r.path("p.INI");
        if (!args.contains("--sn"))
            args << "--sn"
                 << "R1";
        if (args.contains("--simulate"))
            args << "--sim-log" << r.path("sim.log");
        r.run(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        if (args.contains("--simulate")) {
            QVERIFY(readFile(r.path("sim.log")).trimmed().isEmpty());
            QVERIFY(!QFile::exists(r.path("station/TestLog/R1.CSV")));
        }
    }

    void noLoadAnswering_exitsWithThree()
    {
        // A load on loopback that takes the connection and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(
            QHostAddress::LocalHost,
            static_cast<quint16>(20000 + QRandomGenerator::global()->bounded(12000))));
        Runner r;
        writeFile(r.path("p.INI"), program({kTwoSteps}, loadAt(silent.serverPort())));
        r.run({"--program", r.path("p.INI"), "--sn", "N1"}, 60000);
        QCOMPARE(r.exitCode, 3);
        QVERIFY2(r.err.contains("Electronic Load Connect Error, Please check it."),
                 qPrintable(r.err));
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
        writeFile(r.path("p.INI"), program({"LoadLevel|CC|5|6||||1||50"}, loadAt(sim.port)));
        r.run({"--program", r.path("p.INI"), "--sn", "L1"}, 120000);
        QCOMPARE(r.exitCode, exitCode);
        const QStringList records = r.log("L1").split("\r\n", Qt::SkipEmptyParts).mid(1);
        for (const QString& record : records) // measured values only, none from the gap
            QVERIFY2(parseNumber(record.section(',', 4, 4)) > 200, qPrintable(record));
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
        writeFile(r.path("p.INI"), program({kTwoSteps}, loadAt(stationPort())));
        r.start({"--program", r.path("p.INI"), "--sn", "C1"});
        QTRY_VERIFY_WITH_TIMEOUT(
            (r.out += QString::fromLocal8Bit(r.process.readAllStandardOutput()))
                .contains("connecting to the load at 127.0.0.1:"),
            10000);
        ::kill(static_cast<pid_t>(r.process.processId()), SIGTERM);
        r.finish();
        QCOMPARE(r.exitCode, 128 + SIGTERM);
        QVERIFY2(!r.err.contains("Electronic Load Connect Error"), qPrintable(r.err));
        QVERIFY(!QFile::exists(r.path("station/TestLog/C1.CSV"))); // nothing was recorded
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
        writeFile(r.path("long.INI"), program({"LoadLevel|CC|5|600||||1||50"}));
        r.start({"--program", r.path("long.INI"), "--simulate", "--sn", "S1", "--sim-log",
                 r.path("sim.log")});
        // Wait for the first timed measurement.
        QTRY_VERIFY_WITH_TIMEOUT(r.log("S1").count("\r\n") >= 3, 30000);
        ::kill(static_cast<pid_t>(r.process.processId()), signo);
        r.finish();
        QCOMPARE(r.exitCode, 128 + signo);
        QVERIFY(readFile(r.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
        QVERIFY(r.log("S1").endsWith("\r\n")); // whole lines only
        QVERIFY2(r.out.contains("the test was stopped"), qPrintable(r.out));
    }

    void fullDisk_stopsTheRunWithOneAndWholeRecords()
    {
        Runner r;
        writeFile(r.path("fast.INI"), program({"LoadLevel|CC|5|600||||0.1||50"}));
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
        writeFile(first.path("long.INI"), program({"LoadLevel|CC|5|600||||1||50"}));
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

    void runWithoutALog_saysSoOnItsFirstLine()
    {
        Runner r;
        QVERIFY(QDir().mkpath(r.path("station/TestLog"))); // a station without its ACL3.INI
        // Loop markers alone: a progress line a second at most, not one per marker.
        writeFile(r.path("p.INI"), program({"FOR||||20000", "LOOP", kTwoSteps}));
        r.run({"--program", r.path("p.INI"), "--simulate"});
        QCOMPARE(r.exitCode, 0);
        const QString first = r.out.section('\n', 0, 0);
        QVERIFY2(first.contains("No CSV log") && first.contains("ACL3.INI does not exist"),
                 qPrintable(first));
        QVERIFY2(r.out.count("Step ") < 10, qPrintable(r.out.left(2000)));
    }
};

ACL3_TEST_MAIN(RunnerTest)
#include "tst_runner.moc"
