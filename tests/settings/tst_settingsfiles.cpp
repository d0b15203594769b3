// Protects the station's settings and a program's link section: what is read, shown and stored.
#include "settings/IniFile.h"
#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/ProgramCommands.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

namespace {

// A link record as one line: mode, COM port, rate, GPIB address, ID, MS count, RS-485, IP:PORT.
QString linkText(const LinkRecord& r)
{
    return QString::asprintf("%d %d %d %d %d %d %d %s:%d", r.ConnectMode, r.ComPort, r.BaudRate,
                             r.GPIBAddress, r.ID, r.MSCount, r.RS232toRS485, qPrintable(r.IP),
                             r.PORT);
}

} // namespace

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
        QVERIFY(s.settings.TcpipMode);
        QVERIFY(s.form.TestStepActionCombo.list().isEmpty());
        QVERIFY(s.form.TestStepModeCombo.list().isEmpty());
        QCOMPARE(linkText(s.loadLink()), "2 1 115200 5 0 1 0 " + kDefaultLoadIp + ":4001");
        QCOMPARE(s.form.LoadComPortText.text(), QStringLiteral("01"));
        QVERIFY(f.prompts.shown.empty());
    }

    void lists_keepNumberedPlacesReadNamesWithoutRegardToCaseAndAreCutAtCapacity()
    {
        StationFixture f;
        QByteArray ini = "[acl3]\nsavelogfileflag=1\nCONNECTMODE=1\n[Load Mode]\nTOTAL=2\n001=CC\n"
                         "002=CR\n[ACL3 MODE]\nTotal=25\n001=LoadLevel\n003=FOR\n";
        for (int i = 4; i <= 25; ++i)
            ini +=
                QByteArray::number(i).rightJustified(3, '0') + "=A" + QByteArray::number(i) + "\n";
        writeFile(f.path("ACL3.INI"), ini);
        Station& s = *f.station;
        LoadSystemSettings(s);
        QCOMPARE(s.settings.SaveLogFileFlag, 1);
        QCOMPARE(s.loadLink().ConnectMode, int(kConnectGpib));
        QVERIFY(!s.settings.TcpipMode);
        QCOMPARE(s.form.SetStepActionCombo.list().mid(0, 4),
                 QStringList({"LoadLevel", "", "FOR", "A4"}));
        QCOMPARE(s.form.TestStepActionCombo.list().size(), 20);
        QCOMPARE(s.form.TestStepActionCombo.list().last(), QStringLiteral("A20"));
        QCOMPARE(s.form.TestStepModeCombo.list(), QStringList({"CC", "CR"}));
    }

    void LoadLinkSettings_fillsRecordBoxesAndStatusGrid_data()
    {
        // mode: ConnectMode in ACL3.INI, none for no key; button: the link kind's checked button.
        addColumns({"mode", "record", "header", "address", "button"});
        // A port that is no whole number is refused, quoted, when the load is connected.
        addRows({"tcp;;2 3 9600 7 4 1 0 127.0.0.1:0;TCPIP;127.0.0.1:5025.4;0",
                 "serial;0;0 3 9600 7 4 1 0 127.0.0.1:0;RS232;3;1",
                 "gpib;1;1 3 9600 7 4 1 0 127.0.0.1:0;GPIB;7;2",
                 "unknown kind shows nothing;5;5 3 9600 7 4 1 0 127.0.0.1:0;;;"});
    }
    void LoadLinkSettings_fillsRecordBoxesAndStatusGrid()
    {
        QFETCH(QString, mode);
        QFETCH(QString, record);
        QFETCH(QString, header);
        QFETCH(QString, address);
        QFETCH(QString, button);
        StationFixture f;
        if (!mode.isEmpty())
            writeFile(f.path("ACL3.INI"), "[ACL3]\nConnectMode=" + mode.toUtf8() + "\n");
        writeFile(f.programPath(), "[Load1 Option]\nGPIBAddress=7\nComPort=3\nBaudRate=9600\n"
                                   "ID=4\nIP=127.0.0.1\nPORT=5025.4\n");
        Station& s = *f.station;
        InitGrids(s);
        s.form.LoadStatusGrid.setText(0, 1, QString());
        s.form.Option1[0]->setFlag(false);
        LoadLinkSettings(s);
        QCOMPARE(linkText(s.loadLink()), record);
        // The boxes the connection takes its address from show the stored address.
        const StationForm& form = s.form;
        QCOMPARE(QStringList({form.txtIP.text(), form.txtPort.text(), form.GpibAddressText.text(),
                              form.LoadComPortText.text(), form.LoadBaudRateText.text()}),
                 QStringList({"127.0.0.1", "5025.4", "07", "03", "9600"}));
        QCOMPARE(form.LoadStatusGrid.text(0, 1), header);
        QCOMPARE(form.LoadStatusGrid.rowTexts(1), QStringList({"1", address, "Wait"}));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(form.Option1[i]->flag(), QString::number(i) == button);
        QCOMPARE(s.ConnectedLoadCount, 1);
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
        // The GPIB address is no number; the ID is taken from the panel, not written.
        QCOMPARE(linkText(s.loadLink()), QStringLiteral("2 2 115200 0 3 1 0 127.0.0.1:5025"));
        QCOMPARE(s.form.LoadStatusGrid.rowTexts(0).value(1), QStringLiteral("TCPIP"));
        QCOMPARE(s.form.LoadStatusGrid.rowTexts(1), QStringList({"1", "127.0.0.1", "Wait"}));
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
