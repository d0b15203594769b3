// Protects the program files: each field saved and read back, loops repaired, bad files refused.
#include "common/AtomicFile.h"
#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"
#include "testprogram/TestProgramFile.h"

#include <sys/stat.h>

namespace {

const QString kOpenError = QStringLiteral("Open Error, For - Loop use method have error, Please "
                                          "check it. (System auto addition LOOP function at last)");
const QString kSaveError =
    QStringLiteral("Save has Error, For - Loop use method have error, Please check it");

const QString kSuspend = QStringLiteral("Suspend|||1|0|||1|NextStep|-");

QStringList gridRow(const Station& s, int row)
{
    return s.form.TestStepGrid.rowTexts(row, 1);
}

void setGridProgram(Station& s, const QStringList& steps)
{
    GridModel& g = s.form.TestStepGrid;
    g.setRows(steps.size() + 1);
    for (int n = 1; n <= steps.size(); ++n) {
        g.setText(n, 0, QString::number(n));
        g.setRowTexts(n, steps[n - 1].split(u'|'), 1);
    }
}

} // namespace

class TestProgramFileTest : public QObject
{
    Q_OBJECT

private slots:
    void program1500Steps_savesAndLoadsBackFieldForField()
    {
        StationFixture f;
        Station& s = *f.station;
        InitGrids(s);
        QList<QStringList> steps;
        QStringList lines;
        const QStringList acts = actions::all();
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            QStringList row;
            row << acts[(n - 1) % acts.size()];
            for (int c = 2; c <= 10; ++c)
                row << QStringLiteral("%1.%2").arg(n).arg(c);
            row[8] = n % 3 == 0 ? QString() : QStringLiteral("EndLoop"); // GoToStep
            steps << row;
            lines << row.join(u'|');
        }
        setGridProgram(s, lines);
        QVERIFY(saveProgramAs(s, f.programPath()));
        QCOMPARE(s.TotalStepCount, kMaxProgramSteps);

