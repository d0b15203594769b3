// The run journal: every step, pause and end; a crashed run resumed where it stood, or refused.

#include "execution/InterruptedRun.h"
#include "execution/RunBench.h"
#include "links/LinkLayer.h"
#include "series/SeriesStore.h"
#include "station/Station.h"
#include "support/TestMain.h"
#include "testprogram/TestProgramFile.h"

#include <QCryptographicHash>
#include <QDir>

#include <functional>
#include <memory>

namespace {

// A FOR 3 loop around a four-second step, then one more step.
const QString kLoopProgram = QStringLiteral("FOR||||3, CC 2 4, LOOP, CC 3 1");

// Slow enough that the poll for the moment of a crash never misses it on a busy machine.
constexpr double kCrashSpeed = 5;

QString journalPath(RunBench& b)
{
    return QDir(b.station().testLogDir()).filePath("SN1.journal");
}

// Each event as "event step how [loop1]", the fields a reader of the journal goes by.
QStringList outline(const QString& path)
{
    QStringList out;
    for (const JournalEvent& e : readJournal(path).events) {
        QStringList parts{e.event};
        for (const char* key : {"step", "how", "after", "loop1"}) {
            const QJsonValue v = e.fields.value(QLatin1String(key));
            if (!v.isUndefined())
                parts << (v.isDouble() ? QString::number(v.toInt()) : v.toString());
        }
        out << parts.join(' ');
    }
    return out;
}

// Runs the program in a run control of its own until `until` holds, then drops it as a crash
// would: nothing more is written, the load stays on. The station is then as a new process finds
// it.
void crashWhen(RunBench& b, const std::function<bool()>& until)
{
    auto crashing = std::make_unique<RunControl>(b.station());
    crashing->StartCommand();
    QTRY_VERIFY_WITH_TIMEOUT(until(), 30000);
    crashing.reset();
    b.station().links().LinkClose(b.station().loadInstrument());
    // A new process's start-up names the log after the SN again.
    const QString logName = b.station().run.LogFileName;
    b.station().run = RunState{};
    b.station().run.LogFileName = logName;
    QVERIFY(LoadTestProgram(b.station()));
}

InterruptedRun interrupted(RunBench& b)
{
    const QList<InterruptedRun> runs = findInterruptedRuns(b.station().testLogDir(), nullptr);
    return runs.value(0);
}

} // namespace

