// Protects acl3-run (exits, output, log, check, dry run, resume, load off) and every --version.
#include "Version.h"
#include "common/NumberText.h"
#include "execution/RunBench.h"
#include "station/StationFolder.h"
#include "support/SimStation.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {

QByteArray loadAt(quint16 port)
{
    return "[Load1 Option]\r\nIP=127.0.0.1\r\nPORT=" + QByteArray::number(port) + "\r\n";
}

// A log's whole records, without its header and a torn last line.
QList<QStringList> recordsIn(const QString& path)
{
    QList<QStringList> out;
    const QStringList lines = QString::fromUtf8(readFile(path)).split("\r\n");
    for (qsizetype i = 1; i + 1 < lines.size(); ++i)
        out << lines[i].split(',');
    return out;
}

// acl3-run on the station folder "station" of its own temporary folder.
struct Runner
{
    QTemporaryDir dir;
    QProcess process;
    int exitCode = -1; // -1: killed
    QString out;
    QString err;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString logPath(const QString& sn) const { return path("station/TestLog/" + sn + ".CSV"); }
    QString log(const QString& sn) const { return QString::fromUtf8(readFile(logPath(sn))); }
    QList<QStringList> records(const QString& sn) const { return recordsIn(logPath(sn)); }

    void start(const QStringList& args)
    {
        out.clear();
        err.clear();
        process.setProgram(QStringLiteral(ACL3_RUN_PATH));
        process.setArguments(QStringList{"--station", path("station")} + args);
        process.start();
        QVERIFY(process.waitForStarted());
    }
    void finish()
    {
        QVERIFY(process.waitForFinished(120000));
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err += QString::fromLocal8Bit(process.readAllStandardError());
    }
    void run(const QStringList& args)
    {
        start(args);
        finish();
    }
    // Starts a run and sends it `signo` once `until` holds.
    void signalWhen(const QStringList& args, int signo, const std::function<bool()>& until)
    {
        start(args);
        QTRY_VERIFY_WITH_TIMEOUT(until(), 60000);
        ::kill(static_cast<pid_t>(process.processId()), signo);
        finish();
    }
};

// acl3-loadsim on a free loopback port.
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

// Writes the program (measuring every 0.5 s) and kills its run with SIGKILL once `until` holds.
void killWhen(Runner& r, const QStringList& steps, quint16 port, const std::function<bool()>& until)
{
    writeFile(r.path("p.INI"), programFile(steps, "MeasureTime=0.5\r\n", loadAt(port)));
    r.signalWhen({"--program", r.path("p.INI"), "--sn", "SN1"}, SIGKILL, until);
    QCOMPARE(r.exitCode, -1);
}

// Step and Loop1 of every record: the sequence the run went through.
QStringList stepsOf(const QList<QStringList>& records)
{
    QStringList out;
    for (const QStringList& r : records)
        out << r.value(1) + QLatin1Char('/') + r.value(2);
    return out;
}

