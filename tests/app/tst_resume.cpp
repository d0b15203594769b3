// acl3-run killed with SIGKILL in the middle of a run and taken up again with --resume, against
// acl3-loadsim as a program of its own: the load outlives the station, as it does in a crash.
#include "execution/RunJournal.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

namespace {

struct StationDir
{
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    QString log() const { return path("station/TestLog/SN1.CSV"); }
    QString journal() const { return path("station/TestLog/SN1.journal"); }

    // Writes the program (steps as "field|field|..."), its load at `port`.
    void program(const QStringList& steps, quint16 port) const
    {
        QByteArray ini = "[TestStep Option]\r\nMeasureTime=0.5\r\nTotalStepCount=" +
                         QByteArray::number(steps.size()) + "\r\n";
        const char* keys[] = {"ActionMode", "LoadModeVolt", "CurrentValue", "StopTime",
                              "StopValue",  "StableTime",   "StopAH",       "MeasTime",
                              "GoToStep",   "Frequency"};
        for (int n = 0; n < steps.size(); ++n) {
            ini += "[Step" + QByteArray::number(n + 1) + "]\r\n";
            const QStringList f = steps[n].split('|');
            for (int k = 0; k < 10; ++k)
                ini += QByteArray(keys[k]) + "=" + f.value(k).toUtf8() + "\r\n";
        }
        writeFile(path("p.INI"),
                  ini + "[Load1 Option]\r\nIP=127.0.0.1\r\nPORT=" + QByteArray::number(port));
    }
    QList<QStringList> records() const
    {
        QList<QStringList> out;
        const QStringList lines = QString::fromUtf8(readFile(log())).split("\r\n");
        for (qsizetype i = 1; i + 1 < lines.size(); ++i)
            out << lines[i].split(',');
        return out;
    }
    // Runs acl3-run to its end; its exit status, its output in `out`.
    int run(const QStringList& args, QString* out = nullptr) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ACL3_RUN_PATH, QStringList{"--station", path("station")} + args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        if (out)
            *out = QString::fromLocal8Bit(p.readAll());
        return p.exitCode();
    }
    // Starts the program's run and kills the runner with SIGKILL once `until` holds.
    void killWhen(const std::function<bool()>& until) const
    {
        QProcess p;
        p.start(ACL3_RUN_PATH,
                {"--station", path("station"), "--program", path("p.INI"), "--sn", "SN1"});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(until(), 60000);
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
    }
};

// acl3-loadsim on a free loopback port, logging every line it gets.
struct Load
{
    explicit Load(const QStringList& options, const QString& log)
    {
        process.start(ACL3_LOADSIM_PATH, QStringList{"--tcp", "0", "--log", log} + options);
        process.waitForReadyRead(10000);
        port = QString::fromLocal8Bit(process.readLine()).section(':', -1).trimmed().toUShort();
    }
    ~Load()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
    quint16 port = 0;
};

QStringList events(const QString& journal, const QString& key)
{
    QStringList out;
    for (const JournalEvent& e : readJournal(journal).events)
        out << e.event + " " + e.fields.value(key).toVariant().toString();
    return out;
}

} // namespace

