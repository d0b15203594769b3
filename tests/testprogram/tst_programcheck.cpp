// Protects the program check: each finding on a program that has it, and the run time estimate.
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"
#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

namespace {

// Steps split by "/", fields by "|"; "L" stands for a load level of 2 s, "P" for a pause of 2 s;
// "@name" is a file of the examples folder, "@example" a new station's example program.
std::vector<TestStep> steps(const QString& program)
{
    if (program.startsWith(u'@')) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("p.INI"));
        writeFile(path, program == "@example"
                            ? exampleTestProgram()
                            : readFile(QStringLiteral(ACL3_EXAMPLES_DIR "/") + program.mid(1)));
        QString error;
        const auto read = readTestProgram(path, &error);
        return read ? read->steps : std::vector<TestStep>{};
    }
    std::vector<TestStep> out;
    for (QString line : program.split(u'/', Qt::SkipEmptyParts)) {
        line = line == "L"   ? "LoadLevel|CC|1|2||||1||50"
               : line == "P" ? "Suspend|||2|0|||1|NextStep"
                             : line;
        const QStringList fields = line.split(u'|');
        TestStep s;
        for (int f = 0; f < TestStep::kFieldCount; ++f)
            s.field(f) = fields.value(f);
        out.push_back(s);
    }
    return out;
}

} // namespace

class ProgramCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void eachFinding_isFoundOnAProgramThatHasIt_data()
    {
        // The start of each finding's line, in order, split by "#".
        addColumns({"program", "expected"});
        addRows({
            "no steps;;error: Please setup test step, then press START.",
            "unknown action;Pause|||5||||1;error: Step 1, Action Mode \"Pause\": not one of the 16",
            "value not a number;LoadLevel|CC|abc|2||||1||50;error: Step 1, Value \"abc\": not a",
            "value outside its mode's range;LoadLevel|CR|0|2||||1||50;error: Step 1, Value \"0\": "
            "Load Level must 0.533 ~ 10666(ohm) !",
            "pulse setting the load refuses;L/PlusLoad|20|2|0.01|50|100|3|50|NextStep;error: Step "
            "2, Dwell Time(s) \"0.01\": T-High must 0.05 ~ 9999(mS) !",
            "measure time below 0.1 s;L/Suspend|||10|0|||0.05|NextStep;error: Step 2, MeasT(s) "
            "\"0.05\": Meas Time must",
            "measure time missing;L/DisCharge|CC|5|10|2|0|0||NextStep;error: Step 2, MeasT(s) \"\"",
            "ramp of no whole number of measure times;LoadLevel|CC|0|0||||1||50/RAMP "
            "ON|CC|10|5||||2;error: Step 2, MeasT(s) \"2\": does not fit the ramp's 5 s: the run "
            "makes 2 passes of 2 s (4 s) and ends at 8, not 10",
            "hold longer than its time;LoadLevel|CC|0|0||||1||50/RAMP OFF|CC|5|3||||4;error: Step "
            "2, MeasT(s) \"4\": does not fit the hold's 3 s: the run makes no pass",
            "step of a day;Suspend|||86400|0|||1|NextStep;error: Step 1, Dwell Time(s) \"86400\"",
            "FOR without LOOP;FOR||||2/L;error: Step 1, Action Mode \"FOR\": has no LOOP",
            "LOOP without FOR;L/LOOP;error: Step 2, Action Mode \"LOOP\": no FOR before it",
            "loops that cross;FOR||||2/FOR2||||2/L/LOOP/LOOP2;error: Step 4, Action Mode \"LOOP\": "
            "ends the FOR of step 1 while the FOR2 of step 2 is still open",
            "FOR inside FOR;FOR||||2/FOR||||2/L/LOOP/LOOP;error: Step 2, Action Mode \"FOR\": "
            "inside the FOR of step 1,#error: Step 5, Action Mode \"LOOP\": no FOR before it",
            "go-to beyond the program;L/PlusLoad|20|2|50|50|100|3|50|99;error: Step 2, Go To "
            "\"99\": beyond the program's 2 steps (3 ends the program)",
            "go-to that is no target;L/PlusLoad|20|2|50|50|100|3|50|Step3;error: Step 2, Go To "
            "\"Step3\": neither",
            "long discharge without any stop;L/DisCharge|CC|5|3600|0|0|0|1|NextStep;warning: Step "
            "2, Dwell Time(s) \"3600\": a discharge with neither a stop value nor a stop charge "
            "runs all of its 3600 s",
            "long over-discharge;L/OverDisCharge|CC|5|600|1|1|1|1|NextStep;warning: Step 2, Dwell "
            "Time(s) \"600\": an over-discharge runs all of its 600 s",
            "go-to back;L/FOR||||2/L/PlusLoad|20|2|50|50|100|3|50|1/LOOP;warning: Step 4, Go To "
            "\"1\": an \"NG\" goes back to step 1: while the pulse load fails, steps 1 to 4",
            "go-to onto a loop end;L/FOR||||2/PlusLoad|20|2|50|50|100|3|50|5/P/LOOP;warning: Step "
            "3, Go To \"5\": an \"NG\" lands on the LOOP of step 5",
            "no go-to;L/PlusLoad|20|2|50|50|100|3|50|/P;warning: Step 2, Go To \"\": an \"NG\"",
            "EndLoop outside any loop;L/PlusLoad|20|2|50|50|100|3|50|EndLoop/FOR||||2/"
            "DisCharge|CC|5|2|0|0|0|1|NextStep/LOOP/P;warning: Step 2, Go To \"EndLoop\": this "
            "step is in no FOR loop: an \"NG\" jumps on to step 6",
            "go-to never followed;L/Charge|5|1|10|0|1|0|1|EndLoop;warning: Step 2, Go To "
            "\"EndLoop\": never followed",
            "measure time longer than the dwell;L/Suspend|||2|0|||5|NextStep;warning: Step 2, "
            "MeasT(s) \"5\": longer than the step's dwell time of 2 s",
            "ramp from a level in another mode;LoadLevel|CR|50|0||||1||50/RAMP "
            "ON|CC|10|4||||1;warning: Step 2, Mode \"CC\": ramps from 50, the value of step 1 "
            "(LoadLevel CR), which is no level in CC",
            "ramp the run timer carries;L/RAMP ON|CC|5|4||||1;warning: Step 2, Action Mode \"RAMP "
            "ON\": comes after the first step that is waited on, so the run timer carries it: it "
            "sends no level and only measures for 4 s",
            "dwell time the run reads as 0;L/Suspend|||abc|0|||1|NextStep;warning: Step 2, Dwell "
            "Time(s) \"abc\"",
            "loop count below 1;FOR||||0/L/LOOP;warning: Step 1, Loop Times \"0\"",
            "example program of a new station;@example;",
            "battery example;@battery-discharge.INI;",
            "pulse example;@pulse-load.INI;",
        });
    }
    void eachFinding_isFoundOnAProgramThatHasIt()
    {
        QFETCH(QString, program);
        QFETCH(QString, expected);
        const std::vector<TestStep> checked = steps(program);
        QVERIFY(!program.startsWith(u'@') || !checked.empty());
        QStringList found;
        for (const ProgramFinding& f : checkProgram(checked).findings)
            found << findingLine(f);
        const QStringList starts = expected.split(u'#', Qt::SkipEmptyParts);
        QVERIFY2(found.size() == starts.size(), qPrintable(found.join(u'\n')));
        for (qsizetype i = 0; i < found.size(); ++i)
            QVERIFY2(found[i].startsWith(starts[i]), qPrintable(found[i]));
    }

    void estimate_walksTheProgramAsTheRunDoes_data()
    {
        addColumns({"program", "full", "shortest", "records", "text"});
        // Start carries steps 1 to 3 (a record, a ramp of 4 passes of 1 s less 16 ms, the load
        // level's first record): 3.936 s, 6 records; step 3 then measures at 1 and 2 s. Each
        // outer pass: three pulse loads of 10 x 100 ms (their set-up of 50 ms is within the
        // 100 ms lead), one record each, and the discharge's 10 s. The Suspend's 2 s last.
        // Shortest: each pass's first pulse load fails and leaves the inner loop, and the
        // discharge ends at its stop voltage at its first measurement.
        addRows(
            {"nested loops, ramp, pulse load, discharge with a stop "
             "voltage;LoadLevel|CC|0|0||||1||50/RAMP ON|CC|10|4||||1/LoadLevel|CC|10|2||||1||50/"
             "FOR||||2/FOR2||||3/PlusLoad|20|2|50|50|100|10|50|EndLoop2/LOOP2/"
             "DisCharge|CC|5|10|3|0|0|1|NextStep/LOOP/Suspend|||2|0|||1|NextStep;33.936;11.936;"
             "36;00:00:34 (00:00:12 to 00:00:34), about 36 records"});
        // Measured at 1 and 2 s; the end of the dwell time comes before the instant at 3 s.
        addRows({"dwell time between measuring instants;LoadLevel|CC|1|2.5||||1||50;2.497;2.497;3;"
                 "00:00:02, about 3 records"});
        // Started on the load at hand-over as the timer starts every step: its 10 s count from
        // then, settling included; then 5 s and 4 s (a dry run records the same 18).
        addRows({"discharge as the first step the run waits "
                 "on;DisCharge|CC|5|10|0|2|0|1|NextStep/LoadLevel|CC|5|5||||1||50/"
                 "Suspend|||4|0|||1|NextStep;19;19;18;00:00:19, about 18 records"});
        // A billion passes of one second, each alike: counted, not walked.
        addRows(
            {"loops of loops;FOR||||32767/FOR2||||32767/LoadLevel|CC|1|1||||1||50/LOOP2/"
             "LOOP;1073676289;1073676289;1073676290;298243:24:49, about 1,073,676,290 records"});
        // An "NG" starts the pulse load again: no end to the longest run.
        addRows({"pulse load that may repeat;L/PlusLoad|20|2|500|500|100|2|50|0;4;4;4;00:00:04 "
                 "(00:00:04 to no end), about 4 records"});
    }
    void estimate_walksTheProgramAsTheRunDoes()
    {
        QFETCH(QString, program);
        QFETCH(QString, full);
        QFETCH(QString, shortest);
        QFETCH(QString, records);
        QFETCH(QString, text);
        const RunEstimate e = checkProgram(steps(program)).estimate;
        QCOMPARE(e.fullSeconds, full.toDouble());
        QCOMPARE(e.shortestSeconds, shortest.toDouble());
        QCOMPARE(e.records, records.toLongLong());
        QVERIFY(e.complete);
        QCOMPARE(estimateText(e), text);
    }

    void refusal_listsTenErrorsAndCountsTheRest()
    {
        const QStringList refusal =
            programRefusal(
                checkProgram(steps(QStringList(12, "LoadLevel|CR|0|0||||1||50").join(u'/')))
                    .findings)
                .split('\n');
        QCOMPARE(refusal.size(), 12);
        QCOMPARE(refusal[0], "The test was not started: the program check found 12 errors.");
        QVERIFY(refusal[10].startsWith("Step 10, Value"));
        QCOMPARE(refusal[11], QStringLiteral("... and 2 more."));
    }
};

ACL3_TEST_MAIN(ProgramCheckTest)
#include "tst_programcheck.moc"
