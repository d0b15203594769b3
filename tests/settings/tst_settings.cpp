// Protects the INI files byte for byte, the link settings in them, and the station: its grids,
// form values, folder, and opening and saving programs.
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

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// A link record as one line: mode, COM port, rate, GPIB address, ID, MS count, RS-485, IP:PORT.
QString linkText(const LinkRecord& r)
{
    return QString::asprintf("%d %d %d %d %d %d %d %s:%d", r.ConnectMode, r.ComPort, r.BaudRate,
                             r.GPIBAddress, r.ID, r.MSCount, r.RS232toRS485, qPrintable(r.IP),
                             r.PORT);
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file(const QString& name) { return dir.filePath(name); }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // "dflt" when the default is given
        const auto row = [](const char* name, const QByteArray& content, const char* section,
                            const char* key, const QString& value) {
            QTest::newRow(name) << content << QString::fromLatin1(section)
                                << QString::fromLatin1(key) << value;
        };
        const QByteArray crlf = "[TestStep Option]\r\nTotalStepCount=12\r\n[A]\r\nk=1\r\n";
        row("missing section", crlf, "B", "k", "dflt");
        row("missing key", crlf, "A", "other", "dflt");
        row("names without regard to case", crlf, "teststep option", "TOTALSTEPCOUNT", "12");
        row("blanks trimmed", "[A]\n  k  =  v w  \n", "A", "k", "v w");
        row("comment skipped, first duplicate taken",
            "; k=0\n[A]\n;k=commented\nk=first\nk=second\n", "A", "k", "first");
        row("value holding =", "[A]\nexpr=a=b\n", "A", "expr", "a=b");
        row("value cut at 254", "[A]\nk=" + QByteArray(300, 'x') + "\n", "A", "k",
            QString(254, u'x'));
        row("value of 254 whole", "[A]\nk=" + QByteArray(254, 'y'), "A", "k", QString(254, u'y'));
        row("byte order mark, CR only", "\xEF\xBB\xBF[A]\rk=1\r", "A", "k", "1");
        row("LF only, a blank line first", "\n[A]\nj=0\nk=1\n", "A", "k", "1");
        row("key before any section is none", "k=1\n[A]\n", "A", "k", "dflt");
        row("missing file", "-", "A", "k", "dflt");
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString path = file(QStringLiteral("read.ini"));
        QFile::remove(path);
        if (content != "-")
            writeFile(path, content);
        QCOMPARE(ReadIniString(path, section, key, "dflt"), value);
    }

    void write_replacesOneValueAndKeepsEveryOtherByte()
    {
        const QString path = file(QStringLiteral("keep.ini"));
        // Comments, blank lines, odd spacing, mixed case, bytes that are not UTF-8.
        const QByteArray before = "; station file\r\n[ACL3]\r\nConnectMode = 2\r\n"
                                  "Other=\xb4\xfa\xb8\xd5\r\n\r\n[Load1 Option]\r\nPORT=4001\r\n";
        writeFile(path, before);
        QVERIFY(WriteIniString(path, "acl3", "connectmode", "0"));
        // "Port" written addresses the key read as "PORT".
        QVERIFY(WriteIniString(path, "Load1 Option", "Port", "5025"));
        QByteArray expected = before;
        expected.replace("ConnectMode = 2", "ConnectMode = 0").replace("PORT=4001", "PORT=5025");
        QCOMPARE(readFile(path), expected);
        // The same value again changes nothing; a refused save keeps the old file and the change.
        IniFile ini(path);
        QVERIFY(ini.load());
        ini.write("load1 option", "port", "5025");
        QVERIFY(!ini.isModified());
        ini.write("ACL3", "ConnectMode", "1");
        setAtomicWriteFaultForTesting(AtomicWriteFault::Rename);
        QString error;
        const bool saved = ini.save(&error);
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        QVERIFY(!saved && !error.isEmpty());
        QCOMPARE(readFile(path), expected);
        QVERIFY(ini.isModified());
    }

    void write_addsKeysAtTheEndOfTheirSectionWithTheFilesLineEndings_data()
    {
        addColumns({"before", "after"}); // before: none for a new file; text passes through
        addRows({"CRLF, last line unended;[A]\r\nx=1\r\n\r\n[B]\r\ny=2;[A]\r\nx=1\r\nz=3\r\n\r\n["
                 "B]\r\ny=2\r\nw=4\r\n[C]\r\nv=檔案\r\n",
                 "LF;[A]\nx=1\n[B]\n;[A]\nx=1\nz=3\n[B]\nw=4\n[C]\nv=檔案\n",
                 "byte order mark, "
                 "CR;\xEF\xBB\xBF[A]\rx=1\r;\xEF\xBB\xBF[A]\rx=1\rz=3\r[B]\rw=4\r[C]\rv=檔案\r",
                 "LF, a blank line first;\n[A]\nx=1\n;\n[A]\nx=1\nz=3\n[B]\nw=4\n[C]\nv=檔案\n",
                 "new file;;[A]\r\nz=3\r\n[B]\r\nw=4\r\n[C]\r\nv=檔案\r\n"});
    }
    void write_addsKeysAtTheEndOfTheirSectionWithTheFilesLineEndings()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        const QString path = file(QStringLiteral("add.ini"));
        QFile::remove(path);
        if (!before.isEmpty())
            writeFile(path, before.toUtf8());
        IniFile ini(path);
        ini.load();
        ini.write("A", "z", "3");
        ini.write("B", "w", "4");
        ini.write("C", "v", QStringLiteral("檔案"));
        QVERIFY(ini.save());
        QCOMPARE(readFile(path), after.toUtf8());
    }

    void settingsFile_missingGivesDefaults_listsKeepTheirPlaces_andThePanelsLinkIsSaved()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[TestStep Option]\n");
        s.form.TestStepActionCombo.setList({"design item"});
        LoadSystemSettings(s);
        QCOMPARE(s.settings.TestFileName, f.programPath());
        QCOMPARE(s.settings.SaveLogFileFlag, 0);
        QVERIFY(s.settings.TcpipMode);
        QCOMPARE(s.form.TestStepActionCombo.list() + s.form.TestStepModeCombo.list(),
                 QStringList());
        QCOMPARE(linkText(s.loadLink()), "2 1 115200 5 0 1 0 " + kDefaultLoadIp + ":4001");
        QVERIFY(f.prompts.shown.empty());

        // Names read without regard to case.
        QByteArray ini = "[acl3]\nsavelogfileflag=1\nCONNECTMODE=1\n[Load Mode]\nTOTAL=2\n001=CC\n"
                         "002=CR\n[ACL3 MODE]\nTotal=25\n001=LoadLevel\n003=FOR\n";
        for (int i = 4; i <= 25; ++i)
            ini +=
                QByteArray::number(i).rightJustified(3, '0') + "=A" + QByteArray::number(i) + "\n";
        writeFile(f.path("ACL3.INI"), ini);
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QVERIFY(!s.settings.TcpipMode);
        QCOMPARE(s.form.SetStepActionCombo.list().mid(0, 4),
                 QStringList({"LoadLevel", "", "FOR", "A4"}));
        QCOMPARE(s.form.TestStepActionCombo.list().mid(18), QStringList({"A19", "A20"}));
        QCOMPARE(s.form.TestStepModeCombo.list(), QStringList({"CC", "CR"}));

        // The panel's link is written after the program's own keys, its kind into ACL3.INI.
        writeFile(f.programPath(), "[Load1 Option]\nPORT=4001\nID=9\n");
        LoadSystemSettings(s);
        s.form.Option1[0]->setFlag(true);
        s.form.Option1[2]->setFlag(false);
        s.form.txtIP.setText(QStringLiteral("127.0.0.1"));
        s.form.txtPort.setText(QStringLiteral("5025"));
        s.form.LoadComPortText.setText(QStringLiteral("02"));
        s.form.GpibAddressText.setText(QStringLiteral("x"));
        s.form.PS485IDText.setText(QStringLiteral("003"));
        QVERIFY(SaveLinkSettings(s));
        QCOMPARE(readFile(f.programPath()),
                 QByteArray("[Load1 Option]\nPORT=5025\nID=9\nComPort=02\nBaudRate=115200\n"
                            "RS232toRS485=0\nLoadCheck=1\nIP=127.0.0.1\nGPIBAddress=x\n"));
        QCOMPARE(ReadIniString(f.path("ACL3.INI"), "ACL3", "ConnectMode", ""), QStringLiteral("2"));
        // The GPIB address is no number; the ID is taken from the panel, not written.
        QCOMPARE(linkText(s.loadLink()), QStringLiteral("2 2 115200 0 3 1 0 127.0.0.1:5025"));
        QCOMPARE(s.form.LoadStatusGrid.rowTexts(0).value(1), QStringLiteral("TCPIP"));
        QCOMPARE(s.form.LoadStatusGrid.rowTexts(1), QStringList({"1", "127.0.0.1", "Wait"}));
    }

    void LoadLinkSettings_fillsRecordBoxesAndStatusGrid_data()
    {
        // mode: ConnectMode in ACL3.INI, none for no key; grid: header, then the status row.
        addColumns({"mode", "record", "grid", "button"});
        // A port that is no whole number is refused, quoted, when the load is connected.
        addRows({"tcp;;2 3 9600 7 4 1 0 127.0.0.1:0;TCPIP,127.0.0.1:5025.4,Wait;0",
                 "serial;0;0 3 9600 7 4 1 0 127.0.0.1:0;RS232,3,Wait;1",
                 "gpib;1;1 3 9600 7 4 1 0 127.0.0.1:0;GPIB,7,Wait;2",
                 "unknown kind shows nothing;5;5 3 9600 7 4 1 0 127.0.0.1:0;,,;"});
    }
    void LoadLinkSettings_fillsRecordBoxesAndStatusGrid()
    {
        QFETCH(QString, mode);
        QFETCH(QString, record);
        QFETCH(QString, grid);
        QFETCH(QString, button);
        StationFixture f;
        if (!mode.isEmpty())
            writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=" + mode.toUtf8() + "\n");
        writeFile(f.programPath(), "[Load1 Option]\nGPIBAddress=7\nComPort=3\nBaudRate=9600\n"
                                   "ID=4\nIP=127.0.0.1\nPORT=5025.4\n");
        Station& s = *f.station;
        InitGrids(s);
        // Phase C's row as it shows before the first measurement.
        QCOMPARE(s.form.grdPhase3.rowTexts(3), QStringList({"C", "0.000", "0.000", "0.000"}));
        s.form.LoadStatusGrid.setText(0, 1, QString());
        s.form.Option1[0]->setFlag(false);
        LoadLinkSettings(s);
        QCOMPARE(linkText(s.loadLink()), record);
        // The boxes the connection takes its address from show the stored address.
        const StationForm& form = s.form;
        QCOMPARE(QStringList({form.txtIP.text(), form.txtPort.text(), form.GpibAddressText.text(),
                              form.LoadComPortText.text(), form.LoadBaudRateText.text()}),
                 QStringList({"127.0.0.1", "5025.4", "07", "03", "9600"}));
        QCOMPARE(form.LoadStatusGrid.text(0, 1) + ',' +
                     form.LoadStatusGrid.rowTexts(1, 1).join(u','),
                 grid);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(form.Option1[i]->flag(), QString::number(i) == button);
        QCOMPARE(s.ConnectedLoadCount, 1);
    }

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
        const QString folder = root.filePath(QStringLiteral("lab/ACL3"));
        QString error;
        QVERIFY2(prepareStationFolder(folder, &error), qPrintable(error));
        QVERIFY(QFileInfo(folder + QStringLiteral("/TestLog")).isDir());
        // An existing folder gets its TestLog and nothing else.
        QVERIFY(prepareStationFolder(root.path(), &error));
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("TestLog"))).isDir());
        QVERIFY(!QFile::exists(root.filePath(QStringLiteral("ACL3.INI"))));
        writeFile(root.filePath(QStringLiteral("file")), "x");
        QVERIFY(!prepareStationFolder(root.filePath(QStringLiteral("file/sub")), &error));
        QVERIFY2(error.contains(QStringLiteral("file/sub")), qPrintable(error));

        FakeClock clock;
        RecordingPrompts prompts;
        Station s(folder, clock, prompts);
        InitGrids(s);
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QCOMPARE(s.settings.ActionModeList, actions::all());
        QCOMPARE(s.settings.TestFileName, QDir(folder).filePath(QStringLiteral("TestFile01.INI")));
        QCOMPARE(s.TotalStepCount, 10);
        QVERIFY2(prompts.shown.empty(), qPrintable(prompts.messages().join('\n')));
        // Saved under another name, steps and link in one file, it is what the next start opens.
        s.form.TestStepGrid.setRows(2);
        s.form.TestStepGrid.setRowTexts(
            1, QStringLiteral("1|Suspend|||1|0|||1|NextStep|").split(u'|'));
        const QString target = QDir(folder).filePath(QStringLiteral("prog.ini"));
        prompts.scriptFileNames({target});
        QVERIFY(SaveCommand(s));
        QCOMPARE(ReadIniString(target, "Load1 Option", "PORT", ""), QStringLiteral("4001"));
        Station t(folder, clock, prompts);
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

ACL3_TEST_MAIN(SettingsTest)
#include "tst_settings.moc"