class ResumeTest : public QObject
{
    Q_OBJECT

private slots:
    void killedInTheSecondLoopPass_isResumedToThreePassesInAll()
    {
        StationDir s;
        Load load({}, s.path("sim.log"));
        s.program(
            {"FOR||||3", "LoadLevel|CC|2|2||||0.5||50", "LOOP", "LoadLevel|CC|3|1||||0.5||50"},
            load.port);
        s.killWhen([&] {
            const QList<QStringList> r = s.records();
            return r.size() > 2 && r.last().mid(1, 2) == QStringList({"2", "2"}) &&
                   r[r.size() - 2].mid(1, 2) == QStringList({"2", "2"});
        });
        const int atKill = static_cast<int>(s.records().size());
        // What the crash left of a last line (none here, or a torn one) is cut away.
        QFile csv(s.log());
        QVERIFY(csv.open(QIODevice::Append));
        csv.write(QByteArray::number(atKill + 1) + ",2,2,1");
        csv.close();
        writeFile(s.path("sim.log"), {});

        QString out;
        QCOMPARE(s.run({"--resume"}, &out), 0);
        QVERIFY2(
            out.contains("The run of SN SN1 stopped unexpectedly at step 2 of 4 (Loop1 2) at "),
            qPrintable(out));
        // Connected and reset as a Start does, then the interrupted step on the load again.
        const QString sim = QString::fromUtf8(readFile(s.path("sim.log")));
        QVERIFY2(QRegularExpression("\tMEAS:VOLT\\?\n(.*\n)*.*\tCC:A 2\n").match(sim).hasMatch(),
                 qPrintable(sim));
        // Records numbered on without a gap or a repeat; the body's passes 3, 2, 1 once each.
        QStringList passes;
        const QList<QStringList> records = s.records();
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i][0], QString::number(i + 1));
            const QString pass = records[i][1] + "/" + records[i][2];
            if (passes.isEmpty() || passes.last() != pass)
                passes << pass;
        }
        QCOMPARE(passes, QStringList({"2/3", "2/2", "2/1", "4/3"}));
        QCOMPARE(records.size() - atKill >= 3, true);
        const QStringList how = events(s.journal(), "how");
        QCOMPARE(how.count("step end dwell time"), 4);
        QVERIFY(how.contains("log cut "));
        QCOMPARE(how.last(), QStringLiteral("run end finished"));
        QCOMPARE(events(s.journal(), "records").last(),
                 "run end " + QString::number(records.size()));
        // Taken up once: nothing is interrupted any more.
        QCOMPARE(s.run({"--resume"}, &out), 2);
        QVERIFY2(out.contains("no interrupted run in "), qPrintable(out));
    }

    void killedInADischarge_goesOnToTheStopVoltage()
    {
        StationDir s;
        // 10 A from a 0.05 Ah cell: it reaches 3.5 V under load after about 7 s.
        Load load({"--source", "battery", "--capacity", "0.05"}, s.path("sim.log"));
        s.program({"DisCharge|CC|10|60|3.5|||0.5|NextStep"}, load.port);
        s.killWhen([&] { return s.records().size() >= 4; });
        QVERIFY(parseVolts(s.records().last()) > 3.6);
        QCOMPARE(s.run({"--resume", "--sn", "SN1"}), 0);
        const QList<QStringList> records = s.records();
        QVERIFY2(records.size() < 40, "the discharge went on to its dwell time");
        QVERIFY(parseVolts(records[records.size() - 2]) >= 3.5);
        QVERIFY(parseVolts(records.last()) < 3.5);
        QVERIFY(events(s.journal(), "how").contains("step end stop value"));
        QVERIFY(readFile(s.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
    }

    void programChanged_orNothingInterrupted_isRefused()
    {
        StationDir s;
        QString out;
        QCOMPARE(s.run({"--resume"}, &out), 2);
        QVERIFY2(out.contains("no interrupted run in "), qPrintable(out));
        Load load({}, s.path("sim.log"));
        s.program({"LoadLevel|CC|2|30||||0.5||50"}, load.port);
        s.killWhen([&] { return s.records().size() >= 2; });
        const QByteArray csv = readFile(s.log());
        const QByteArray journal = readFile(s.journal());
        writeFile(s.path("p.INI"), readFile(s.path("p.INI")).replace("=2\r\n", "=3\r\n"));
        QCOMPARE(s.run({"--resume", "--sn", "SN2"}, &out), 2);
        QVERIFY2(out.contains("no interrupted run of SN SN2 in "), qPrintable(out));
        QCOMPARE(s.run({"--resume"}, &out), 2);
        QVERIFY2(out.contains("has changed since the run of SN SN1 started"), qPrintable(out));
        QCOMPARE(readFile(s.log()), csv);
        QCOMPARE(readFile(s.journal()), journal);
    }

private:
    static double parseVolts(const QStringList& record) { return record.value(4).toDouble(); }
};

ACL3_TEST_MAIN(ResumeTest)
#include "tst_resume.moc"
