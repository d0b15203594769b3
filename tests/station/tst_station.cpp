// Protects the station: its grids and form values, its folder, and opening and saving programs.
#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "testprogram/TestProgramFile.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void gridModelAndFormValue_signalRealChangesOnly_andEndEveryChangeTheyBegin()
    {
        GridModel g(QStringLiteral("g"));
        QAbstractItemModelTester tester(&g, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resetting(&g, &QAbstractItemModel::modelAboutToBeReset);
        QSignalSpy reset(&g, &QAbstractItemModel::modelReset);
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
        g.insertGridRow(2);
        QCOMPARE(g.text(3, 2), QStringLiteral("x"));
        QCOMPARE(g.backColor(3, 2), gridcolors::LightYellow);
        g.insertGridRow(0); // in the fixed rows: a reset
        g.removeGridRow(0);
        g.removeGridRow(1);
        QCOMPARE(g.text(2, 2), QStringLiteral("x"));
        g.beginBulkUpdate();
        g.setRows(6);
        g.insertGridRow(1);
        g.endBulkUpdate();
        g.clearTexts();
        g.setCols(2);
        g.setText(99, 0, QStringLiteral("ignored"));
        QCOMPARE(g.rows(), 7);
        QCOMPARE(reset.size(), resetting.size());
        QVERIFY(reset.size() >= 6);

        StationForm form;
        QSignalSpy spy(&form.SNText, &FormValue::changed);
        form.SNText.setText(QStringLiteral("A1"));
        form.SNText.setText(QStringLiteral("A1"));
        QCOMPARE(spy.size(), 1);
    }

    void stationFolder_isNamedMadeWithSettingsAndAnExample_andRemembersTheProgramSaved()
    {
        QTemporaryDir root;
        const QString dir = root.filePath(QStringLiteral("lab/ACL3"));
        QString error;
        QVERIFY2(prepareStationFolder(dir, &error), qPrintable(error));
        QVERIFY(QFileInfo(dir + QStringLiteral("/TestLog")).isDir());
        // An existing folder gets its TestLog and nothing else.
        QVERIFY(prepareStationFolder(root.path(), &error));
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("TestLog"))).isDir());
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("ACL3.INI"))));
        writeFile(root.filePath(QStringLiteral("file")), "x");
        QVERIFY(!prepareStationFolder(root.filePath(QStringLiteral("file/sub")), &error));
        QVERIFY2(error.contains(QStringLiteral("file/sub")), qPrintable(error));

        FakeClock clock;
        RecordingPrompts prompts;
        Station s(dir, clock, prompts);
        InitGrids(s);
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QCOMPARE(s.settings.ActionModeList, actions::all());
        QCOMPARE(s.settings.TestFileName, QDir(dir).filePath(QStringLiteral("TestFile01.INI")));
        QCOMPARE(s.TotalStepCount, 10);
        QVERIFY2(prompts.shown.empty(), qPrintable(prompts.messages().join('\n')));
        // Saved under another name, steps and link in one file, it is what the next start opens.
        s.form.TestStepGrid.setRows(2);
        s.form.TestStepGrid.setRowTexts(
            1, QStringLiteral("1|Suspend|||1|0|||1|NextStep|").split(u'|'));
        const QString target = QDir(dir).filePath(QStringLiteral("prog.ini"));
        prompts.scriptFileNames({target});
        QVERIFY(SaveCommand(s));
        QCOMPARE(ReadIniString(target, "Load1 Option", "PORT", ""), QStringLiteral("4001"));
        Station t(dir, clock, prompts);
        LoadSystemSettings(t);
        QCOMPARE(t.settings.TestFileName, target);
        QCOMPARE(t.TotalStepCount, 1);
        // Named by the option, else the environment, else the home folder.
        qputenv("ACL3_STATION", "/tmp/from-env");
        QCOMPARE(resolveStationFolder(QStringLiteral("/tmp/from-option")),
                 QStringLiteral("/tmp/from-option"));
        QCOMPARE(resolveStationFolder({}), QStringLiteral("/tmp/from-env"));
        qunsetenv("ACL3_STATION");
        QCOMPARE(resolveStationFolder({}), QDir::home().filePath(QStringLiteral("ACL3")));
    }
};

ACL3_TEST_MAIN(StationTest)
#include "tst_station.moc"
