#include "WindowFixture.h"

#include "station/StationFolder.h"
#include "testprogram/TestStep.h"

#include <QAbstractButton>
#include <QtTest>

QByteArray programWithSteps(int steps, const QString& ip, int port)
{
    QStringList lines = {QStringLiteral("[TestStep Option]"),
                         QStringLiteral("TotalStepCount=%1").arg(steps)};
    for (int n = 1; n <= steps; ++n) {
        lines << QStringLiteral("[Step%1]").arg(n) << QStringLiteral("ActionMode=LoadLevel")
              << QStringLiteral("LoadModeVolt=CC") << QStringLiteral("CurrentValue=%1").arg(n)
              << QStringLiteral("StopTime=3") << QStringLiteral("MeasTime=1")
              << QStringLiteral("Frequency=50");
    }
    lines << QStringLiteral("[Load1 Option]") << QStringLiteral("ComPort=03")
          << QStringLiteral("BaudRate=9600") << QStringLiteral("GPIBAddress=7")
          << QStringLiteral("IP=") + ip << QStringLiteral("PORT=%1").arg(port);
    return crlfLines(lines);
}

WindowFixture::WindowFixture()
{
    window = std::make_unique<MainWindow>(*station);
    timer1 = std::make_unique<StartupTimer>(*station);
}

void WindowFixture::writeSettings(const QString& connectMode)
{
    QByteArray ini = defaultSettingsFile();
    ini.replace("ConnectMode=2\r\n", connectMode.isNull()
                                         ? QByteArray()
                                         : "ConnectMode=" + connectMode.toUtf8() + "\r\n");
    writeFile(path(QStringLiteral("ACL3.INI")), ini);
}

void WindowFixture::startUp()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    timer1->tick();
    QVERIFY(timer1->startupDone());
    // What the event loop does next: the layouts follow the grids' new shapes.
    QApplication::processEvents();
}

void WindowFixture::click(const QString& name) const
{
    auto* button = find<QAbstractButton>(name);
    QVERIFY2(button, qPrintable(name));
    QVERIFY2(button->isVisible() && button->isEnabled(), qPrintable(name));
    button->click();
}
