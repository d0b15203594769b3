#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "testprogram/TestProgramFile.h"

#include <QSignalSpy>

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void InitGrids_setsUpTheFourGrids()
    {
        StationFixture f;
        Station& s = *f.station;
        InitGrids(s);
        const GridModel& steps = s.form.TestStepGrid;
        QCOMPARE(steps.rows(), 2);
        QCOMPARE(steps.cols(), 11);
        QCOMPARE(steps.fixedRows(), 1);
        QCOMPARE(steps.fixedCols(), 1);
        QCOMPARE(steps.rowTexts(0),
                 QStringList({"Step", "Action Mode", "Mode", "Value", "Dwell Time(s)", "Loop Times",
                              "Stable(s)", "StopAH", "MeasT(s)", "Go To", "Frequency"}));
        QCOMPARE(steps.colWidth(4), 2000);
        QCOMPARE(steps.colWidth(6), 0);
        QCOMPARE(steps.colWidth(9), 0);
        QCOMPARE(steps.currentRow(), 1);
        QCOMPARE(steps.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Value"));

        const GridModel& phase = s.form.grdPhase3;
        QCOMPARE(phase.fixedRows(), 0);
        QCOMPARE(phase.rowTexts(0), QStringList({"Phase", "Votlage", "Current", "Power"}));
        QCOMPARE(phase.rowTexts(2), QStringList({"B", "0.000", "0.000", "0.000"}));
        QCOMPARE(phase.rowCount(), 4);

        QCOMPARE(s.form.CopyPasteGrid.text(0, 10), QStringLiteral(" "));
        QCOMPARE(s.form.CopyPasteGrid.colWidth(0), 400);
        QCOMPARE(s.form.LoadStatusGrid.rowTexts(0), QStringList({"No", "TCPIP", "Status"}));
        QCOMPARE(s.form.LoadStatusGrid.text(1, 0), QStringLiteral("1"));
    }

    void InitGrids_linkHeaderFollowsConnectMode_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("header");
        QTest::newRow("missing key") << QByteArray("[ACL3]\n") << "TCPIP";
        QTest::newRow("0") << QByteArray("[ACL3]\nConnectMode=0\n") << "RS232";
        QTest::newRow("1") << QByteArray("[ACL3]\nConnectMode=1\n") << "GPIB";
        QTest::newRow("other") << QByteArray("[ACL3]\nConnectMode=7\n") << "";
    }
    void InitGrids_linkHeaderFollowsConnectMode()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, header);
        StationFixture f;
        writeFile(f.path("ACL3.INI"), ini);
        InitGrids(*f.station);
        QCOMPARE(f.station->form.LoadStatusGrid.text(0, 1), header);
    }

    void gridModel_tracksCellsColoursAndRows()
    {
        GridModel g(QStringLiteral("g"));
        g.setCols(3);
        g.setRows(3);
        g.setFixed(1, 1);
        g.setText(0, 1, QStringLiteral("Head"));
        g.setText(2, 2, QStringLiteral("x"));
        g.setBackColor(2, 2, gridcolors::LightYellow);
        QSignalSpy changed(&g, &QAbstractItemModel::dataChanged);
        g.setText(2, 2, QStringLiteral("x")); // unchanged: no signal
        g.setText(1, 1, QStringLiteral("y"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(g.data(g.index(1, 2), Qt::DisplayRole).toString(), QStringLiteral("x"));
        QCOMPARE(g.data(g.index(1, 2), Qt::BackgroundRole).value<QColor>(),
                 gridcolors::LightYellow);
        QVERIFY(!g.data(g.index(0, 1), Qt::BackgroundRole).isValid());
        QCOMPARE(g.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Head"));
        QVERIFY(g.data(g.index(0, 0), GridModel::FixedCellRole).toBool());

        g.insertGridRow(2);
        QCOMPARE(g.rows(), 4);
        QCOMPARE(g.text(2, 2), QString());
        QCOMPARE(g.text(3, 2), QStringLiteral("x"));
        QCOMPARE(g.backColor(3, 2), gridcolors::LightYellow);
        g.removeGridRow(1);
        QCOMPARE(g.text(2, 2), QStringLiteral("x"));
        g.setCols(2);
        QCOMPARE(g.text(2, 2), QString());
        QCOMPARE(g.text(0, 1), QStringLiteral("Head"));
        QCOMPARE(g.text(99, 0), QString()); // outside reads as empty
        g.setText(99, 0, QStringLiteral("ignored"));
        QCOMPARE(g.rows(), 3);
    }

    void formValue_signalsRealChangesOnlyAndKeepsItsType()
    {
        StationForm form;
        QSignalSpy spy(&form.SNText, &FormValue::changed);
        form.SNText.setText(QStringLiteral("A1"));
        form.SNText.setText(QStringLiteral("A1"));
        QCOMPARE(spy.size(), 1);
        form.Check1.set(0);
        QCOMPARE(form.Check1.value().metaType(), QMetaType::fromType<bool>());
        QVERIFY(!form.Check1.flag());
        QVERIFY(form.LoadCheck[0]->flag());
        QVERIFY(!form.LoadCheck[1]->flag());
        QCOMPARE(form.value(QStringLiteral("LoadCheck_0")), form.LoadCheck[0]);
        QVERIFY(form.enabled(QStringLiteral("StartCommand")).flag());
        QVERIFY(!form.enabled(QStringLiteral("StopCommand")).flag());
        QCOMPARE(form.txtIP.text(), kDefaultLoadIp);
        QCOMPARE(form.txtPort.text(), QStringLiteral("4001"));
        QCOMPARE(form.Combo1.text(), QStringLiteral("DEV5"));
    }

    void newStationFolder_isCreatedWithSettingsAndAnExampleThatLoads()
    {
        QTemporaryDir root;
        const QString dir = root.filePath(QStringLiteral("lab/ACL3"));
        QString error;
        QVERIFY2(prepareStationFolder(dir, &error), qPrintable(error));
        QVERIFY(QFileInfo(dir + QStringLiteral("/TestLog")).isDir());

        FakeClock clock;
        RecordingPrompts prompts;
        Station s(dir, clock, prompts);
        InitGrids(s);
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectTcp));
        QCOMPARE(s.settings.ActionModeList, actions::all());
        QCOMPARE(s.settings.LoadModeList, QStringList({"CC", "LINCC", "CR", "CV", "CP"}));
        QCOMPARE(s.settings.TestFileName, QDir(dir).filePath(QStringLiteral("TestFile01.INI")));
        QCOMPARE(s.TotalStepCount, 10);
        QVERIFY2(prompts.shown.empty(), qPrintable(prompts.messages().join('\n')));
        // Every action of the example is one the station knows.
        for (int i = 0; i < s.TotalStepCount; ++i)
            QVERIFY(actions::all().contains(s.StepTable[i].ActionMode));
    }

    void existingStationFolder_isLeftAsItIs()
    {
        QTemporaryDir root;
        QString error;
        QVERIFY(prepareStationFolder(root.path(), &error));
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("TestLog"))).isDir());
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("ACL3.INI"))));
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("TestFile01.INI"))));

        FakeClock clock;
        RecordingPrompts prompts;
        Station s(root.path(), clock, prompts);
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 0);
        QVERIFY(s.settings.ActionModeList.isEmpty());
    }

    void stationFolder_optionThenEnvironmentThenHome()
    {
        qputenv("ACL3_STATION", "/tmp/from-env");
        QCOMPARE(resolveStationFolder(QStringLiteral("/tmp/from-option")),
                 QStringLiteral("/tmp/from-option"));
        QCOMPARE(resolveStationFolder({}), QStringLiteral("/tmp/from-env"));
        qunsetenv("ACL3_STATION");
        QCOMPARE(resolveStationFolder({}), QDir::home().filePath(QStringLiteral("ACL3")));
    }

    void stationFolderThatCannotBeCreated_saysWhich()
    {
        QTemporaryDir root;
        writeFile(root.filePath(QStringLiteral("file")), "x");
        QString error;
        QVERIFY(!prepareStationFolder(root.filePath(QStringLiteral("file/sub")), &error));
        QVERIFY2(error.contains(QStringLiteral("file/sub")), qPrintable(error));
    }

    void fileFilter_becomesQtsForm()
    {
        QCOMPARE(qtFileFilter(QStringLiteral("INI檔(*.ini)|*.ini|所有檔案(*.*)|*.*")),
                 QStringLiteral("INI檔(*.ini);;所有檔案(*.*)"));
        QCOMPARE(qtFileFilter(QStringLiteral("Programs|*.ini|Logs|*.csv")),
                 QStringLiteral("Programs (*.ini);;Logs (*.csv)"));
    }

    void openAndSave_presetFilterAndCancel()
    {
        StationFixture f;
        Station& s = *f.station;
        LoadSystemSettings(s);
        s.form.TestStepGrid.setRows(3);
        s.form.TestStepGrid.setText(1, 1, QStringLiteral("FOR"));
        s.settings.TestFileName.clear();

        f.prompts.scriptAnswers({PromptAnswer::Discard}); // the edits above
        QVERIFY(!OpenCommand(s));                         // cancelled
        QCOMPARE(f.prompts.lastFilter, QStringLiteral("INI檔(*.ini);;所有檔案(*.*)"));
        QCOMPARE(f.prompts.shown.back().text, f.path(QStringLiteral("TESTTMP.INI")));
        QVERIFY(!SaveCommand(s)); // cancelled
        QCOMPARE(s.form.TestStepGrid.text(1, 1), QStringLiteral("FOR"));
        QCOMPARE(s.form.TestStepGrid.rows(), 3);
        QVERIFY(s.settings.TestFileName.isEmpty());
        QVERIFY(!QFile::exists(f.path(QStringLiteral("ACL3.INI"))));
    }

    void save_remembersTheFileAndWritesStepsAndLinkInOneFile()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[TestStep Option]\n");
        InitGrids(s);
        LoadSystemSettings(s);
        s.form.TestStepGrid.setRows(2);
        s.form.TestStepGrid.setRowTexts(
            1, {"1", "Suspend", "", "", "1", "0", "", "", "1", "NextStep", ""});
        s.form.txtIP.setText(QStringLiteral("127.0.0.1"));
        const QString target = f.path(QStringLiteral("prog.ini"));
        f.prompts.scriptFileNames({target});
        QVERIFY(SaveCommand(s));
        QCOMPARE(f.prompts.shown.front().text, f.programPath()); // preset: the current program
        QCOMPARE(s.settings.TestFileName, target);
        QCOMPARE(ReadIniString(f.path("ACL3.INI"), "ACL3", "TestFileName01", ""), target);
        QCOMPARE(ReadIniString(target, "Step1", "ActionMode", ""), QStringLiteral("Suspend"));
        QCOMPARE(ReadIniString(target, "Load1 Option", "IP", ""), QStringLiteral("127.0.0.1"));
        QCOMPARE(ReadIniString(target, "Load1 Option", "PORT", ""), QStringLiteral("4001"));

        // The next start finds the program again.
        StationFixture g;
        FakeClock clock;
        RecordingPrompts prompts;
        Station t(f.dir.path(), clock, prompts);
        LoadSystemSettings(t);
        QCOMPARE(t.settings.TestFileName, target);
        QCOMPARE(t.TotalStepCount, 1);
        QCOMPARE(t.form.txtIP.text(), QStringLiteral("127.0.0.1"));
    }
};

ACL3_TEST_MAIN(StationTest)
#include "tst_station.moc"
