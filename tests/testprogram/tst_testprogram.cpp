// Protects the program files (saved, read back, repaired, refused) and the program check.
#include "common/AtomicFile.h"
#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"
#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

#include <QRegularExpression>
#include <sys/stat.h>

namespace {

const QString kOpenError = QStringLiteral("Open Error, For - Loop use method have error, Please "
                                          "check it. (System auto addition LOOP function at last)");
const QString kSuspend = QStringLiteral("Suspend|||1|0|||1|NextStep|-");

void setGridProgram(Station& s, const QStringList& steps)
{
    GridModel& g = s.form.TestStepGrid;
    g.setRows(steps.size() + 1);
    for (int n = 1; n <= steps.size(); ++n)
        g.setRowTexts(n, QStringList{QString::number(n)} + steps[n - 1].split(u'|'));
}

// Steps split by "/", fields by "|"; "L" stands for a load level of 2 s, "P" for a pause of 2 s.
std::vector<TestStep> checkedSteps(const QString& program)
{
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

// Actions split by "/"; "A*N" stands for N steps A.
QStringList actionsOf(const QString& text)
{
    QStringList out;
    for (const QString& a : text.split(u'/'))
        out << QStringList(qMax(1, a.section(u'*', 1).toInt()), a.section(u'*', 0, 0));
    return out;
}

} // namespace

class TestProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void program1500Steps_savesAndLoadsBackFieldForField()
    {
        StationFixture f;
        Station& s = *f.station;
        InitGrids(s);
        QStringList lines;
        const QStringList acts = actions::all();
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            QStringList row{acts[(n - 1) % acts.size()]};
            for (int c = 2; c <= 10; ++c)
                row << QStringLiteral("%1.%2").arg(n).arg(c);
            row[8] = n % 3 == 0 ? QString() : QStringLiteral("EndLoop"); // GoToStep
            lines << row.join(u'|');
        }
        setGridProgram(s, lines);
        QVERIFY(saveProgramAs(s, f.programPath()));

