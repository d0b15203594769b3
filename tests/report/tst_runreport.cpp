// The run report: its rows and figures against the log and journal, the PDF and HTML, acl3-report.

#include "execution/RunBench.h"
#include "execution/RunReportJob.h"
#include "report/ReportDocument.h"
#include "report/RunReport.h"
#include "support/WidgetTestMain.h"

#include <QRegularExpression>

namespace {

// The PDF's text as poppler reads it, lines kept as laid out.
QString pdfText(const QString& path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0)
        return QStringLiteral("pdftotext failed: ") + pdftotext.errorString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

const QByteArray kTinyLog = "No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,"
                            "CurrentB,CurrentC,PowerA,PowerB,PowerC,TotalTime,StepMode\r\n"
                            "1,1,,10:00:00,230,231,232,1,1,1,230,231,232,00:00:00,CC\r\n"
                            "2,1,,10:00:01,228,231,232,3,1,1,684,231,232,00:00:01,CC\r\n"
                            "3,2,,10:00:02,220,,232,2,1,1,440,,232,00:00:02,CR\r\n";

// Step 1 with records 1 and 2, a pause and a resume in step 2, which Stop ended.
const QByteArray kTinyJournal =
    R"({"event":"run start","time":"2026-12-06T10:00:00.000","sn":"J-7","link":"127.0.0.1:5025","program":"/nowhere/P.INI","sha256":"ab12","estimate":90}
{"event":"step start","time":"2026-12-06T10:00:00.000","step":1,"action":"LoadLevel","mode":"CC","value":"3","record":1}
{"event":"step end","time":"2026-12-06T10:00:01.900","step":1,"action":"LoadLevel","how":"dwell time","start":"2026-12-06T10:00:00.000","firstRecord":1,"lastRecord":2}
{"event":"step start","time":"2026-12-06T10:00:02.000","step":2,"action":"DisCharge","mode":"CR","value":"50","record":3}
{"event":"pause","time":"2026-12-06T10:00:02.000","step":2}
{"event":"resume","time":"2026-12-06T10:00:04.000","after":"pause","step":2}
{"event":"link lost","time":"2026-12-06T10:00:05.000","step":2,"link":"127.0.0.1:5025"}
{"event":"link regained","time":"2026-12-06T10:00:10.000","attempt":3,"gap":4}
{"event":"step end","time":"2026-12-06T10:00:10.000","step":2,"action":"DisCharge","how":"Stop","start":"2026-12-06T10:00:02.000","firstRecord":3,"lastRecord":3,"loop1":"2","loop2":"3"}
{"event":"run end","time":"2026-12-06T10:00:10.000","how":"stopped","records":3}
)";

} // namespace

class RunReportTest : public QObject
{
    Q_OBJECT

private slots:
    void simulatedRun_hasARowPerStepAndPass()
    {
        RunBench b(40);
        b.program(steps("DisCharge|CC|8|1|0|||0.5, CC 4 2 0.5, FOR||||2, CR 50 1.5 0.5, LOOP"));
        QCOMPARE(b.run(), RunEnd::Finished);
        RunReport report;
        QString error;
        const QString pdf = b.fixture.path("report.pdf");
        QVERIFY(buildRunReport({b.station().run.LogFileName, b.fixture.programPath(), {}, {}},
                               report, &error));
        QVERIFY2(writeReport(report, pdf, &error), qPrintable(error));
        // A row wherever Step or Loop1 changes, holding that pass's records.
        QList<QStringList> groups; // the records' steps, a list for each row
        QString last;
        for (const QStringList& r : b.records()) {
            if (r[1] + '/' + r[2] != last)
                groups.append(QStringList());
            last = r[1] + '/' + r[2];
            groups.last() << r[1];
        }
        QStringList expected, rows;
        for (const QStringList& g : groups)
            expected << g[0] + ':' + QString::number(g.size());
        for (const StepRow& row : report.rows)
            rows << QStringLiteral("%1:%2").arg(row.step).arg(row.endInstant - row.firstInstant);
        QCOMPARE(rows, expected);
        const QString text = pdfText(pdf);
        QVERIFY(text.contains(
            QStringLiteral("End of the report: %1 records, 4 step rows.").arg(b.records().size())));
        // 1 s, 2 s and twice 1.5 s by the program check; the run took about as long.
        QVERIFY2(text.contains(
                     QRegularExpression(QStringLiteral("Estimated run time +00:00:06, about"))),
                 qPrintable(text));
        QVERIFY(report.battery); // a discharge step: V against charge gets a page
        QVERIFY(text.contains(QStringLiteral("Page 5 of 5")));
    }

