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
        QCOMPARE(t.form.TestStepGrid.rows(), kMaxProgramSteps + 1);
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
    }

    void load_missingKeysTakeDefaultsAndEmptyValuesStayEmpty()
    {
        StationFixture f;
        Station& s = *f.station;
        s.StepTable[0].Frequency = QStringLiteral("55");
        // Step 1: a charge step whose Frequency key must not be read; no GoToStep key.
        // Step 2: a load level without Frequency key and with an empty GoToStep.
        writeFile(f.programPath(),
                  programFile({"Charge|14|2|60|0.1|1|1|1|-|99", "LoadLevel|CC|10|0||||-||-",
                               "Suspend|-|-|-|-|-|-|-|-|-"},
                              "MeasureVoltage=0\r\nMeasureResistant=1\r\nMeasureAddKWH=1\r\n"
                              "MeasureTime=0.25\r\n"));
        InitGrids(s);
        QVERIFY(LoadTestProgram(s));
        QCOMPARE(s.StepTable[0].GoToStep, QStringLiteral("NextStep"));
        QCOMPARE(s.StepTable[0].Frequency, QStringLiteral("55"));
        QCOMPARE(s.form.TestStepGrid.text(1, 10), QString());
        QCOMPARE(s.StepTable[1].GoToStep, QString());
        QCOMPARE(s.StepTable[1].Frequency, QStringLiteral("40"));
        QCOMPARE(s.StepTable[1].MeasTime, QStringLiteral("1"));
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
        addColumns({"file", "loaded", "message"}); // actions split by "/"
        addRows({"lone LOOP: message, nothing appended;LOOP;LOOP;1",
                 "LOOP then FOR is balanced;LOOP/FOR;LOOP/FOR;0",
                 "two openers, two closers;FOR/FOR2/LOOP2/LOOP;FOR/FOR2/LOOP2/LOOP;0",
                 "FOR FOR LOOP appends one LOOP;FOR/FOR/LOOP;FOR/FOR/LOOP/LOOP;1",
                 "FOR and FOR2 left open;FOR/FOR2/DisCharge;FOR/FOR2/DisCharge/LOOP2/LOOP;1"});
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
        for (const QString& a : file.split(u'/'))
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
        QCOMPARE(grid.join(u'/'), loaded);
        QCOMPARE(table.join(u'/'), loaded);
        QCOMPARE(s.TotalStepCount, grid.size());
        QCOMPARE(f.prompts.messages(), message == "1" ? QStringList{kOpenError} : QStringList());
        QCOMPARE(readFile(f.programPath()), programFile(steps)); // the file is not touched
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

    void save_data()
    {
        // existing: Suspend steps in the file before, with a key the save does not write; grid:
        // steps split by "/" ("S" a Suspend), "#N" N empty rows; file: texts of the saved file.
        addColumns({"existing", "grid", "fault", "saved", "message", "file"});
        addRows({"keeps keys it does not write and left-over steps;5;S/S;;1;;MeasureAddKWH=1|"
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
        const QString after = QString::fromUtf8(readFile(f.programPath()));
        for (const QString& part : file.split(u'|', Qt::SkipEmptyParts))
            QVERIFY2(after.contains(part), qPrintable(after));
        if (ok) {
            QVERIFY(LoadTestProgram(s));
            QCOMPARE(s.TotalStepCount, steps.size());
            return;
        }
        QCOMPARE(after.toUtf8(), before);
        QVERIFY(s.StepTable == table);
        // Nothing was lost: the grid still holds what the operator edited.
        QCOMPARE(s.form.TestStepGrid.text(1, 1), firstAction);
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