        StationFixture g;
        Station& t = *g.station;
        t.settings.TestFileName = f.programPath();
        InitGrids(t);
        QVERIFY(LoadTestProgram(t));
        QCOMPARE(t.TotalStepCount, kMaxProgramSteps);
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            QStringList expected = lines[n - 1].split(u'|');
            // The saving station's table is the grid it saved, frequency and all.
            QCOMPARE(s.StepTable[n - 1].Frequency, expected[9]);
            if (expected[0] != actions::LoadLevel)
                expected[9] = QString(); // only a load level's frequency is read back
            for (int fld = 0; fld < TestStep::kFieldCount; ++fld)
                QCOMPARE(t.StepTable[n - 1].field(fld), expected[fld]);
            QCOMPARE(t.form.TestStepGrid.rowTexts(n), QStringList{QString::number(n)} + expected);
        }
        QVERIFY(g.prompts.shown.empty());
    }

    void load_missingKeysTakeDefaultsAndEmptyValuesStayEmpty()
    {
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[0].Frequency = QStringLiteral("55");
        // A charge's Frequency key is not read; a load level's missing one takes the default.
        writeFile(f.programPath(),
                  programFile({"Charge|14|2|60|0.1|1|1|1|-|99", "LoadLevel|CC|10|0||||-||-",
                               "Suspend|-|-|-|-|-|-|-|-|-"},
                              "MeasureVoltage=0\r\nMeasureResistant=1\r\nMeasureAddKWH=1\r\n"
                              "MeasureTime=0.25\r\n"));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(QStringList({s.StepTable[0].GoToStep, s.StepTable[0].Frequency,
                              s.form.TestStepGrid.text(1, 10), s.StepTable[1].GoToStep,
                              s.StepTable[1].Frequency, s.StepTable[1].MeasTime}),
                 QStringList({"NextStep", "55", "", "", "40", "1"}));
        QCOMPARE(s.form.TestStepGrid.rowTexts(3, 1),
                 QStringLiteral("Suspend|0|0|0|0|0|0|1|NextStep|").split(u'|'));
        QCOMPARE(QList<bool>({s.form.Check1.flag(), s.form.Check2.flag(), s.form.Check7.flag(),
                              s.form.Check4.flag()}),
                 QList<bool>({false, true, true, true}));
        QCOMPARE(s.MeasureOptions.MeasureCapability, 1);
        QCOMPARE(s.MeasureOptions.MeasureTime, 0.25);
    }

    void load_unbalancedLoopsAreRepairedInGridAndTable_data()
    {
        addColumns({"file", "loaded", "message"});
        addRows({"lone LOOP: message, nothing appended;LOOP;LOOP;1",
                 "LOOP then FOR is balanced;LOOP/FOR;LOOP/FOR;0",
                 "two openers, two closers;FOR/FOR2/LOOP2/LOOP;FOR/FOR2/LOOP2/LOOP;0",
                 "FOR FOR LOOP appends one LOOP;FOR/FOR/LOOP;FOR/FOR/LOOP/LOOP;1",
                 "FOR and FOR2 left open;FOR/FOR2/DisCharge;FOR/FOR2/DisCharge/LOOP2/LOOP;1",
                 "repair of 1500 steps stays in the table;FOR/FOR/Suspend*1498;FOR/FOR/"
                 "Suspend*1498/LOOP;1"});
    }
    void load_unbalancedLoopsAreRepairedInGridAndTable()
    {
        QFETCH(QString, file);
        QFETCH(QString, loaded);
        QFETCH(QString, message);
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[3].ActionMode = QStringLiteral("DisCharge"); // left from an earlier program
        QStringList steps;
        for (const QString& a : actionsOf(file))
            steps << a + "||||1|||||-";
        writeFile(f.programPath(), programFile(steps));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        // A run started without a save executes what the grid shows.
        QStringList grid;
        QStringList table;
        for (int n = 1; n < s.form.TestStepGrid.rows(); ++n) {
            grid << s.form.TestStepGrid.text(n, 1);
            table << s.StepTable[n - 1].ActionMode;
        }
        QCOMPARE(grid, actionsOf(loaded));
        QCOMPARE(table, grid);
        QCOMPARE(s.TotalStepCount, grid.size());
        QCOMPARE(f.prompts.messages(), message == "1" ? QStringList{kOpenError} : QStringList());
        QCOMPARE(readFile(f.programPath()), programFile(steps)); // the file is not touched
    }

    void open_ofARefusedFileChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // none: the file is not written
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const char* file, const QByteArray& content,
                            const QString& reason) {
            QTest::newRow(name) << file << content << reason;
        };
        for (const char* key :
             {"TotalStepCount=1501", "TotalStepCount=-1", "TotalStepCount=2.5",
              "TotalStepCount=abc", "MeasureKWH=yes", "MeasureVoltage=", "MeasureTime=fast"})
            row(key, "bad.INI",
                "[TestStep Option]\n" + QByteArray(key) + "\n[Step1]\nActionMode=FOR\n",
                QString::fromLatin1(key).section(u'=', 0, 0));
        const QByteArray twoSteps =
            "[TestStep Option]\nTotalStepCount=2\n[Step1]\nActionMode=FOR\n";
        row("step without its section", "bad.INI", twoSteps,
            "TotalStepCount is 2, but there is no [Step2]");
        row("action not one of the sixteen", "bad.INI",
            twoSteps + "[Step2]\nActionMode=Discharge\n", "ActionMode of [Step2] is \"Discharge\"");
        row("the station's ACL3.INI", "ACL3.INI", defaultSettingsFile(),
            "no [TestStep Option] section");
        row("UTF-16", "u.INI", "\xFF\xFE[", "UTF-16");
        row("device", "/dev/zero", {}, "not a regular file");
        row("pipe", "fifo", {}, "not a regular file");
        row("missing", "missing.INI", {}, "does not exist");
        row("too large", "big.INI", QByteArray(17 << 20, ' '), "larger than 16 MB");
    }
    void open_ofARefusedFileChangesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), programFile({kSuspend}));
        LoadSystemSettings(s);
        const StepRecords before = s.StepTable;
        if (name == "fifo")
            QCOMPARE(::mkfifo(qPrintable(f.path(name)), 0600), 0);
        else if (!content.isEmpty())
            writeFile(f.path(name), content);
        f.prompts.scriptFileNames({f.path(name)});
        QVERIFY(!OpenCommand(s));
        const QString message = f.prompts.messages().value(0);
        QVERIFY2(message.contains(QDir::toNativeSeparators(f.path(name))) &&
                     message.contains(reason),
                 qPrintable(message));
        QCOMPARE(f.prompts.messages().size(), 1);
        QCOMPARE(s.settings.TestFileName, f.programPath());
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("Suspend"));
        QVERIFY(s.StepTable == before);
        QCOMPARE(readFile(f.path("ACL3.INI")), name == "ACL3.INI" ? content : QByteArray());
    }

    void save_data()
    {
        // existing: Suspend steps before, and a key not written; grid: "S" a Suspend, "#N" rows.
        addColumns({"existing", "grid", "fault", "saved", "message", "file"});
        addRows(
            {"options and steps in key order;;DisCharge|CC|10|5|12.5|1|0|1|NextStep|;;1;;[TestStep "
             "Option]\r\nMeasureVoltage=1\r\nMeasureCurrent=1\r\nMeasurePower="
             "1\r\nMeasureResistant=0\r\nMeasureKWH=1\r\nMeasureCapability=1\r\nMeasureTime="
             "1\r\nTotalStepCount=1\r\n[Step1]\r\nActionMode=DisCharge\r\nLoadModeVolt="
             "CC\r\nCurrentValue=10\r\nStopTime=5\r\nStopValue=12.5\r\nStableTime=1\r\nStopAH="
             "0\r\nMeasTime=1\r\nGoToStep=NextStep\r\nFrequency=\r\n",
             "keeps keys it does not write and left-over steps;5;S/S;;1;;MeasureAddKWH=1|"
             "TotalStepCount=2|[Step5]\r\nActionMode=Suspend",
             "unbalanced loops written with a warning;;FOR||||2/S;;1;Save has Error, For - "
             "Loop use method have error, Please check it;[Step2]\r\nActionMode=Suspend",
             "more than 1500 steps refused;;#1501;;0;Test Step too much, Please check it.;",
             "disk full while writing;1;FOR||||2/LOOP;write;0;TestFile01.INI;",
             "rename refused;1;FOR||||2/LOOP;rename;0;TestFile01.INI;"});
    }
    void save()
    {
        QFETCH(QString, existing);
        QFETCH(QString, grid);
        QFETCH(QString, fault);
        QFETCH(QString, saved);
        QFETCH(QString, message);
        QFETCH(QString, file);
        StationFixture f;
        Station& s = *f.station;
        InitGrids(s);
        s.settings.TestFileName = f.programPath();
        if (!existing.isEmpty()) {
            writeFile(f.programPath(),
                      programFile(QStringList(existing.toInt(), kSuspend), "MeasureAddKWH=1\r\n"));
            QVERIFY(LoadTestProgram(s));
        }
        const QByteArray before = readFile(f.programPath());
        const StepRecords table = s.StepTable;
        QStringList steps = grid.split(u'/');
        steps.replaceInStrings(QRegularExpression("^S$"), kSuspend);
        if (grid.startsWith(u'#'))
            s.form.TestStepGrid.setRows(grid.mid(1).toInt() + 1);
        else
            setGridProgram(s, steps);
        const QString firstAction = s.form.TestStepGrid.text(1, 1);
        setAtomicWriteFaultForTesting(fault == "write"    ? AtomicWriteFault::Write
                                      : fault == "rename" ? AtomicWriteFault::Rename
                                                          : AtomicWriteFault::None);
        f.prompts.scriptFileNames({f.programPath()});
        const bool ok = SaveCommand(s);
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        QCOMPARE(ok, saved == "1");
        QCOMPARE(f.prompts.messages().size(), message.isEmpty() ? 0 : 1);
        QVERIFY2(f.prompts.messages().value(0).contains(message), qPrintable(message));
        // No temporary file is left beside the program, saved or not.
        QCOMPARE(QDir(f.dir.path()).entryList({".*"}, QDir::Files | QDir::Hidden), QStringList());
        const QString after = QString::fromUtf8(readFile(f.programPath()));
        for (const QString& part : file.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(after.contains(part), qPrintable(after));
        if (ok) {
            QCOMPARE(s.TotalStepCount, steps.size());
            return;
        }
        QCOMPARE(after.toUtf8(), before);
        QVERIFY(s.StepTable == table);
        // Nothing was lost: the grid still holds what the operator edited.
        QCOMPARE(s.form.TestStepGrid.text(1, 1), firstAction);
    }

    void eachFinding_isFoundOnAProgramThatHasIt_data()
    {
        // The start of each finding's line, in order, split by "#".
        addColumns({"program", "expected"});
        addRows({
            "no steps;;error: Please setup test step, then press START.",
            "unknown action;Pause|||5||||1;error: Step 1, Action Mode \"Pause\": not one of the 16",
            "value not a number;LoadLevel|CC|abc|2||||1||50;error: Step 1, Value \"abc\": not a",
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
        });
    }
    void eachFinding_isFoundOnAProgramThatHasIt()
    {
        QFETCH(QString, program);
        QFETCH(QString, expected);
        QStringList found;
        for (const ProgramFinding& f : checkProgram(checkedSteps(program)).findings)
            found << findingLine(f);
        const QStringList starts = expected.split(u'#', Qt::SkipEmptyParts);
        QVERIFY2(found.size() == starts.size(), qPrintable(found.join(u'\n')));
        for (qsizetype i = 0; i < found.size(); ++i)
            QVERIFY2(found[i].startsWith(starts[i]), qPrintable(found[i]));
    }

    void estimate_walksTheProgramAsTheRunDoes_data()
    {
        addColumns({"program", "full", "shortest", "records", "text"});
        // Shortest: each first pulse load fails, each discharge ends at its first measurement.
        addRows(
            {"nested loops, ramp, pulse load, discharge with a stop "
             "voltage;LoadLevel|CC|0|0||||1||50/RAMP ON|CC|10|4||||1/LoadLevel|CC|10|2||||1||50/"
             "FOR||||2/FOR2||||3/PlusLoad|20|2|50|50|100|10|50|EndLoop2/LOOP2/"
             "DisCharge|CC|5|10|3|0|0|1|NextStep/LOOP/Suspend|||2|0|||1|NextStep;33.936;11.936;"
             "36;00:00:34 (00:00:12 to 00:00:34), about 36 records"});
        // Measured at 1 and 2 s; the end of the dwell time comes before the instant at 3 s.
        addRows({"dwell time between measuring instants;LoadLevel|CC|1|2.5||||1||50;2.497;2.497;3;"
                 "00:00:02, about 3 records"});
        // Its 10 s count from the hand-over, settling included (a dry run records the same 18).
        addRows({"discharge as the first step the run waits "
                 "on;DisCharge|CC|5|10|0|2|0|1|NextStep/LoadLevel|CC|5|5||||1||50/"
                 "Suspend|||4|0|||1|NextStep;19;19;18;00:00:19, about 18 records"});
        // A billion passes of one second, each alike: counted, not walked.
        addRows(
            {"loops of loops;FOR||||32767/FOR2||||32767/LoadLevel|CC|1|1||||1||50/LOOP2/"
             "LOOP;1073676289;1073676289;1073676290;298243:24:49, about 1,073,676,290 records"});
        // Passes that never line up with the measuring instants: the walk gives up on them.
        addRows(
            {"walk given up;FOR||||32767/FOR2||||32767/LoadLevel|CC|1|1.37||||1.01||50/"
             "LOOP2/LOOP;683224.365;683224.365;676460;at least 189:47:04, about 676,460 records"});
        // The instant at 10 s comes within the dwell time's 50 ms: it ends the step (a dry run
        // records the same 11).
        addRows({"dwell time over at a measuring instant;LoadLevel|CC|1|10.05||||1||50;10;10;11;"
                 "00:00:10, about 11 records"});
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
        const RunEstimate e = checkProgram(checkedSteps(program)).estimate;
        QCOMPARE(e.fullSeconds, full.toDouble());
        QCOMPARE(e.shortestSeconds, shortest.toDouble());
        QCOMPARE(e.records, records.toLongLong());
        QCOMPARE(estimateText(e), text);
    }

    void refusal_listsTenErrorsAndCountsTheRest()
    {
        const QString twelveErrors = QStringList(12, "LoadLevel|CR|0|0||||1||50").join(u'/');
        const QStringList refusal =
            programRefusal(checkProgram(checkedSteps(twelveErrors)).findings).split('\n');
        QCOMPARE(refusal.size(), 12);
        QCOMPARE(refusal[0], "The test was not started: the program check found 12 errors.");
        QCOMPARE(refusal[11], QStringLiteral("... and 2 more."));
    }
};

ACL3_TEST_MAIN(TestProgramTest)
#include "tst_testprogram.moc"