// Each of `parts` (split by "|") is in `text`; one that starts with "!" is not.
void expectTexts(const QString& text, const QString& parts)
{
    for (const QString& part : parts.split(u'|', Qt::SkipEmptyParts))
        QVERIFY2(part.startsWith(u'!') ? !text.contains(part.mid(1)) : text.contains(part),
                 qPrintable(part + " in:\n" + text.left(3000)));
}

} // namespace

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void run_data()
    {
        // program: steps, "!" a damaged file, "@name" an example. load: "sim", "silent", "closed"
        // (nobody listens), "loadsim ARGS" (reconnecting for 2 s), "nosettings" and "fsize" (4 kB
        // files) simulated. "@SIGNO:N": that signal once the log has N lines or acl3-run is
        // "connecting". out, err, csv: texts there, "!" ones not.
        addColumns({"program", "load", "args", "exitCode", "out", "err", "csv"});
        addRows({
            "simulated;LoadLevel|CC|5|1||||1||50/LoadLevel|CR|50|1||||1||50;sim;--sn R1 --speed "
            "0.5;0;Step 1 of 2: LoadLevel CC 5|Step 2 of 2: LoadLevel CR 50|records in;;No.,"
            "Step,Loop1,StepTime,|,CR\r\n",
            "warning goes on;LoadLevel|CC|5|1||||1||50/Suspend|||1|0|||1|EndLoop;sim;--sn R1;0;"
            "estimated run time 00:00:02, about 3 records|the program ran to its end: 3 records;"
            "warning: Step 2, Go To \"EndLoop\": never followed;No.,Step",
            "missing program;;;--program /nonexistent/p.INI --sn R1;2;;does not exist;",
            "unknown option;;;--frobnicate --sn R1;2;;frobnicate;",
            "source without simulate;;;--source ac --sn R1;2;;--source goes with --simulate;",
            "bad source;;sim;--source dc --sn R1;2;;dc;",
            "refused serial number;;sim;--sn ../x;2;;cannot name a log file;",
            "damaged program;!;sim;--sn R1;2;;TotalStepCount;",
            "value the load must not get;LoadLevel|CR|0|1||||1||50;sim;--sn R1;2;;Step 1, Value "
            "\"0\";",
            "check and dry run;;;--check --dry-run;2;;together;",
            "check simulated;;;--check --simulate;2;;--simulate;",
            "dry run at a speed;;;--dry-run --speed 9;2;;--speed;",
            "resume with nothing interrupted;;;--resume;2;;no interrupted run in ;",
            "check of a new station's example;;;--check;0;estimated run time 00:00:23, about 25 "
            "records|0 errors, 0 warnings;;",
            "check of the battery example;@battery-discharge.INI;;--check;0;0 errors, 0 warnings;;",
            "check of the pulse example;@pulse-load.INI;;--check;0;0 errors, 0 warnings;;",
            "check warning;LoadLevel|CC|5|1||||1||50/DisCharge|CC|5|3600|0|0|0|1|NextStep;silent;"
            "--check;0;warning: Step 2, Dwell Time(s) \"3600\": a discharge with neither a stop "
            "value nor a stop charge runs all of its 3600 s|estimated run time 01:00:01, about "
            "3,602 records|0 errors, 1 warning;;",
            "check error;LoadLevel|CR|0|1||||1||50;silent;--check;2;error: Step 1, Value "
            "\"0\": Load Level must 0.533 ~ 10666(ohm) !|1 error, 0 warnings: the program would "
            "not be run;;",
            "check of a damaged file;!;silent;--check;2;TotalStepCount of [TestStep Option] is "
            "\"many\", not a whole number|1 error, 0 warnings|!estimated run time;;",
            "no load answering;LoadLevel|CC|5|1||||1||50;silent;--sn R1;3;;Electronic Load "
            "Connect Error, Please check it.;",
            // Loop markers alone: a progress line a second at most, not one per marker.
            "without a log;FOR||||20000/LOOP/LoadLevel|CC|5|1||||1||50;nosettings;;0;No CSV "
            "log|ACL3.INI does not exist;;",
            // Lost at the fourth second: the rest of the six, not six again (give or take one).
            "load reached again;LoadLevel|CC|5|6||||1||50;loadsim --drop-after 31 --after-drop "
            "accept;--sn R1;0;load out of reach 1 time(s) for |attempt 1: 127.0.0.1:;;No.|\r\n3,|"
            "!\r\n8,",
            "load lost;LoadLevel|CC|5|6||||1||50;loadsim --drop-after 31 --after-drop silent;--sn "
            "R1;4;the load was lost;did not answer again within 2 s;No.",
            "SIGTERM;LoadLevel|CC|5|600||||1||50;sim;--sn R1 @15:3;143;the test was stopped;;No.",
            "SIGHUP;LoadLevel|CC|5|600||||1||50;sim;--sn R1 @1:3;129;the test was stopped;;No.",
            "SIGQUIT;LoadLevel|CC|5|600||||1||50;sim;--sn R1 @3:3;131;the test was stopped;;No.",
            "SIGTERM while connecting;LoadLevel|CC|5|1||||1||50;closed;--sn R1 @15:connecting;143;"
            ";!Electronic Load Connect Error;",
            "full disk;LoadLevel|CC|5|600||||0.1||50;fsize;--sn R1;1;;R1.CSV: File too large;No.",
        });
    }
    void run()
    {
        QFETCH(QString, program);
        QFETCH(QString, load);
        QFETCH(QString, args);
        QFETCH(QString, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QString, csv);
        Runner r;
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        std::unique_ptr<LoadSimProgram> loadsim;
        QByteArray link;
        QStringList arguments = args.split(u' ', Qt::SkipEmptyParts);
        const QString signalAt = arguments.filter(QRegularExpression("^@")).value(0).mid(1);
        arguments.removeIf([](const QString& a) { return a.startsWith(u'@'); });
        if (load == "silent") {
            link = loadAt(silent.serverPort());
        } else if (load == "closed") {
            link = loadAt(stationPort());
        } else if (load.startsWith("loadsim")) {
            loadsim = std::make_unique<LoadSimProgram>(load.split(u' ').mid(1) +
                                                       QStringList{"--log", r.path("load.log")});
            link = loadAt(loadsim->port);
            QVERIFY(QDir().mkpath(r.path("station")));
            writeFile(r.path("station/ACL3.INI"),
                      defaultSettingsFile().replace("ReconnectSeconds=300", "ReconnectSeconds=2"));
        } else if (!load.isEmpty()) {
            arguments << "--simulate"
                      << "--sim-log" << r.path("load.log");
        }
        if (load == "nosettings")
            QVERIFY(QDir().mkpath(r.path("station/TestLog")));
        if (load == "fsize") {
            r.process.setChildProcessModifier([] {
                const rlimit limit{4096, 4096};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        if (program == "!")
            writeFile(r.path("p.INI"), "[TestStep Option]\r\nTotalStepCount=many\r\n" + link);
        else if (!program.startsWith(u'@') && !program.isEmpty())
            writeFile(r.path("p.INI"), programFile(program.split(u'/'), "MeasureTime=1\r\n", link));
        if (program.startsWith(u'@'))
            arguments << "--program" << QStringLiteral(ACL3_EXAMPLES_DIR "/") + program.mid(1);
        else if (!program.isEmpty())
            arguments << "--program" << r.path("p.INI");
        if (signalAt.isEmpty()) {
            r.run(arguments);
        } else {
            r.signalWhen(arguments, signalAt.section(u':', 0, 0).toInt(), [&] {
                r.out += QString::fromLocal8Bit(r.process.readAllStandardOutput());
                const QString when = signalAt.section(u':', 1);
                return when == "connecting" ? r.out.contains("connecting to the load at 127.0.0.1:")
                                            : r.log("R1").count("\r\n") >= when.toInt();
            });
        }
        QCOMPARE(r.exitCode, exitCode.toInt());
        expectTexts(r.out, out);
        expectTexts(r.err, err);
        QVERIFY2(r.out.count("Step ") < 10, qPrintable(r.out.left(2000)));
        QCOMPARE(silent.waitForNewConnection(0), exitCode == "3");
        const QString log = r.log("R1");
        QCOMPARE(QFile::exists(r.logPath("R1")), !csv.isEmpty());
        expectTexts(log, csv);
        QVERIFY(log.isEmpty() || log.endsWith("\r\n"));   // whole lines only
        for (const QStringList& record : r.records("R1")) // measured values, none from a gap
            QVERIFY2(parseNumber(record.value(4)) > 200, qPrintable(record.join(u',')));
        const auto told = QRegularExpression(": (\\d+) records in ").match(r.out);
        if (told.hasMatch()) {
            QCOMPARE(told.captured(1).toLongLong(), r.records("R1").size());
            QVERIFY(r.out.contains("records in " + QDir::toNativeSeparators(r.logPath("R1"))));
        }
        const QByteArray loadLog = readFile(r.path("load.log")).trimmed();
        if (exitCode == "2")
            QVERIFY(loadLog.isEmpty());
        else if (QFile::exists(r.path("load.log")) && exitCode != "1") // a full disk cuts it too
            QVERIFY2(loadLog.endsWith("\tLOAD OFF"), loadLog.right(200).constData());
        // The station's settings do not learn the program it ran.
        QVERIFY(!readFile(r.path("station/ACL3.INI")).contains("TestFileName01"));
    }

    void dryRun_hasTheStepsAndRecordsOfARealRun_data()
    {
        addColumns({"steps", "source"});
        // Loops, a ramp, pulse loads passing (100 V) and failing (300 V), discharges on AC.
        addRows({"ac;LoadLevel|CC|0|0||||1||50/RAMP ON|CC|10|2||||1/LoadLevel|CC|5|1||||1||50/"
                 "FOR||||2/FOR2||||2/PlusLoad|20|2|50|50|100|3|50|EndLoop2/"
                 "DisCharge|CC|5|1|0|0|0|1|NextStep/LOOP2/PlusLoad|20|2|50|50|300|3|50|Continue/"
                 "DisCharge|CC|9|1|0|0|0|1|NextStep/LOOP/Suspend|||1|0|||1|NextStep;ac"});
        // At 112.5 A the cell passes 1.902 V halfway between two measurements, after about 7 s.
        addRows({"battery;Suspend|||1|0|||1|NextStep/DisCharge|CC|112.5|600|1.902|0|0|1|NextStep/"
                 "Suspend|||1|0|||1|NextStep;battery"});
    }
    void dryRun_hasTheStepsAndRecordsOfARealRun()
    {
        QFETCH(QString, steps);
        QFETCH(QString, source);
        // At twice real time: a busy machine would make a faster real run miss measuring instants.
        constexpr double kSpeed = 2;
        RunBench real(kSpeed, source == "ac" ? SourceKind::Ac : SourceKind::Battery);
        real.sim().setSpeed(kSpeed);
        QList<QStringList> fields;
        for (const QString& s : steps.split(u'/'))
            fields << s.split(QLatin1Char('|'));
        real.program(fields);
        QCOMPARE(real.run(), RunEnd::Finished);

        Runner r;
        writeFile(r.path("p.INI"), programFile(steps.split(u'/'), "MeasureTime=1\r\n"));
        r.run({"--program", r.path("p.INI"), "--dry-run", "--sn", "D1", "--source", source});
        QCOMPARE(r.exitCode, 0);
        const auto csv = QRegularExpression(" records in (\\S+D1\\.CSV)").match(r.out);
        QVERIFY2(csv.hasMatch() && !csv.captured(1).startsWith(r.dir.path()), qPrintable(r.out));
        const QList<QStringList> dry = recordsIn(csv.captured(1));
        QCOMPARE(stepsOf(dry), stepsOf(real.records()));
        QVERIFY(dry.size() > 5);
        QVERIFY(QDir(QDir::cleanPath(QFileInfo(csv.captured(1)).absolutePath() + "/../.."))
                    .removeRecursively());
    }

    // A lab PC's installer and the manual pages ask these where no window can open.
    void versionAndHelp_needNoDisplay_data()
    {
        addColumns({"program", "option", "answerStart"});
        const std::pair<const char*, const char*> programs[] = {
            {"acl3", ACL3_WINDOW_PATH},
            {"acl3-run", ACL3_RUN_PATH},
            {"acl3-loadsim", ACL3_LOADSIM_PATH},
            {"acl3-report", ACL3_REPORT_PATH},
        };
        for (const auto& [name, path] : programs) {
            const QString version = QLatin1String(name) + QStringLiteral(" " ACL3_VERSION "\n");
            for (const QString option : {"--version", "-v", "--help"})
                QTest::addRow("%s %s", name, qPrintable(option))
                    << path << option << (option == "--help" ? "Usage: " + QString(path) : version);
        }
    }
    void versionAndHelp_needNoDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, answerStart);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {option});
        QVERIFY(process.waitForFinished(10000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(out.startsWith(answerStart), qPrintable(out + process.readAllStandardError()));
        QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
    }

    // Killed with SIGKILL and taken up with --resume: the load outlives the station, as in a crash.
    void killedInTheSecondLoopPass_isResumedToThreePassesInAll()
    {
        Runner r;
        LoadSimProgram load({"--log", r.path("sim.log")});
        killWhen(r,
                 {"FOR||||3", "LoadLevel|CC|2|2||||0.5||50", "LOOP", "LoadLevel|CC|3|1||||0.5||50"},
                 load.port, [&] {
                     const QList<QStringList> rs = r.records("SN1");
                     return rs.size() > 2 && rs.last().mid(1, 2) == QStringList({"2", "2"}) &&
                            rs[rs.size() - 2].mid(1, 2) == QStringList({"2", "2"});
                 });
        // Another serial number's run is not the one interrupted.
        r.run({"--resume", "--sn", "SN2"});
        QVERIFY2(r.exitCode == 2 && r.err.contains("no interrupted run of SN SN2 in "),
                 qPrintable(r.err));
        writeFile(r.path("sim.log"), {});
        r.run({"--resume"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(
            r.out.contains("The run of SN SN1 stopped unexpectedly at step 2 of 4 (Loop1 2) at "),
            qPrintable(r.out));
        // Connected and reset as a Start does, then the interrupted step on the load again.
        const QString sim = QString::fromUtf8(readFile(r.path("sim.log")));
        QVERIFY2(QRegularExpression("\tMEAS:VOLT\\?\n(.*\n)*.*\tCC:A 2\n").match(sim).hasMatch(),
                 qPrintable(sim));
        // The body's passes 3, 2, 1 once each.
        QStringList passes = stepsOf(r.records("SN1"));
        passes.removeDuplicates();
        QCOMPARE(passes, QStringList({"2/3", "2/2", "2/1", "4/3"}));
        // Taken up once: nothing is interrupted any more.
        r.run({"--resume"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("no interrupted run in "), qPrintable(r.err));
    }

    void killedInADischarge_goesOnToTheStopVoltage()
    {
        Runner r;
        // 10 A from a 0.05 Ah cell: it reaches 3.5 V under load after about 7 s.
        LoadSimProgram load(
            {"--source", "battery", "--capacity", "0.05", "--log", r.path("sim.log")});
        Runner second; // on the same station folder while the first run holds it
        qint64 first = 0;
        killWhen(r, {"DisCharge|CC|10|60|3.5|||0.5|NextStep"}, load.port, [&] {
            if (r.records("SN1").size() < 4)
                return false;
            first = r.process.processId();
            second.run({"--station", r.path("station"), "--program", r.path("p.INI"), "--simulate",
                        "--sn", "SN1"});
            return true;
        });
        QVERIFY2(second.exitCode == 2 &&
                     second.err.contains("acl3-run (process " + QString::number(first)),
                 qPrintable(second.err));
        QCOMPARE(QDir(r.path("station/TestLog")).entryList({"SN1_*"}), QStringList());
        QVERIFY(parseNumber(r.records("SN1").last().value(4)) > 3.6);
        r.run({"--resume", "--sn", "SN1"});
        QCOMPARE(r.exitCode, 0);
        const QList<QStringList> records = r.records("SN1");
        QVERIFY2(records.size() < 40, "the discharge went on to its dwell time");
        QVERIFY(parseNumber(records[records.size() - 2].value(4)) >= 3.5);
        QVERIFY(parseNumber(records.last().value(4)) < 3.5);
        QVERIFY(readFile(r.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
    }
};

ACL3_TEST_MAIN(RunnerTest)
#include "tst_runner.moc"