    void stoppedRun_leavesAReportSayingSo_keptWithItsLogByTheNextTest()
    {
        RunBench b(20);
        b.program({{"LoadLevel", "CC", "4", "60", "", "", "", "0.5", "", "50"}});
        RunReportJob job(b.station(), b.rc);
        job.setReportProgram(QStringLiteral(ACL3_REPORT_PATH));
        QSignalSpy written(&job, &RunReportJob::finished);
        for (int test = 0; test < 2; ++test) {
            b.ended.clear();
            b.rc.StartCommand();
            QVERIFY(QTest::qWaitFor([&] { return b.station().run.RecordNo > 3; }, 30000));
            b.rc.StopCommand();
            QVERIFY(b.waitForEnd());
            QVERIFY(job.waitForFinished(60000));
            QCOMPARE(written.size(), test + 1);
            QVERIFY2(written.last().at(0).toBool(), qPrintable(written.last().at(2).toString()));
        }
        const QString text = pdfText(RunReportJob::reportPathFor(b.station().run.LogFileName));
        QVERIFY2(text.contains(QRegularExpression(
                     QStringLiteral("How the run ended +Stopped by the operator \\(Stop\\)"))),
                 qPrintable(text));
        // The first test's report went with its log.
        const QString kept = b.rc.log().keptPreviousLog();
        QVERIFY(pdfText(RunReportJob::reportPathFor(kept))
                    .contains(QStringLiteral("Stopped by the operator")));
        QVERIFY(b.messages().isEmpty());
    }

    void reportThatCannotBeWritten_isSaidOnce_andTheLogStaysWhole()
    {
        RunBench b(20);
        b.program({{"LoadLevel", "CC", "4", "3", "", "", "", "0.5", "", "50"}});
        // A folder where the report should go: the report cannot replace it.
        QVERIFY(QDir().mkpath(b.fixture.path("TestLog/SN1.pdf")));
        RunReportJob job(b.station(), b.rc);
        job.setReportProgram(QStringLiteral(ACL3_REPORT_PATH));
        QCOMPARE(b.run(), RunEnd::Finished);
        QVERIFY(job.waitForFinished(60000));
        QCOMPARE(b.messages().size(), 1);
        QVERIFY2(
            b.messages().first().startsWith(QStringLiteral("The run's report %1 was not written (")
                                                .arg(b.fixture.path("TestLog/SN1.pdf"))),
            qPrintable(b.messages().first()));
        QCOMPARE(b.records().size(), b.station().run.RecordNo - 1);
        QVERIFY(b.records().size() >= 6);
    }