class RunJournalTest : public QObject
{
    Q_OBJECT

private slots:
    void run_journalsEveryStepPauseAndEnd_andResumesAfterPause()
    {
        RunBench b(20);
        b.program(
            steps("CC 1 0, FOR||||2, CC 2 10, LOOP, PlusLoad|20|2|5|5|300|3|50|NextStep, CC 3 1"));
        b.rc.StartCommand();
        QTRY_VERIFY_WITH_TIMEOUT(b.records().size() >= 4, 30000);
        QVERIFY(b.station().form.enabled("VoltageText").flag()); // live while measured
        b.rc.PauseCommand();
        QVERIFY(b.station().form.enabled("StartCommand").flag());
        QVERIFY(!b.station().form.enabled("VoltageText").flag());
        QCOMPARE(b.station().form.grdPhase3.foreColor(1, 2), gridcolors::Grey); // stale amperes
        QVERIFY(b.station().form.RunStatus.text().startsWith("Paused at step 3: "));
        QCOMPARE(b.received().last(), QStringLiteral("LOAD OFF"));
        const int paused = static_cast<int>(b.received().size());
        b.fixture.clock.advance(600); // a long pause is not the step's time
        b.rc.StartCommand();
        QVERIFY(b.waitForEnd());
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Finished);
        QCOMPARE(b.receivedSince(paused).mid(0, 4),
                 QStringList({"CC:A 2", "FREQ 50", "MODE CC", "LOAD ON"}));
        QVERIFY(QDir(b.station().testLogDir()).entryList({"SN1_*"}).isEmpty()); // the same log
        // About ten records a pass of ten seconds, the paused one too; Loop1 counts on.
        QStringList records;
        for (const QStringList& r : b.records())
            records << r[1] + "/" + r[2];
        QVERIFY2(std::abs(records.count("3/2") - 10) <= 1, qPrintable(records.join(' ')));
        QVERIFY2(std::abs(records.count("3/1") - 10) <= 1, qPrintable(records.join(' ')));
        QCOMPARE(outline(journalPath(b)),
                 QStringList({"run start", "step start 1", "step end 1 dwell time",
                              "step start 3 2", "step end 3 Pause 2", "pause 3", "resume 3 pause",
                              "step start 3 2", "step end 3 dwell time 2", "step start 3 1",
                              "step end 3 dwell time 1", "step start 5 2", "step end 5 pulse NG 2",
                              "step start 6 2", "step end 6 dwell time 2", "run end finished"}));
        const QList<JournalEvent> events = readJournal(journalPath(b)).events;
        const QJsonObject start = events.first().fields;
        QCOMPARE(
            start["sha256"].toString(),
            QCryptographicHash::hash(readFile(b.fixture.programPath()), QCryptographicHash::Sha256)
                .toHex());
        QCOMPARE(start["sn"].toString(), QStringLiteral("SN1"));
        // Two passes of 2 s and a step of 1 s at least, as the program check counts them.
        QVERIFY(start["estimate"]["fullSeconds"].toDouble() >= 5);
        QCOMPARE(start["start"].toString(), QStringLiteral("2026/01/05 08:00:00"));
        // The step ends share out the records between them, in order and without a gap.
        int next = 1;
        for (const JournalEvent& e : events) {
            if (e.event != journalevents::StepEnd)
                continue;
            QCOMPARE(e.fields["firstRecord"].toInt(), next);
            next = e.fields["lastRecord"].toInt() + 1;
            if (e.fields["how"] == stepends::PulseNg)
                QVERIFY(e.fields["reply"].toString().startsWith("NG,"));
        }
        QCOMPARE(next - 1, b.records().size());
        QCOMPARE(events.last().fields["records"].toInt(), b.records().size());
    }

    void crash_isResumedWhereItStood_data()
    {
        QTest::addColumn<QByteArray>("torn");
        QTest::addColumn<bool>("afterAStepEnd");
        QTest::newRow("in the second pass") << QByteArray() << false;
        QTest::newRow("torn last line") << QByteArray("99,2,2,08:0") << false;
        QTest::newRow("between two steps") << QByteArray() << true;
    }
    void crash_isResumedWhereItStood()
    {
        QFETCH(QByteArray, torn);
        QFETCH(bool, afterAStepEnd);
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        double ahAtCrash = 0;
        crashWhen(b, [&] {
            ahAtCrash = b.station().run.StepAh;
            // Two seconds into the second pass: its charge is more than the tolerance below.
            const QList<QStringList> r = b.records();
            return r.size() >= 8 && r[r.size() - 3].mid(1, 2) == QStringList({"2", "2"});
        });
        const QString csvPath = b.station().testLogDir() + "/SN1.CSV";
        if (afterAStepEnd) {
            // The crash came after the first pass ended and before the second began: its
            // start and its records are not on disk.
            QByteArray journal = readFile(journalPath(b));
            journal.truncate(journal.lastIndexOf("{\"event\":\"step start\""));
            writeFile(journalPath(b), journal);
            const int last = readJournal(journalPath(b)).events.last().fields["lastRecord"].toInt();
            QByteArray log = readFile(csvPath);
            log.truncate(log.indexOf("\r\n" + QByteArray::number(last + 1) + ",") + 2);
            writeFile(csvPath, log);
        }
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::Append));
        csv.write(torn);
        csv.close();
        const int crashed = static_cast<int>(b.received().size());

        SeriesStore plot;
        b.rc.log().setSeriesStore(&plot);
        b.rc.resumeInterrupted(interrupted(b));
        // The plot shows the records from before the crash too.
        QCOMPARE(plot.size(), qsizetype(b.station().run.RecordNo - 1));
        if (!afterAStepEnd)
            // Within a second's charge at 3 x 2 A: the log's times are whole seconds.
            QVERIFY2(std::abs(b.station().run.StepAh - ahAtCrash) <= 6.0 / 3600,
                     qPrintable(QString::number(b.station().run.StepAh)));
        QVERIFY(b.waitForEnd());
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Finished);
        // Connected, reset, the body restarted on the load.
        QCOMPARE(b.receivedSince(crashed).mid(0, 1), QStringList{"MEAS:VOLT?"});
        const QList<QStringList> records = b.records();
        for (int i = 0; i < records.size(); ++i)
            QCOMPARE(records[i][0], QString::number(i + 1));
        QCOMPARE(passes(records), QStringLiteral("2/3 2/2 2/1 4/3"));
        const QStringList events = outline(journalPath(b));
        QCOMPARE(events.count("step end 2 dwell time 3") + events.count("step end 2 dwell time 2") +
                     events.count("step end 2 dwell time 1"),
                 3);
        QVERIFY(events.contains("resume 2 interruption"));
        QCOMPARE(events.contains("log cut"), !torn.isEmpty());
        QCOMPARE(events.last(), QStringLiteral("run end finished"));
        // About four records a pass of four seconds, the interrupted one too.
        for (const char* loop1 : {"3", "2", "1"}) {
            int count = 0;
            for (const QStringList& r : records)
                count += r[1] == "2" && r[2] == loop1;
            QVERIFY2(count >= 3 && count <= 6,
                     qPrintable(QString(loop1) + ": " + QString::number(count)));
        }
    }

    void changedProgram_isNotResumed()
    {
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        crashWhen(b, [&] { return b.records().size() >= 2; });
        const QByteArray csv = readFile(b.station().testLogDir() + "/SN1.CSV");
        const QByteArray journal = readFile(journalPath(b));
        writeFile(b.fixture.programPath(), readFile(b.fixture.programPath()) + "\r\n");
        const int crashed = static_cast<int>(b.received().size());
        b.rc.resumeInterrupted(interrupted(b));
        QCOMPARE(b.ended.first().first().value<RunEnd>(), RunEnd::Refused);
        QVERIFY2(b.messages().value(0).contains("has changed since the run of SN SN1 started "
                                                "(SHA-256 "),
                 qPrintable(b.messages().join('\n')));
        QCOMPARE(b.receivedSince(crashed), QStringList());
        QCOMPARE(readFile(b.station().testLogDir() + "/SN1.CSV"), csv);
        QCOMPARE(readFile(journalPath(b)), journal);
    }

    void startUpOffer_asksResumeOrDiscard_andDiscardEndsTheJournal()
    {
        RunBench b(kCrashSpeed);
        b.program(steps(kLoopProgram));
        crashWhen(b, [&] { return b.records().size() >= 6 && b.records().last()[2] == "2"; });
        b.fixture.prompts.scriptAnswers({PromptAnswer::Cancel, PromptAnswer::Discard});
        QVERIFY(!b.rc.offerInterruptedRuns()); // closed without an answer: asked again later
        QVERIFY(!b.rc.offerInterruptedRuns());
        const QString stoppedAt = b.records().last()[3];
        QCOMPARE(b.fixture.prompts.shown.back().text,
                 "The run of SN SN1 stopped unexpectedly at step 2 of 4 (Loop1 2) at " + stoppedAt +
                     ".");
        QCOMPARE(outline(journalPath(b)).last(), QStringLiteral("run end discarded"));
        QVERIFY(findInterruptedRuns(b.station().testLogDir(), nullptr).isEmpty());
        // The next Start keeps the discarded run's log and journal under one dated name.
        b.rc.StartCommand();
        QCOMPARE(QDir(b.station().testLogDir()).entryList({"SN1_*"}).size(), 2);
    }
};

ACL3_TEST_MAIN(RunJournalTest)
#include "tst_runjournal.moc"
