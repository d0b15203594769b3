#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

#include <QtTest>

namespace {

// Steps written as "ActionMode|LoadModeVolt|CurrentValue|StopTime|...", missing fields empty.
std::vector<TestStep> steps(const QStringList& lines)
{
    std::vector<TestStep> out;
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char('|'));
        TestStep s;
        for (int f = 0; f < TestStep::kFieldCount; ++f)
            s.field(f) = fields.value(f);
        out.push_back(s);
    }
    return out;
}

QStringList lines(const ProgramCheck& check)
{
    QStringList out;
    for (const ProgramFinding& f : check.findings)
        out << findingLine(f);
    return out;
}

std::vector<TestStep> programFile(const QByteArray& content)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.INI"));
    writeFile(path, content);
    QString error;
    const auto read = readTestProgram(path, &error);
    if (!read)
        qFatal("%s", qPrintable(error));
    return read->steps;
}

const QString kLevel = QStringLiteral("LoadLevel|CC|1|2||||1||50");

} // namespace

class ProgramCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void eachFinding_isFoundOnAProgramThatHasIt_data()
    {
        QTest::addColumn<std::vector<TestStep>>("program");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, const QStringList& program,
                            const QStringList& expected) {
            QTest::newRow(name) << steps(program) << expected;
        };
        // Errors.
        row("no steps", {}, {"error: Please setup test step, then press START."});
        row("unknown action", {"Pause|||5||||1"},
            {"error: Step 1, Action Mode \"Pause\": not one of the 16 actions"});
        row("value not a number", {"LoadLevel|CC|abc|2||||1||50"},
            {"error: Step 1, Value \"abc\": not a number"});
        row("value outside its mode's range", {"LoadLevel|CR|0|2||||1||50"},
            {"error: Step 1, Value \"0\": Load Level must 0.533 ~ 10666(ohm) !"});
        row("pulse setting the load refuses", {kLevel, "PlusLoad|20|2|0.01|50|100|3|50|NextStep"},
            {"error: Step 2, Dwell Time(s) \"0.01\": T-High must 0.05 ~ 9999(mS) !"});
        row("measure time below 0.1 s", {kLevel, "Suspend|||10|0|||0.05|NextStep"},
            {"error: Step 2, MeasT(s) \"0.05\": Meas Time must 0.1 ~ 86400 !"});
        row("measure time missing", {kLevel, "DisCharge|CC|5|10|2|0|0||NextStep"},
            {"error: Step 2, MeasT(s) \"\": not a number"});
        row("ramp that is no whole number of measure times",
            {"LoadLevel|CC|0|0||||1||50", "RAMP ON|CC|10|5||||2"},
            {"error: Step 2, MeasT(s) \"2\": does not fit the ramp's 5 s: the run makes 2 passes "
             "of 2 s (4 s) and ends at 8, not 10"});
        row("hold longer than its time", {"LoadLevel|CC|0|0||||1||50", "RAMP OFF|CC|5|3||||4"},
            {"error: Step 2, MeasT(s) \"4\": does not fit the hold's 3 s: the run makes no pass "
             "and does not hold"});
        row("step of a day", {"Suspend|||86400|0|||1|NextStep"},
            {"error: Step 1, Dwell Time(s) \"86400\": a day or more: the run times a step by the "
             "time of day, which starts again at midnight, so the step would never end"});
        row("FOR without LOOP", {"FOR||||2", kLevel},
            {"error: Step 1, Action Mode \"FOR\": has no LOOP after it"});
        row("LOOP without FOR", {kLevel, "LOOP"},
            {"error: Step 2, Action Mode \"LOOP\": no FOR before it opens a loop for it to end"});
        row("loops that cross", {"FOR||||2", "FOR2||||2", kLevel, "LOOP", "LOOP2"},
            {"error: Step 4, Action Mode \"LOOP\": ends the FOR of step 1 while the FOR2 of step "
             "2 is still open: the loops cross"});
        row("FOR inside FOR", {"FOR||||2", "FOR||||2", kLevel, "LOOP", "LOOP"},
            {"error: Step 2, Action Mode \"FOR\": inside the FOR of step 1, which has no LOOP "
             "yet: the run keeps one FOR loop at a time",
             "error: Step 5, Action Mode \"LOOP\": no FOR before it opens a loop for it to end"});
        row("go-to beyond the program", {kLevel, "PlusLoad|20|2|50|50|100|3|50|99"},
            {"error: Step 2, Go To \"99\": beyond the program's 2 steps (3 ends the program)"});
        row("go-to that is no target", {kLevel, "PlusLoad|20|2|50|50|100|3|50|Step3"},
            {"error: Step 2, Go To \"Step3\": neither a step number nor one of NextStep, "
             "EndLoop, EndLoop2, Continue"});
        // Warnings.
        row("long discharge without any stop", {kLevel, "DisCharge|CC|5|3600|0|0|0|1|NextStep"},
            {"warning: Step 2, Dwell Time(s) \"3600\": a discharge with neither a stop value nor "
             "a stop charge runs all of its 3600 s"});
        row("long over-discharge", {kLevel, "OverDisCharge|CC|5|600|1|1|1|1|NextStep"},
            {"warning: Step 2, Dwell Time(s) \"600\": an over-discharge runs all of its 600 s: the "
             "run checks no stop value or stop charge on it"});
        row("go-to back", {kLevel, "FOR||||2", kLevel, "PlusLoad|20|2|50|50|100|3|50|1", "LOOP"},
            {"warning: Step 4, Go To \"1\": an \"NG\" goes back to step 1: while the pulse load "
             "fails, steps 1 to 4 repeat without end"});
        const QString pause = QStringLiteral("Suspend|||2|0|||1|NextStep");
        row("go-to onto a loop end",
            {kLevel, "FOR||||2", "PlusLoad|20|2|50|50|100|3|50|5", pause, "LOOP"},
            {"warning: Step 3, Go To \"5\": an \"NG\" lands on the LOOP of step 5, which sets its "
             "loop's count back to the start: while the pulse load fails, the loop repeats without "
             "end (Continue counts the pass instead)"});
        row("no go-to", {kLevel, "PlusLoad|20|2|50|50|100|3|50|", pause},
            {"warning: Step 2, Go To \"\": an \"NG\" starts this step again: while the pulse load "
             "fails, it repeats without end"});
        row("EndLoop outside any loop",
            {kLevel, "PlusLoad|20|2|50|50|100|3|50|EndLoop", "FOR||||2",
             "DisCharge|CC|5|2|0|0|0|1|NextStep", "LOOP", pause},
            {"warning: Step 2, Go To \"EndLoop\": this step is in no FOR loop: an \"NG\" jumps on "
             "to step 6"});
        row("go-to never followed", {kLevel, "Charge|5|1|10|0|1|0|1|EndLoop"},
            {"warning: Step 2, Go To \"EndLoop\": never followed: the run follows a go-to only "
             "after a pulse load's \"NG\"; this step goes on with the next"});
        row("measure time longer than the dwell", {kLevel, "Suspend|||2|0|||5|NextStep"},
            {"warning: Step 2, MeasT(s) \"5\": longer than the step's dwell time of 2 s: the step "
             "may end before it is measured"});
        row("ramp from a level in another mode",
            {"LoadLevel|CR|50|0||||1||50", "RAMP ON|CC|10|4||||1"},
            {"warning: Step 2, Mode \"CC\": ramps from 50, the value of step 1 (LoadLevel CR), "
             "which is no level in CC"});
        row("ramp the run timer carries", {kLevel, "RAMP ON|CC|5|4||||1"},
            {"warning: Step 2, Action Mode \"RAMP ON\": comes after the first step that is "
             "waited on, so the run timer carries it: it sends no level and only measures for 4 "
             "s; ramps and holds belong before that step"});
        row("dwell time the run reads as 0", {kLevel, "Suspend|||abc|0|||1|NextStep"},
            {"warning: Step 2, Dwell Time(s) \"abc\": not a number: the run takes it as 0"});
        row("loop count below 1", {"FOR||||0", kLevel, "LOOP"},
            {"warning: Step 1, Loop Times \"0\": Loop Times must be a whole number 1 ~ 32767 !"});
        // None.
        QTest::newRow("example program of a new station")
            << programFile(exampleTestProgram()) << QStringList();
        for (const char* example : {"battery-discharge.INI", "pulse-load.INI"})
            QTest::newRow(example)
                << programFile(readFile(QStringLiteral(ACL3_EXAMPLES_DIR "/") + example))
                << QStringList();
    }
    void eachFinding_isFoundOnAProgramThatHasIt()
    {
        QFETCH(std::vector<TestStep>, program);
        QFETCH(QStringList, expected);
        // One text: a difference shows itself whole.
        QCOMPARE(lines(checkProgram(program)).join(QLatin1Char('\n')),
                 expected.join(QLatin1Char('\n')));
    }

    void estimate_walksTheProgramAsTheRunDoes_data()
    {
        QTest::addColumn<QStringList>("program");
        QTest::addColumn<double>("full");
        QTest::addColumn<double>("shortest");
        QTest::addColumn<qint64>("records");
        QTest::addColumn<QString>("text");
        // Start carries steps 1 to 3 (a record, a ramp of 4 passes of 1 s less 16 ms, the load
        // level's first record): 3.936 s, 6 records; step 3 then measures at 1 and 2 s. Each
        // outer pass: three pulse loads of 10 x 100 ms (their set-up of 50 ms is within the
        // 100 ms lead), one record each, and the discharge's 10 s. The Suspend's 2 s last.
        // Shortest: each pass's first pulse load fails and leaves the inner loop, and the
        // discharge ends at its stop voltage at its first measurement.
        QTest::newRow("nested loops, ramp, pulse load, discharge with a stop voltage")
            << QStringList{"LoadLevel|CC|0|0||||1||50",
                           "RAMP ON|CC|10|4||||1",
                           "LoadLevel|CC|10|2||||1||50",
                           "FOR||||2",
                           "FOR2||||3",
                           "PlusLoad|20|2|50|50|100|10|50|EndLoop2",
                           "LOOP2",
                           "DisCharge|CC|5|10|3|0|0|1|NextStep",
                           "LOOP",
                           "Suspend|||2|0|||1|NextStep"}
            << 33.936 << 11.936 << qint64(36)
            << "00:00:34 (00:00:12 to 00:00:34), about 36 records";
        // Measured at 1 and 2 s; the end of the dwell time comes before the instant at 3 s.
        QTest::newRow("dwell time between measuring instants")
            << QStringList{"LoadLevel|CC|1|2.5||||1||50"} << 2.497 << 2.497 << qint64(3)
            << "00:00:02, about 3 records";
        // Started on the load at hand-over as the timer starts every step: its 10 s count from
        // then, settling included; then 5 s and 4 s (a dry run records the same 18).
        QTest::newRow("discharge as the first step the run waits on")
            << QStringList{"DisCharge|CC|5|10|0|2|0|1|NextStep", "LoadLevel|CC|5|5||||1||50",
                           "Suspend|||4|0|||1|NextStep"}
            << 19.0 << 19.0 << qint64(18) << "00:00:19, about 18 records";
        // A billion passes of one second, each alike: counted, not walked.
        QTest::newRow("loops of loops") << QStringList{"FOR||||32767", "FOR2||||32767",
                                                       "LoadLevel|CC|1|1||||1||50", "LOOP2", "LOOP"}
                                        << 1073676289.0 << 1073676289.0 << qint64(1073676290)
                                        << "298243:24:49, about 1,073,676,290 records";
        // An "NG" starts the pulse load again: no end to the longest run.
        QTest::newRow("pulse load that may repeat")
            << QStringList{kLevel, "PlusLoad|20|2|500|500|100|2|50|0"} << 4.0 << 4.0 << qint64(4)
            << "00:00:04 (00:00:04 to no end), about 4 records";
    }
    void estimate_walksTheProgramAsTheRunDoes()
    {
        QFETCH(QStringList, program);
        QFETCH(double, full);
        QFETCH(double, shortest);
        QFETCH(qint64, records);
        QFETCH(QString, text);
        const RunEstimate e = checkProgram(steps(program)).estimate;
        QCOMPARE(e.fullSeconds, full);
        QCOMPARE(e.shortestSeconds, shortest);
        QCOMPARE(e.records, records);
        QVERIFY(e.complete);
        QCOMPARE(estimateText(e), text);
    }

    void refusal_listsTenErrorsAndCountsTheRest()
    {
        const QStringList program(12, QStringLiteral("LoadLevel|CR|0|0||||1||50"));
        const QStringList refusal =
            programRefusal(checkProgram(steps(program)).findings).split('\n');
        QCOMPARE(refusal.size(), 12);
        QCOMPARE(refusal[0], "The test was not started: the program check found 12 errors.");
        QVERIFY(refusal[10].startsWith("Step 10, Value"));
        QCOMPARE(refusal[11], QStringLiteral("... and 2 more."));
    }
};

ACL3_TEST_MAIN(ProgramCheckTest)
#include "tst_programcheck.moc"