    void acl3Report_writesWhatTheLogAndItsJournalSay_data()
    {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected"); // patterns in the output (or in stderr)
        const QString stepOne =
            QStringLiteral("^ *1 +1 .* A +228\\.000 +229\\.000 +230\\.000 +1\\.000 +2\\.000 "
                           "+3\\.000 +230\\.000 +457\\.000 +684\\.000 +0\\.0008 +0\\.000190 *$");
        const QString stepTwoB = QStringLiteral(
            "^ *B +— +— +— +1\\.000 +1\\.000 +1\\.000 +— +— +— +0\\.0003 +0\\.000000 *$");
        QTest::newRow("no journal: steps inferred")
            << kTinyLog << QByteArray() << "r.pdf" << 0
            << QStringList{stepOne, stepTwoB, "step ends are inferred from the log's step column",
                           "^ *2 +2 +CR +10:00:02 +00:00:00 +end of log +A +220\\.000 ",
                           "Page 1 of 4"};
        // Run start, the start of step 1 and of step 2: no step end, no run end.
        const QList<QByteArray> events = kTinyJournal.split('\n');
        QTest::newRow("journal of a run cut short: a step holds the records up to the next")
            << kTinyLog << events[0] + '\n' + events[1] + '\n' + events[3] + '\n'
            << "r.pdf" << 0
            << QStringList{stepOne, "How the run ended +not known",
                           "^ *1 +1 .*LoadLevel .* +00:00:02 +unknown +A "};
        QTest::newRow("journal: how steps and the run ended, the pause")
            << kTinyLog << kTinyJournal << "r.pdf" << 0
            << QStringList{stepOne,
                           "SN J-7",
                           "How the run ended +Stopped by the operator \\(Stop\\)",
                           "Estimated run time +00:01:30",
                           "Load link +127\\.0\\.0\\.1:5025",
                           "Records +3",
                           "Step rows +2",
                           "^ *1 +1 .*LoadLevel +CC +3 +10:00:00 +00:00:02 +dwell time +A ",
                           "^ *2 +2 +2/3 +DisCharge +CR +50 +10:00:02 +00:00:08 +Stop +A ",
                           "2026-12-06 10:00:02 +paused in step 2",
                           "2026-12-06 10:00:05 +load out of reach \\(127\\.0\\.0\\.1:5025\\)",
                           "2026-12-06 10:00:10 +load reached again after 4 s",
                           "/nowhere/P\\.INI \\(the program \\S+ cannot be read\\)",
                           "Page 5 of 5"};
        QTest::newRow("html with SVG plots, the marks in the step they fell in")
            << kTinyLog << kTinyJournal << "r.html" << 0
            << QStringList{
                   "<td align=\"right\">457\\.000<br>231\\.000<br>232\\.000</td>",
                   "dwell time</td>.*\n.*Stop</td>.*\n<tr[^>]*><td colspan=\"21\"><span "
                   "class=\"note\">10:00:02 paused in step 2; 10:00:04 resumed after pause",
                   "(src=\"data:image/svg\\+xml;base64,[A-Za-z0-9+/=]{200,}\"[\\s\\S]*){4}"};
        QTest::newRow("not a run log")
            << QByteArray("[TestStep Option]\r\n") << QByteArray() << "r.pdf" << 2
            << QStringList{"is not a run log: its first line"};
        QTest::newRow("unknown output type")
            << kTinyLog << QByteArray() << "r.txt" << 2 << QStringList{"must end in .pdf or .html"};
    }
    void acl3Report_writesWhatTheLogAndItsJournalSay()
    {
        QFETCH(QByteArray, log);
        QFETCH(QByteArray, journal);
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        writeFile(dir.filePath("T.CSV"), log);
        if (!journal.isEmpty())
            writeFile(dir.filePath("T.journal"), journal);
        QProcess report;
        report.start(QStringLiteral(ACL3_REPORT_PATH),
                     {dir.filePath("T.CSV"), "-o", dir.filePath(output)});
        QVERIFY(report.waitForFinished(60000));
        QCOMPARE(report.exitCode(), exitCode);
        const QString text = exitCode != 0 ? QString::fromLocal8Bit(report.readAllStandardError())
                             : output.endsWith(".pdf")
                                 ? pdfText(dir.filePath(output))
                                 : QString::fromUtf8(readFile(dir.filePath(output)));
        QCOMPARE(QFileInfo::exists(dir.filePath(output)), exitCode == 0);
        for (const QString& pattern : expected)
            QVERIFY2(
                text.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)),
                qPrintable(pattern + "\n" + text.left(4000)));
    }
};

ACL3_WIDGET_TEST_MAIN(RunReportTest)
#include "tst_runreport.moc"
