#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

class SettingsFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void noSettingsFile_givesDefaultsAndEmptyLists()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[TestStep Option]\n");
        s.form.TestStepActionCombo.setList({"design item"});
        LoadSystemSettings(s);
        QCOMPARE(s.settings.TestFileName, f.programPath());
        QCOMPARE(s.settings.SaveLogFileFlag, 0);
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectTcp));
        QVERIFY(s.settings.TcpipMode);
        QVERIFY(s.form.TestStepActionCombo.list().isEmpty());
        QVERIFY(s.form.SetStepActionCombo.list().isEmpty());
        QVERIFY(s.form.TestStepModeCombo.list().isEmpty());
        QVERIFY(f.prompts.shown.empty());
    }

    void lists_keepNumberedPlacesAndReadNamesWithoutRegardToCase()
    {
        StationFixture f;
        writeFile(f.path("ACL3.INI"), "[acl3]\nsavelogfileflag=1\nCONNECTMODE=1\n"
                                      "[ACL3 MODE]\nTotal=3\n001=LoadLevel\n003=FOR\n"
                                      "[Load Mode]\nTOTAL=2\n001=CC\n002=CR\n");
        Station& s = *f.station;
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectGpib));
        QVERIFY(!s.settings.TcpipMode);
        const QStringList actions = {"LoadLevel", "", "FOR"};
        QCOMPARE(s.form.TestStepActionCombo.list(), actions);
        QCOMPARE(s.form.SetStepActionCombo.list(), actions);
        QCOMPARE(s.form.TestStepModeCombo.list(), QStringList({"CC", "CR"}));
    }

    void lists_aboveTheirCapacityAreCut()
    {
        StationFixture f;
        QByteArray ini = "[ACL3 Mode]\nTotal=25\n";
        for (int i = 1; i <= 25; ++i)
            ini +=
                QByteArray::number(i).rightJustified(3, '0') + "=A" + QByteArray::number(i) + "\n";
        writeFile(f.path("ACL3.INI"), ini);
        LoadSystemSettings(*f.station);
        QCOMPARE(f.station->settings.ActionModeList.size(), 20);
        QCOMPARE(f.station->settings.ActionModeList.last(), QStringLiteral("A20"));
    }

    void LoadLinkSettings_fillsRecordBoxesAndStatusGrid()
    {
        StationFixture f;
        writeFile(f.programPath(), "[Load1 Option]\nGPIBAddress=7\nComPort=3\nBaudRate=9600\n"
                                   "ID=4\nIP=127.0.0.1\nPORT=5025.4\n");
        Station& s = *f.station;
        InitGrids(s);
        LoadLinkSettings(s);
        const LinkRecord& r = s.loadLink();
        QCOMPARE(r.GPIBAddress, 7);
        QCOMPARE(r.ComPort, 3);
        QCOMPARE(r.BaudRate, 9600);
        QCOMPARE(r.ID, 4);
        QCOMPARE(r.MSCount, 1);
        QCOMPARE(r.RS232toRS485, 0);
        QCOMPARE(r.IP, QStringLiteral("127.0.0.1"));
        QCOMPARE(r.PORT, 0); // no whole number: refused, quoted, when the load is connected
        // The boxes the connection takes its address from show the stored address.
        QCOMPARE(s.form.txtIP.text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(s.form.txtPort.text(), QStringLiteral("5025.4"));
        QCOMPARE(s.form.GpibAddressText.text(), QStringLiteral("07"));
        QCOMPARE(s.form.LoadComPortText.text(), QStringLiteral("03"));
        QCOMPARE(s.form.LoadBaudRateText.text(), QStringLiteral("9600"));
        QVERIFY(s.form.Option1[0]->flag());
        QVERIFY(!s.form.Option1[1]->flag());
        const GridModel& g = s.form.LoadStatusGrid;
        QCOMPARE(g.text(0, 1), QStringLiteral("TCPIP"));
        QCOMPARE(g.text(1, 0), QStringLiteral("1"));
        QCOMPARE(g.text(1, 1), QStringLiteral("127.0.0.1:5025.4"));
        QCOMPARE(g.text(1, 2), QStringLiteral("Wait"));
        QCOMPARE(g.foreColor(1, 2), gridcolors::Blue);
        QCOMPARE(g.currentRow(), 1);
        QCOMPARE(g.currentCol(), 2);
        QCOMPARE(s.form.LoadCountLabel.text(), QStringLiteral("1"));
        QCOMPARE(s.ConnectedLoadCount, 1);
    }

    void LoadLinkSettings_defaultsWithoutALinkSection()
    {
        StationFixture f;
        Station& s = *f.station;
        LoadLinkSettings(s);
        QCOMPARE(s.loadLink().GPIBAddress, 5);
        QCOMPARE(s.loadLink().ComPort, 1);
        QCOMPARE(s.loadLink().BaudRate, 115200);
        QCOMPARE(s.loadLink().IP, kDefaultLoadIp);
        QCOMPARE(s.loadLink().PORT, 4001);
        QCOMPARE(s.form.LoadComPortText.text(), QStringLiteral("01"));
    }

    void LoadLinkSettings_otherLinkKindsShowTheirAddress_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("button");
        QTest::newRow("serial") << "0"
                                << "RS232"
                                << "3" << 1;
        QTest::newRow("gpib") << "1"
                              << "GPIB"
                              << "7" << 2;
        QTest::newRow("unknown kind shows nothing") << "5"
                                                    << ""
                                                    << "" << -1;
    }
    void LoadLinkSettings_otherLinkKindsShowTheirAddress()
    {
        QFETCH(QString, mode);
        QFETCH(QString, header);
        QFETCH(QString, address);
        QFETCH(int, button);
        StationFixture f;
        writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=" + mode.toUtf8() + "\n");
        writeFile(f.programPath(), "[Load1 Option]\nGPIBAddress=7\nComPort=3\n");
        Station& s = *f.station;
        InitGrids(s);
        s.form.LoadStatusGrid.setText(0, 1, QString());
        s.form.Option1[0]->setFlag(false);
        LoadLinkSettings(s);
        QCOMPARE(s.form.LoadStatusGrid.text(0, 1), header);
        QCOMPARE(s.form.LoadStatusGrid.text(1, 1), address);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(s.form.Option1[i]->flag(), i == button);
    }

    void SaveLinkSettings_writesPanelValuesInOrderAndShowsAddressAlone()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.programPath(), "[Load1 Option]\nPORT=4001\nID=9\n");
        writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=0\n");
        LoadSystemSettings(s);
        s.form.Option1[0]->setFlag(true);
        s.form.Option1[1]->setFlag(false);
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
        const LinkRecord& r = s.loadLink();
        QCOMPARE(r.ConnectMode, int(kConnectTcp));
        QCOMPARE(r.PORT, 5025);
        QCOMPARE(r.ComPort, 2);
        QCOMPARE(r.GPIBAddress, 0); // not a number
        QCOMPARE(r.ID, 3);          // taken from the panel, not written
        QCOMPARE(s.form.LoadStatusGrid.text(0, 1), QStringLiteral("TCPIP"));
        QCOMPARE(s.form.LoadStatusGrid.text(1, 1), QStringLiteral("127.0.0.1"));
        QCOMPARE(s.form.LoadStatusGrid.text(1, 2), QStringLiteral("Wait"));
    }

    void SaveLinkSettings_withNoLinkButtonKeepsConnectMode()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=1\n");
        LoadSystemSettings(s);
        for (FormValue* b : s.form.Option1)
            b->setFlag(false);
        QVERIFY(SaveLinkSettings(s));
        QCOMPARE(readFile(f.path("ACL3.INI")), QByteArray("[ACL3]\nConnectMode=1\n"));
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectGpib));
    }

    void openingAnotherProgram_reloadsItsLinkButKeepsConnectMode()
    {
        StationFixture f;
        Station& s = *f.station;
        writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=0\n");
        writeFile(f.programPath(), "[Load1 Option]\nComPort=2\n");
        writeFile(f.path("other.INI"), "[Load1 Option]\nComPort=4\n[TestStep Option]\n");
        LoadSystemSettings(s);
        QCOMPARE(s.loadLink().ComPort, 2);
        f.prompts.scriptFileNames({f.path("other.INI")});
        QVERIFY(OpenCommand(s));
        QCOMPARE(s.loadLink().ComPort, 4);
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectSerial));
        QCOMPARE(s.form.LoadStatusGrid.text(0, 1), QStringLiteral("RS232"));
    }
};

ACL3_TEST_MAIN(SettingsFilesTest)
#include "tst_settingsfiles.moc"
