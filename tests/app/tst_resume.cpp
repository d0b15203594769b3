// acl3-run killed with SIGKILL in the middle of a run and taken up again with --resume, against
// acl3-loadsim as a program of its own: the load outlives the station, as it does in a crash.
#include "RunnerHarness.h"
#include "execution/RunJournal.h"
#include "support/TestMain.h"

#include <QRegularExpression>

namespace {

QStringList events(const Runner& r, const QString& key)
{
    QStringList out;
    for (const JournalEvent& e : readJournal(r.path("station/TestLog/SN1.journal")).events)
        out << e.event + " " + e.fields.value(key).toVariant().toString();
    return out;
}

double volts(const QStringList& record)
{
    return record.value(4).toDouble();
}

// Writes the program, measuring every 0.5 s on the load at `port`, and kills its run with SIGKILL
// once `until` holds.
void killWhen(Runner& r, const QStringList& steps, quint16 port, const std::function<bool()>& until)
{
    writeFile(r.path("p.INI"), runProgram(steps, loadAt(port), "0.5"));
    r.signalWhen({"--program", r.path("p.INI"), "--sn", "SN1"}, SIGKILL, until);
    QCOMPARE(r.exitCode, -1);
}

} // namespace

class ResumeTest : public QObject
{
    Q_OBJECT

private slots:
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
        const int atKill = static_cast<int>(r.records("SN1").size());
        // What the crash left of a last line (none here, or a torn one) is cut away.
        QFile csv(r.logPath("SN1"));
        QVERIFY(csv.open(QIODevice::Append));
        csv.write(QByteArray::number(atKill + 1) + ",2,2,1");
        csv.close();
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
        // Records numbered on without a gap or a repeat; the body's passes 3, 2, 1 once each.
        QStringList passes;
        const QList<QStringList> records = r.records("SN1");
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i][0], QString::number(i + 1));
            const QString pass = records[i][1] + "/" + records[i][2];
            if (passes.isEmpty() || passes.last() != pass)
                passes << pass;
        }
        QCOMPARE(passes, QStringList({"2/3", "2/2", "2/1", "4/3"}));
        QVERIFY(records.size() - atKill >= 3);
        const QStringList how = events(r, "how");
        QCOMPARE(how.count("step end dwell time"), 4);
        QVERIFY(how.contains("log cut "));
        QCOMPARE(how.last(), QStringLiteral("run end finished"));
        QCOMPARE(events(r, "records").last(), "run end " + QString::number(records.size()));
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
        killWhen(r, {"DisCharge|CC|10|60|3.5|||0.5|NextStep"}, load.port,
                 [&] { return r.records("SN1").size() >= 4; });
        QVERIFY(volts(r.records("SN1").last()) > 3.6);
        r.run({"--resume", "--sn", "SN1"});
        QCOMPARE(r.exitCode, 0);
        const QList<QStringList> records = r.records("SN1");
        QVERIFY2(records.size() < 40, "the discharge went on to its dwell time");
        QVERIFY(volts(records[records.size() - 2]) >= 3.5);
        QVERIFY(volts(records.last()) < 3.5);
        QVERIFY(events(r, "how").contains("step end stop value"));
        QVERIFY(readFile(r.path("sim.log")).trimmed().endsWith("\tLOAD OFF"));
    }

    void programChanged_orAnotherSerialNumber_isRefused()
    {
        Runner r;
        LoadSimProgram load({"--log", r.path("sim.log")});
        killWhen(r, {"LoadLevel|CC|2|30||||0.5||50"}, load.port,
                 [&] { return r.records("SN1").size() >= 2; });
        const QByteArray csv = readFile(r.logPath("SN1"));
        const QByteArray journal = readFile(r.path("station/TestLog/SN1.journal"));
        writeFile(r.path("p.INI"), readFile(r.path("p.INI")).replace("=2\r\n", "=3\r\n"));
        r.run({"--resume", "--sn", "SN2"});
        QVERIFY2(r.exitCode == 2 && r.err.contains("no interrupted run of SN SN2 in "),
                 qPrintable(r.err));
        r.run({"--resume"});
        QVERIFY2(r.exitCode == 2 && r.err.contains("has changed since the run of SN SN1 started"),
                 qPrintable(r.err));
        QCOMPARE(readFile(r.logPath("SN1")), csv);
        QCOMPARE(readFile(r.path("station/TestLog/SN1.journal")), journal);
    }
};

ACL3_TEST_MAIN(ResumeTest)
#include "tst_resume.moc"
