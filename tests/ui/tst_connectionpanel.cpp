// Protects the connection panel: what it shows, and what OK and Cancel store where.
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
        f.startWith(3);
        f.click("ConnectCommand");
        QVERIFY(f.find("ConnectionFrame")->isVisible());
    }

    static QString statusAddress(const WindowFixture& f)
    {
        return f.grid("LoadStatusGrid")->model()->index(0, 1).data().toString();
    }

private slots:
    void opening_showsTheStoredLinkNotTheCancelledEdits()
    {
        WindowFixture f;
        openPanel(f);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(f.find(QStringLiteral("LoadCheck_%1").arg(i))->isVisible(), i < 3);
        for (const char* hidden : {"PS485Check", "PS485IDText", "MSCountText"})
            QVERIFY2(!f.find(hidden)->isVisible(), hidden);
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_0")->count(), 33);
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_1")->currentText(), QStringLiteral("07"));
        QCOMPARE(f.find<QComboBox>("LoadBaudRateCombo_0")->currentText(), QStringLiteral("9600"));
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
        const QModelIndex wait = f.grid("LoadStatusGrid")->model()->index(0, 2);
        QCOMPARE(wait.data().toString(), QStringLiteral("Wait"));
        QCOMPARE(wait.data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));

        auto* ip = f.find<QLineEdit>("txtIP");
        ip->selectAll();
        QTest::keyClicks(ip, "127.0.0.9");
        f.find<QLineEdit>("txtPort")->setText(QStringLiteral("6001"));
        f.find<QComboBox>("LoadComPortCombo_0")->setCurrentIndex(9);
        f.find<QRadioButton>("Option1_2")->click();
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
        QVERIFY(f.prompts.shown.empty());
        // After OK the status row shows the address alone, and the port again when reopened.
        f.prompts.scriptFileNames({QString()});
        f.click("ConnectOKCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1"));
        f.click("ConnectCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
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
        QCOMPARE(f.station->loadLink().ComPort, 5);
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

    void ok_refusesAPortThatIsNotAWholeNumberFrom1To65535_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("accepted");
        for (const QString port : {"0", "65536", "-5", "4001.5", "4001a", ""})
            QTest::newRow(qPrintable('"' + port + '"')) << port << false;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("65535") << "65535" << true;
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
        QCOMPARE(f.station->loadLink().ConnectMode, int(kConnectTcp));
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
        // The panel stays open with the operator's entries, to be corrected.
        QVERIFY(f.find("ConnectionFrame")->isVisible());
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), port);
    }
};

ACL3_WIDGET_TEST_MAIN(ConnectionPanelTest)
#include "tst_connectionpanel.moc"
