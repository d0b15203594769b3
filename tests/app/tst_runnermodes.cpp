// acl3-run --check, the check before every run, and --dry-run against a real run.
#include "execution/RunBench.h"
#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

QByteArray program(const QStringList& steps, const QByteArray& tail = {})
{
    QByteArray ini =
        "[TestStep Option]\r\nMeasureTime=1\r\nTotalStepCount=" + QByteArray::number(steps.size()) +
        "\r\n";
    for (int n = 0; n < steps.size(); ++n) {
        const QStringList f = steps[n].split(QLatin1Char('|'));
        ini += "[Step" + QByteArray::number(n + 1) + "]\r\n";
        for (int k = 0; k < TestStep::kFieldCount; ++k)
            ini += kStepFieldKeys[k].toUtf8() + "=" + f.value(k).toUtf8() + "\r\n";
    }
    return ini + tail;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runner(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ACL3_RUN_PATH), args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Step and Loop1 of every record: the sequence the run went through.
QStringList stepsOf(const QList<QStringList>& records)
{
    QStringList out;
    for (const QStringList& r : records)
        out << r.value(1) + QLatin1Char('/') + r.value(2);
    return out;
}

const QString kLevel = QStringLiteral("LoadLevel|CC|5|1||||1||50");

} // namespace

class RunnerModesTest : public QObject
{
    Q_OBJECT

private slots:
    void check_printsFindingsAndEstimate_sendsNothing_andExitsByErrors_data()
    {
        QTest::addColumn<QByteArray>("file"); // empty: the example program of a new station
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("example program of a new station")
            << QByteArray() << 0
            << QStringList{"estimated run time 00:00:23, about 25 records", "0 errors, 0 warnings"};
        QTest::newRow("warning")
            << program({kLevel, "DisCharge|CC|5|3600|0|0|0|1|NextStep"}) << 0
            << QStringList{"warning: Step 2, Dwell Time(s) \"3600\": a discharge with neither a "
                           "stop value nor a stop charge runs all of its 3600 s",
                           "estimated run time 01:00:01, about 3,602 records",
                           "0 errors, 1 warning"};
        QTest::newRow("error") << program({"LoadLevel|CR|0|1||||1||50"}) << 2
                               << QStringList{"error: Step 1, Value \"0\": Load Level must 0.533 "
                                              "~ 10666(ohm) !",
                                              "1 error, 0 warnings: the program would not be run"};
        QTest::newRow("damaged file")
            << QByteArray("[TestStep Option]\r\nTotalStepCount=many\r\n") << 2
            << QStringList{"TotalStepCount of [TestStep Option] is \"many\", not a whole number",
                           "1 error, 0 warnings"};
    }
    void check_printsFindingsAndEstimate_sendsNothing_andExitsByErrors()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);
        // A load on loopback, named by the program: a connection to it would be seen.
        QTcpServer load;
        QVERIFY(load.listen(QHostAddress::LocalHost));
        QTemporaryDir dir;
        const QString station = dir.filePath("station");
        QStringList args{"--check", "--station", station};
        if (!file.isEmpty()) {
            writeFile(dir.filePath("p.INI"), file + "[Load1 Option]\r\nIP=127.0.0.1\r\nPORT=" +
                                                 QByteArray::number(load.serverPort()) + "\r\n");
            args << "--program" << dir.filePath("p.INI");
        }
        const Run r = runner(args);
        QCOMPARE(r.exitCode, exitCode);
        for (const QString& line : lines)
            QVERIFY2(r.out.contains(line), qPrintable(r.out));
        QCOMPARE(r.out.contains("estimated run time"), !file.startsWith("[TestStep Option]\r\nT"));
        QTest::qWait(100);
        QVERIFY(!load.hasPendingConnections());
        QCOMPARE(QDir(station + "/TestLog").entryList(QDir::Files), QStringList());
    }

    void run_printsItsWarningsAndGoesOn()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("p.INI"), program({kLevel, "Suspend|||1|0|||1|EndLoop"}));
        const Run r = runner({"--station", dir.filePath("station"), "--program",
                              dir.filePath("p.INI"), "--simulate", "--sn", "W1"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("warning: Step 2, Go To \"EndLoop\": never followed"),
                 qPrintable(r.err));
        QVERIFY2(r.out.contains("estimated run time 00:00:02, about 3 records") &&
                     r.out.contains("the program ran to its end: 3 records"),
                 qPrintable(r.out));
    }

    void badUsage_exitsWithTwo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("check and dry run") << QStringList{"--check", "--dry-run"} << "together";
        QTest::newRow("check simulated") << QStringList{"--check", "--simulate"} << "--simulate";
        QTest::newRow("dry run at a speed")
            << QStringList{"--dry-run", "--speed", "9"} << "--speed";
    }
    void badUsage_exitsWithTwo()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const Run r = runner(QStringList{"--station", dir.filePath("station")} + args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    void dryRun_hasTheStepsAndRecordsOfARealRun_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("source");
        // Loops, a ramp, pulse loads that pass (stop voltage 100 V) and fail (300 V; Continue
        // skips step 10), discharges on the AC source.
        QTest::newRow("ac") << QStringList{"LoadLevel|CC|0|0||||1||50",
                                           "RAMP ON|CC|10|2||||1",
                                           "LoadLevel|CC|5|1||||1||50",
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

        QTemporaryDir dir;
        writeFile(dir.filePath("p.INI"), program(steps));
        const Run r = runner({"--station", dir.filePath("station"), "--program",
                              dir.filePath("p.INI"), "--dry-run", "--sn", "D1", "--source",
                              source == int(SourceKind::Battery) ? "battery" : "ac"});
        QCOMPARE(r.exitCode, 0);
        const auto csv = QRegularExpression(" records in (\\S+D1\\.CSV)").match(r.out);
        QVERIFY2(csv.hasMatch() && !csv.captured(1).startsWith(dir.path()), qPrintable(r.out));
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

ACL3_TEST_MAIN(RunnerModesTest)
#include "tst_runnermodes.moc"