        StationFixture g;
        Station& t = *g.station;
        t.settings.TestFileName = f.programPath();
        InitGrids(t);
        QVERIFY(LoadTestProgram(t));
        QCOMPARE(t.TotalStepCount, kMaxProgramSteps);
        QCOMPARE(t.form.TestStepGrid.rows(), kMaxProgramSteps + 1);
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            QStringList expected = steps[n - 1];
            const TestStep& rec = t.StepTable[n - 1];
            if (expected[0] != actions::LoadLevel)
                expected[9] = QString(); // only a load level's frequency is read back
            for (int fld = 0; fld < TestStep::kFieldCount; ++fld)
                QCOMPARE(rec.field(fld), expected[fld]);
            QCOMPARE(t.form.TestStepGrid.rowTexts(n), QStringList{QString::number(n)} + expected);
            // The saving station's table is the grid it saved, frequency and all.
            QCOMPARE(s.StepTable[n - 1].Frequency, steps[n - 1][9]);
        }
        QVERIFY(g.prompts.shown.empty());
    }

    void save_writesOptionsAndStepsInKeyOrder()
    {
        StationFixture f;
        Station& s = *f.station;
        InitGrids(s);
        s.settings.TestFileName = f.programPath();
        s.MeasureOptions.MeasureTime = 2.5;
        s.form.Check4.setFlag(false);
        setGridProgram(s, {"DisCharge|CC|10|5|12.5|1|0|1|NextStep|"});
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(readFile(f.programPath()),
                 crlfLines(QStringLiteral(
                               "[TestStep Option]|MeasureVoltage=1|MeasureCurrent=1|MeasurePower=1|"
                               "MeasureResistant=0|MeasureKWH=0|MeasureCapability=1|"
                               "MeasureTime=2.5|TotalStepCount=1|[Step1]|ActionMode=DisCharge|"
                               "LoadModeVolt=CC|CurrentValue=10|StopTime=5|StopValue=12.5|"
                               "StableTime=1|StopAH=0|MeasTime=1|GoToStep=NextStep|Frequency=")
                               .split(u'|')));
        QCOMPARE(s.MeasureOptions.MeasureKWH, 0);
        QCOMPARE(s.StepTable[0].StopValue, QStringLiteral("12.5"));
    }

    void load_missingKeysTakeDefaultsAndEmptyValuesStayEmpty()
    {
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[0].Frequency = QStringLiteral("55");
        s.StepTable[1].Frequency = QStringLiteral("66");
        // Step 1: a charge step whose Frequency key must not be read; no GoToStep key.
        // Step 2: a load level without Frequency key and with an empty GoToStep.
        writeFile(f.programPath(),
                  programFile({"Charge|14|2|60|0.1|1|1|1|-|99", "LoadLevel|CC|10|0||||-||-",
                               "Suspend|-|-|-|-|-|-|-|-|-"}));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.StepTable[0].GoToStep, QStringLiteral("NextStep"));
        QCOMPARE(s.StepTable[0].Frequency, QStringLiteral("55"));
        QCOMPARE(s.form.TestStepGrid.text(1, 10), QString());
        QCOMPARE(s.StepTable[1].GoToStep, QString());
        QCOMPARE(s.StepTable[1].Frequency, QStringLiteral("40"));
        QCOMPARE(s.StepTable[1].MeasTime, QStringLiteral("1"));
        QCOMPARE(gridRow(s, 3), QStringLiteral("Suspend|0|0|0|0|0|0|1|NextStep|").split(u'|'));
    }

    void load_optionDefaultsAndCheckBoxes()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[TestStep Option]\nMeasureVoltage=0\nMeasureResistant=1\n"
                                   "MeasureAddKWH=1\nMeasureTime=0.25\n");
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(QList<bool>({s.form.Check1.flag(), s.form.Check2.flag(), s.form.Check7.flag(),
                              s.form.Check4.flag()}),
                 QList<bool>({false, true, true, true}));
        QCOMPARE(s.MeasureOptions.MeasureAddKWH, 1);
        QCOMPARE(s.MeasureOptions.MeasureCapability, 1);
        QCOMPARE(s.MeasureOptions.MeasureTime, 0.25);
        QCOMPARE(s.TotalStepCount, 0);
    }

    void save_keepsKeysItDoesNotWriteAndLeftOverSteps()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), programFile(QStringList(5, kSuspend), "MeasureAddKWH=1\r\n"));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        setGridProgram(s, QStringList(2, kSuspend));
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(ReadIniString(f.programPath(), "TestStep Option", "MeasureAddKWH", ""),
                 QStringLiteral("1"));
        QCOMPARE(ReadIniString(f.programPath(), "Step5", "ActionMode", ""),
                 QStringLiteral("Suspend"));
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.TotalStepCount, 2);
        QCOMPARE(s.MeasureOptions.MeasureAddKWH, 1);
    }

    void load_unbalancedLoopsAreRepairedInGridAndTable()
    {
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[3].ActionMode = QStringLiteral("DisCharge"); // left from an earlier program
        writeFile(f.programPath(), programFile({"FOR||||3|||||-", "FOR2||||2|||||-",
                                                "DisCharge|CC|1|1|0|0|0|1|NextStep|-"}));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.TotalStepCount, 5);
        QCOMPARE(s.form.TestStepGrid.rows(), 6);
        QCOMPARE(s.form.TestStepGrid.rowTexts(4).mid(0, 2), QStringList({"4", "LOOP2"}));
        QCOMPARE(s.form.TestStepGrid.rowTexts(5).mid(0, 2), QStringList({"5", "LOOP"}));
        // A run started without a save executes what the grid shows.
        QCOMPARE(s.StepTable[3].ActionMode, QStringLiteral("LOOP2"));
        QCOMPARE(s.StepTable[3].LoadModeVolt, QString());
        QCOMPARE(s.StepTable[4].ActionMode, QStringLiteral("LOOP"));
        QCOMPARE(f.prompts.messages(), QStringList{kOpenError});
        // The file is not touched.
        QCOMPARE(ReadIniString(f.programPath(), "TestStep Option", "TotalStepCount", ""),
                 QStringLiteral("3"));
    }

    void load_loopBalanceCountsOnly_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("message");
        QTest::newRow("lone LOOP: message, nothing appended") << QStringList{"LOOP"} << 2 << true;
        QTest::newRow("LOOP then FOR is balanced") << QStringList{"LOOP", "FOR"} << 3 << false;
        QTest::newRow("two openers, two closers")
            << QStringList{"FOR", "FOR2", "LOOP2", "LOOP"} << 5 << false;
        QTest::newRow("FOR FOR LOOP appends one LOOP")
            << QStringList{"FOR", "FOR", "LOOP"} << 5 << true;
    }
    void load_loopBalanceCountsOnly()
    {
        QFETCH(QStringList, actions);
        QFETCH(int, rows);
        QFETCH(bool, message);
        StationFixture f;
        QStringList steps;
        for (const QString& a : actions)
            steps << a + "||||1|||||-";
        writeFile(f.programPath(), programFile(steps));
        InitGrids(*f.station);
        QVERIFY(LoadTestProgram(*f.station));
        QCOMPARE(f.station->form.TestStepGrid.rows(), rows);
        QCOMPARE(f.prompts.messages().contains(kOpenError), message);
    }

    void save_unbalancedLoopsWriteTheFileAndWarn()
    {
        StationFixture f;
        Station& s = *f.station;
        s.settings.TestFileName = f.programPath();
        InitGrids(s);
        setGridProgram(s, {"FOR||||2|||||", kSuspend});
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(f.prompts.messages(), QStringList{kSaveError});
        QCOMPARE(ReadIniString(f.programPath(), "Step2", "ActionMode", ""),
                 QStringLiteral("Suspend"));
        QCOMPARE(s.TotalStepCount, 2);
    }

    void open_ofARefusedFileChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // none: the file is not written
        QTest::addColumn<QString>("reason");
        for (const char* row :
             {"TotalStepCount=1501", "TotalStepCount=-1", "TotalStepCount=2.5",
              "TotalStepCount=abc", "MeasureKWH=yes", "MeasureVoltage=", "MeasureTime=fast"}) {
            QTest::newRow(row) << "bad.INI"
                               << "[TestStep Option]\n" + QByteArray(row) +
                                      "\n[Step1]\nActionMode=FOR\n"
                               << QString::fromLatin1(row).section(u'=', 0, 0);
        }
        QTest::newRow("step without its section")
            << "bad.INI"
            << QByteArray("[TestStep Option]\nTotalStepCount=2\n[Step1]\nActionMode=FOR\n")
            << "TotalStepCount is 2, but there is no [Step2]";
        QTest::newRow("action not one of the sixteen")
            << "bad.INI"
            << QByteArray("[TestStep Option]\nTotalStepCount=2\n[Step1]\nActionMode=FOR\n[Step2]\n"
                          "ActionMode=Discharge\n")
            << "ActionMode of [Step2] is \"Discharge\"";
        QTest::newRow("the station's ACL3.INI")
            << "ACL3.INI" << defaultSettingsFile() << "no [TestStep Option] section";
        QTest::newRow("UTF-16") << "u.INI" << QByteArray("\xFF\xFE[") << "UTF-16";
        QTest::newRow("device") << "/dev/zero" << QByteArray() << "not a regular file";
        QTest::newRow("pipe") << "fifo" << QByteArray() << "not a regular file";
        QTest::newRow("missing") << "missing.INI" << QByteArray() << "does not exist";
        QTest::newRow("too large") << "big.INI" << QByteArray(17 << 20, ' ') << "larger than 16 MB";
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
        QCOMPARE(s.form.TestStepGrid.rows(), 2);
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("Suspend"));
        QVERIFY(s.StepTable == before);
        QCOMPARE(readFile(f.path("ACL3.INI")), name == "ACL3.INI" ? content : QByteArray());
    }

    void save_failingHalfWayKeepsTheOldFileAndTable()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), programFile({kSuspend}));
        LoadSystemSettings(s);
        const QByteArray before = readFile(f.programPath());
        setGridProgram(s, {"FOR||||2|||||", "LOOP|||||||||"});
        for (AtomicWriteFault fault : {AtomicWriteFault::Write, AtomicWriteFault::Rename}) {
            f.prompts.shown.clear();
            setAtomicWriteFaultForTesting(fault);
            f.prompts.scriptFileNames({f.programPath()});
            const bool saved = SaveCommand(s);
            setAtomicWriteFaultForTesting(AtomicWriteFault::None);
            QVERIFY(!saved);
            QCOMPARE(readFile(f.programPath()), before);
            QCOMPARE(s.StepTable[0].ActionMode, QStringLiteral("Suspend"));
            QCOMPARE(f.prompts.messages().size(), 1);
            QVERIFY(f.prompts.messages()[0].contains(QStringLiteral("TestFile01.INI")));
        }
        // Nothing was lost: the grid still holds what the operator edited.
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("FOR"));
    }

    void save_ofMoreThan1500StepsIsRefused()
    {
        StationFixture f;
        Station& s = *f.station;
        s.settings.TestFileName = f.programPath();
        InitGrids(s);
        s.form.TestStepGrid.setRows(kMaxProgramSteps + 2);
        QVERIFY(!SaveTestProgram(s));
        QCOMPARE(f.prompts.messages(), QStringList{"Test Step too much, Please check it."});
        QVERIFY(!QFile::exists(f.programPath()));
    }

    void repairOf1500Steps_staysWithinTheTable()
    {
        StationFixture f;
        const QStringList steps =
            QStringList(2, "FOR||||1|||||-") + QStringList(kMaxProgramSteps - 2, kSuspend);
        writeFile(f.programPath(), programFile(steps));
        InitGrids(*f.station);
        QVERIFY(LoadTestProgram(*f.station));
        QCOMPARE(f.station->TotalStepCount, kStepTableSize);
        QCOMPARE(f.station->StepTable[kStepTableSize - 1].ActionMode, QStringLiteral("LOOP"));
    }
};

ACL3_TEST_MAIN(TestProgramFileTest)
#include "tst_testprogramfile.moc"
