#include "WindowFixture.h"
#include "settings/IniFile.h"
#include "support/TestMain.h"
#include "ui/ConnectionPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>

namespace {

// The Load1 Option section and the ConnectMode of ACL3.INI as the files hold them now.
QString stored(const QString& file, const QString& section, const QString& key)
{
    IniFile ini(file);
    ini.load();
    return ini.read(section, key, QStringLiteral("<missing>"));
}

} // namespace

class ConnectionPanelTest : public QObject
{
    Q_OBJECT

private:
    // A started window on a TCP/IP load at 127.0.0.1:5025, with the panel opened.
    static void openPanel(WindowFixture& f)
    {
        f.writeSettings();
        f.writeProgram(3);
        f.startUp();
        f.click("ConnectCommand");
        QVERIFY(f.find("ConnectionFrame")->isVisible());
    }

    static QString statusAddress(const WindowFixture& f)
    {
        return f.grid("LoadStatusGrid")->model()->index(0, 1).data().toString();
    }

private slots:
    void panel_hasTheRowsOfTheDesign()
    {
        WindowFixture f;
        openPanel(f);
        auto* panel = f.find<QGroupBox>("ConnectionFrame");
        QCOMPARE(panel->title(), QStringLiteral("Load Connection Setup"));
        const QStringList captions = {"LAN", "RS232/USB", "GPIB"};
        for (int i = 0; i < 8; ++i) {
            auto* check = f.find<QCheckBox>(QStringLiteral("LoadCheck_%1").arg(i));
            QVERIFY(check);
            QCOMPARE(check->isVisible(), i < 3);
            if (i < 3) {
                QCOMPARE(check->text(), captions[i]);
                QVERIFY(f.find<QRadioButton>(QStringLiteral("Option1_%1").arg(i))->isVisible());
            }
        }
        for (const char* hidden : {"PS485Check", "PS485IDText", "MSCountText"})
            QVERIFY2(f.find(hidden) && !f.find(hidden)->isVisible(), hidden);
        auto* comPort = f.find<QComboBox>("LoadComPortCombo_0");
        QCOMPARE(comPort->count(), 33);
        QCOMPARE(comPort->itemText(32), QStringLiteral("32"));
        QCOMPARE(comPort->currentText(), QStringLiteral("03"));
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_1")->currentText(), QStringLiteral("07"));
        auto* rate = f.find<QComboBox>("LoadBaudRateCombo_0");
        QCOMPARE(rate->itemText(0), QStringLiteral("9600"));
        QCOMPARE(rate->itemText(1), QStringLiteral("115200"));
        QCOMPARE(rate->currentText(), QStringLiteral("9600"));
        QVERIFY(f.find<QRadioButton>("Option1_0")->isChecked());
        QCOMPARE(f.find<QLineEdit>("txtIP")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), QStringLiteral("5025"));
    }

    void openTwice_showsTheStoredValuesNotTheCancelledEdits()
    {
        WindowFixture f;
        openPanel(f);
        auto* ip = f.find<QLineEdit>("txtIP");
        ip->selectAll();
        QTest::keyClicks(ip, "127.0.0.9");
        f.find<QLineEdit>("txtPort")->setText(QStringLiteral("6001"));
        f.find<QComboBox>("LoadComPortCombo_0")->setCurrentIndex(9);
        f.find<QRadioButton>("Option1_2")->click();
        QCOMPARE(f.station->form.txtIP.text(), QStringLiteral("127.0.0.9"));

        f.click("ConnectCancelCommand");
        QVERIFY(!f.find("ConnectionFrame")->isVisible());
        // Cancel stores nothing and leaves the typing in the boxes until the panel opens again.
        QCOMPARE(stored(f.programPath(), "Load1 Option", "IP"), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.station->loadLink().IP, QStringLiteral("127.0.0.1"));
        QCOMPARE(ip->text(), QStringLiteral("127.0.0.9"));

        f.click("ConnectCommand");
        QCOMPARE(ip->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), QStringLiteral("5025"));
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_0")->currentText(), QStringLiteral("03"));
        QVERIFY(f.find<QRadioButton>("Option1_0")->isChecked());
        QVERIFY(!f.find<QRadioButton>("Option1_2")->isChecked());
        QVERIFY(f.prompts.shown.empty());
    }

    void ok_storesBothFilesBeforeTheSaveDialog()
    {
        WindowFixture f;
        openPanel(f);
        f.find<QRadioButton>("Option1_1")->click();
        f.find<QComboBox>("LoadComPortCombo_0")->setCurrentText(QStringLiteral("05"));
        f.find<QComboBox>("LoadBaudRateCombo_0")->setCurrentText(QStringLiteral("115200"));
        f.find<QLineEdit>("txtIP")->setText(QStringLiteral("127.0.0.3"));
        f.find<QCheckBox>("LoadCheck_0")->click(); // the serial run skips the load unticked

        QStringList atDialog;
        f.prompts.onShown = [&](const RecordingPrompts::Shown& shown) {
            if (shown.kind != QLatin1String("save"))
                return;
            atDialog << stored(f.path("ACL3.INI"), "ACL3", "ConnectMode")
                     << stored(f.programPath(), "Load1 Option", "ComPort")
                     << stored(f.programPath(), "Load1 Option", "BaudRate")
                     << stored(f.programPath(), "Load1 Option", "LoadCheck")
                     << stored(f.programPath(), "Load1 Option", "IP")
                     << stored(f.programPath(), "Load1 Option", "Port")
                     << stored(f.programPath(), "Load1 Option", "RS232toRS485");
            // The panel is closed before the dialog asks.
            atDialog << (f.find("ConnectionFrame")->isVisible() ? "open" : "closed");
        };
        f.prompts.scriptFileNames({QString()});

        f.click("ConnectOKCommand");

        QCOMPARE(atDialog,
                 QStringList({"0", "05", "115200", "0", "127.0.0.3", "5025", "0", "closed"}));
        QCOMPARE(f.prompts.shown.size(), std::size_t(1));
        QCOMPARE(f.prompts.shown.front().text, f.programPath());
        const LinkRecord& link = f.station->loadLink();
        QCOMPARE(link.ConnectMode, int(kConnectSerial));
        QCOMPARE(link.ComPort, 5);
        QCOMPARE(link.BaudRate, 115200);
        QCOMPARE(f.grid("LoadStatusGrid")->model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("RS232"));
        QCOMPARE(statusAddress(f), QStringLiteral("5"));
    }

    void ok_withAChosenFile_savesTheProgramThere()
    {
        WindowFixture f;
        openPanel(f);
        f.find<QRadioButton>("Option1_2")->click();
        const QString copy = f.path("Copy.INI");
        f.prompts.scriptFileNames({copy});
        f.click("ConnectOKCommand");
        QCOMPARE(stored(copy, "TestStep Option", "TotalStepCount"), QStringLiteral("3"));
        QCOMPARE(stored(copy, "Load1 Option", "GPIBAddress"), QStringLiteral("07"));
        QCOMPARE(stored(f.path("ACL3.INI"), "ACL3", "ConnectMode"), QStringLiteral("1"));
        QCOMPARE(statusAddress(f), QStringLiteral("7"));
    }

    void statusRow_showsAddressAndPortWhenOpened_andTheAddressAloneAfterOk()
    {
        WindowFixture f;
        openPanel(f);
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
        QTableView* status = f.grid("LoadStatusGrid");
        const QModelIndex wait = status->model()->index(0, 2);
        QCOMPARE(wait.data().toString(), QStringLiteral("Wait"));
        QCOMPARE(wait.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
        f.prompts.scriptFileNames({QString()});
        f.click("ConnectOKCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1"));
        f.click("ConnectCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
    }

    void ok_refusesAPortThatIsNotAWholeNumberFrom1To65535_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("0") << "0" << false;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("65535") << "65535" << true;
        QTest::newRow("65536") << "65536" << false;
        QTest::newRow("negative") << "-5" << false;
        QTest::newRow("fraction") << "4001.5" << false;
        QTest::newRow("letters after digits") << "4001a" << false;
        QTest::newRow("empty") << "" << false;
    }
    void ok_refusesAPortThatIsNotAWholeNumberFrom1To65535()
    {
        QFETCH(QString, port);
        QFETCH(bool, accepted);
        WindowFixture f;
        openPanel(f);
        const QByteArray settings = readFile(f.path("ACL3.INI"));
        const QByteArray program = readFile(f.programPath());
        f.find<QRadioButton>("Option1_1")->click();
        f.find<QLineEdit>("txtPort")->setText(port);
        f.prompts.scriptFileNames({QString()});

        f.click("ConnectOKCommand");

        if (accepted) {
            QCOMPARE(f.prompts.messages(), QStringList());
            QCOMPARE(stored(f.programPath(), "Load1 Option", "Port"), port);
            QCOMPARE(f.station->loadLink().PORT, port.toInt());
            return;
        }
        QCOMPARE(f.prompts.shown.size(), std::size_t(1));
        const QString message = f.prompts.messages().value(0);
        QVERIFY2(message.contains("TCP port") && message.contains("1 to 65535") &&
                     message.contains('"' + port + '"') && message.contains("Nothing was stored"),
                 qPrintable(message));
        QCOMPARE(readFile(f.path("ACL3.INI")), settings);
        QCOMPARE(readFile(f.programPath()), program);
        QCOMPARE(f.station->loadLink().PORT, 5025);
        QCOMPARE(f.station->loadLink().ConnectMode, int(kConnectTcp));
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
        // The panel stays open with the operator's entries, to be corrected.
        QVERIFY(f.find("ConnectionFrame")->isVisible());
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), port);
    }
};

ACL3_WIDGET_TEST_MAIN(ConnectionPanelTest)
#include "tst_connectionpanel.moc"
