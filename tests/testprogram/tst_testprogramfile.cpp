#include "common/AtomicFile.h"
#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "testprogram/TestProgramFile.h"

#include <sys/stat.h>

namespace {

const QString kOpenError = QStringLiteral("Open Error, For - Loop use method have error, Please "
                                          "check it. (System auto addition LOOP function at last)");
const QString kSaveError =
    QStringLiteral("Save has Error, For - Loop use method have error, Please check it");

// A program file from step rows: each row is the ten field values, "-" for a missing key.
QByteArray programFile(const QList<QStringList>& steps, const QByteArray& options = {})
{
    QByteArray out = "[TestStep Option]\r\n" + options +
                     "TotalStepCount=" + QByteArray::number(steps.size()) + "\r\n";
    for (int n = 0; n < steps.size(); ++n) {
        out += "[Step" + QByteArray::number(n + 1) + "]\r\n";
        for (int f = 0; f < steps[n].size(); ++f) {
            if (steps[n][f] != QLatin1String("-"))
                out += kStepFieldKeys[f].toUtf8() + "=" + steps[n][f].toUtf8() + "\r\n";
        }
    }
    return out;
}

QStringList gridRow(const Station& s, int row)
{
    return s.form.TestStepGrid.rowTexts(row, 1);
}

void setGridProgram(Station& s, const QList<QStringList>& steps)
{
    GridModel& g = s.form.TestStepGrid;
    g.setRows(steps.size() + 1);
    for (int n = 1; n <= steps.size(); ++n) {
        g.setText(n, 0, QString::number(n));
        g.setRowTexts(n, steps[n - 1], 1);
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
        const QStringList acts = actions::all();
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            QStringList row;
            row << acts[(n - 1) % acts.size()];
            for (int c = 2; c <= 10; ++c)
                row << QStringLiteral("%1.%2").arg(n).arg(c);
            row[8] = n % 3 == 0 ? QString() : QStringLiteral("EndLoop"); // GoToStep
            steps << row;
        }
        setGridProgram(s, steps);
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
            QCOMPARE(gridRow(t, n), expected);
            QCOMPARE(t.form.TestStepGrid.text(n, 0), QString::number(n));
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
        setGridProgram(s, {{"DisCharge", "CC", "10", "5", "12.5", "1", "0", "1", "NextStep", ""}});
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(readFile(f.programPath()), crlfLines({"[TestStep Option]",
                                                       "MeasureVoltage=1",
                                                       "MeasureCurrent=1",
                                                       "MeasurePower=1",
                                                       "MeasureResistant=0",
                                                       "MeasureKWH=0",
                                                       "MeasureCapability=1",
                                                       "MeasureTime=2.5",
                                                       "TotalStepCount=1",
                                                       "[Step1]",
                                                       "ActionMode=DisCharge",
                                                       "LoadModeVolt=CC",
                                                       "CurrentValue=10",
                                                       "StopTime=5",
                                                       "StopValue=12.5",
                                                       "StableTime=1",
                                                       "StopAH=0",
                                                       "MeasTime=1",
                                                       "GoToStep=NextStep",
                                                       "Frequency="}));
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
                  programFile({{"Charge", "14", "2", "60", "0.1", "1", "1", "1", "-", "99"},
                               {"LoadLevel", "CC", "10", "0", "", "", "", "-", "", "-"},
                               {"Suspend", "-", "-", "-", "-", "-", "-", "-", "-", "-"}}));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.StepTable[0].GoToStep, QStringLiteral("NextStep"));
        QCOMPARE(s.StepTable[0].Frequency, QStringLiteral("55"));
        QCOMPARE(s.form.TestStepGrid.text(1, 10), QString());
        QCOMPARE(s.StepTable[1].GoToStep, QString());
        QCOMPARE(s.StepTable[1].Frequency, QStringLiteral("40"));
        QCOMPARE(s.StepTable[1].MeasTime, QStringLiteral("1"));
        QCOMPARE(gridRow(s, 3),
                 QStringList({"Suspend", "0", "0", "0", "0", "0", "0", "1", "NextStep", ""}));
    }

    void load_optionDefaultsAndCheckBoxes()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[TestStep Option]\nMeasureVoltage=0\nMeasureResistant=1\n"
                                   "MeasureAddKWH=1\nMeasureTime=0.25\n");
        QVERIFY(LoadTestProgram(s));
        QVERIFY(!s.form.Check1.flag());
        QVERIFY(s.form.Check2.flag());
        QVERIFY(s.form.Check7.flag());
        QVERIFY(s.form.Check4.flag());
        QCOMPARE(s.MeasureOptions.MeasureAddKWH, 1);
        QCOMPARE(s.MeasureOptions.MeasureCapability, 1);
        QCOMPARE(s.MeasureOptions.MeasureTime, 0.25);
        QCOMPARE(s.TotalStepCount, 0);
    }

    void save_keepsKeysItDoesNotWriteAndLeftOverSteps()
    {
        StationFixture f;
        Station& s = *f.station;
        QList<QStringList> five;
        for (int i = 0; i < 5; ++i)
            five << QStringList{"Suspend", "", "", "1", "0", "", "", "1", "NextStep", ""};
        writeFile(f.programPath(), programFile(five, "MeasureAddKWH=1\r\n"));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        setGridProgram(s, {five[0], five[1]});
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(ReadIniString(f.programPath(), "TestStep Option", "MeasureAddKWH", ""),
                 QStringLiteral("1"));
        QCOMPARE(ReadIniString(f.programPath(), "Step5", "ActionMode", ""),
                 QStringLiteral("Suspend"));
        QCOMPARE(ReadIniString(f.programPath(), "TestStep Option", "TotalStepCount", ""),
                 QStringLiteral("2"));
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.TotalStepCount, 2);
        QCOMPARE(s.form.TestStepGrid.rows(), 3);
        QCOMPARE(s.MeasureOptions.MeasureAddKWH, 1);
    }

    void load_unbalancedLoopsAreRepairedInGridAndTable()
    {
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[3].ActionMode = QStringLiteral("DisCharge"); // left from an earlier program
        writeFile(f.programPath(), programFile({{"FOR", "", "", "", "3", "", "", "", "", "-"},
                                                {"FOR2", "", "", "", "2", "", "", "", "", "-"},
                                                {"DisCharge", "CC", "1", "1", "0", "0", "0", "1",
                                                 "NextStep", "-"}}));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.TotalStepCount, 5);
        QCOMPARE(s.form.TestStepGrid.rows(), 6);
        QCOMPARE(s.form.TestStepGrid.text(4, 0), QStringLiteral("4"));
        QCOMPARE(s.form.TestStepGrid.text(4, 1), QStringLiteral("LOOP2"));
        QCOMPARE(s.form.TestStepGrid.text(5, 0), QStringLiteral("5"));
        QCOMPARE(s.form.TestStepGrid.text(5, 1), QStringLiteral("LOOP"));
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
        QList<QStringList> steps;
        for (const QString& a : actions)
            steps << QStringList{a, "", "", "", "1", "", "", "", "", "-"};
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
        setGridProgram(s, {{"FOR", "", "", "", "2", "", "", "", "", ""},
                           {"Suspend", "", "", "1", "0", "", "", "1", "NextStep", ""}});
        QVERIFY(SaveTestProgram(s));
        QCOMPARE(f.prompts.messages(), QStringList{kSaveError});
        QCOMPARE(ReadIniString(f.programPath(), "Step2", "ActionMode", ""),
                 QStringLiteral("Suspend"));
        QCOMPARE(s.TotalStepCount, 2);
    }

    void load_refusesUnusableFilesAndKeepsTheProgram_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QString>("key");
        QTest::newRow("too many steps") << QByteArray("TotalStepCount=1501\n") << "TotalStepCount";
        QTest::newRow("negative count") << QByteArray("TotalStepCount=-1\n") << "TotalStepCount";
        QTest::newRow("count not whole") << QByteArray("TotalStepCount=2.5\n") << "TotalStepCount";
        QTest::newRow("count not a number")
            << QByteArray("TotalStepCount=abc\n") << "TotalStepCount";
        QTest::newRow("flag not a number") << QByteArray("MeasureKWH=yes\n") << "MeasureKWH";
        QTest::newRow("empty flag") << QByteArray("MeasureVoltage=\n") << "MeasureVoltage";
        QTest::newRow("measure time") << QByteArray("MeasureTime=fast\n") << "MeasureTime";
        QTest::newRow("step without its section")
            << QByteArray("TotalStepCount=2\n") << "TotalStepCount is 2, but there is no [Step2]";
        QTest::newRow("action not one of the sixteen")
            << QByteArray("TotalStepCount=2\n[Step2]\nActionMode=Discharge\n")
            << "ActionMode of [Step2] is \"Discharge\"";
    }
    void load_refusesUnusableFilesAndKeepsTheProgram()
    {
        QFETCH(QByteArray, options);
        QFETCH(QString, key);
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(),
                  programFile({{"Suspend", "", "", "1", "0", "", "", "1", "NextStep", "-"}}));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        const StepRecords before = s.StepTable;

        writeFile(f.programPath(), "[TestStep Option]\n" + options + "[Step1]\nActionMode=FOR\n");
        QVERIFY(!LoadTestProgram(s));
        const QStringList messages = f.prompts.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QDir::toNativeSeparators(f.programPath())),
                 qPrintable(messages[0]));
        QVERIFY2(messages[0].contains(key), qPrintable(messages[0]));
        QCOMPARE(s.TotalStepCount, 1);
        QCOMPARE(s.form.TestStepGrid.rows(), 2);
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("Suspend"));
        QVERIFY(s.StepTable == before);
    }

    void open_ofARefusedFileChangesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // none: the file is not written
        QTest::addColumn<QString>("reason");
        QTest::newRow("too many steps")
            << "bad.INI" << QByteArray("[TestStep Option]\nTotalStepCount=9999\n") << "9999";
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
        writeFile(f.programPath(),
                  programFile({{"Suspend", "", "", "1", "0", "", "", "1", "NextStep", "-"}}));
        LoadSystemSettings(s);
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
        QCOMPARE(s.settings.TestFileName, f.programPath());
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("Suspend"));
        QCOMPARE(readFile(f.path("ACL3.INI")), name == "ACL3.INI" ? content : QByteArray());
    }

    void save_failingHalfWayKeepsTheOldFileAndTable()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(),
                  programFile({{"Suspend", "", "", "1", "0", "", "", "1", "NextStep", "-"}}));
        LoadSystemSettings(s);
        const QByteArray before = readFile(f.programPath());
        setGridProgram(s, {{"FOR", "", "", "", "2", "", "", "", "", ""},
                           {"LOOP", "", "", "", "", "", "", "", "", ""}});
        for (AtomicWriteFault fault : {AtomicWriteFault::Write, AtomicWriteFault::Rename}) {
            f.prompts.shown.clear();
            setAtomicWriteFaultForTesting(fault);
            f.prompts.scriptFileNames({f.programPath()});
            const bool saved = SaveCommand(s);
            setAtomicWriteFaultForTesting(AtomicWriteFault::None);
            QVERIFY(!saved);
            QCOMPARE(readFile(f.programPath()), before);
            QCOMPARE(s.StepTable[0].ActionMode, QStringLiteral("Suspend"));
            QCOMPARE(s.TotalStepCount, 1);
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
        QList<QStringList> steps;
        steps << QStringList{"FOR", "", "", "", "1", "", "", "", "", "-"}
              << QStringList{"FOR", "", "", "", "1", "", "", "", "", "-"};
        for (int i = 2; i < kMaxProgramSteps; ++i)
            steps << QStringList{"Suspend", "", "", "1", "0", "", "", "1", "NextStep", "-"};
        writeFile(f.programPath(), programFile(steps));
        InitGrids(*f.station);
        QVERIFY(LoadTestProgram(*f.station));
        QCOMPARE(f.station->TotalStepCount, kStepTableSize);
        QCOMPARE(f.station->StepTable[kStepTableSize - 1].ActionMode, QStringLiteral("LOOP"));
    }
};

ACL3_TEST_MAIN(TestProgramFileTest)
#include "tst_testprogramfile.moc"
