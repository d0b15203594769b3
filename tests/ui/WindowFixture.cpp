#include "WindowFixture.h"
#include "support/UiSupport.h"

#include "station/StationFolder.h"
#include "testprogram/TestStep.h"

#include <QAbstractButton>
#include <QLayout>
#include <QtTest>

QByteArray programWithSteps(int steps, const QString& ip, int port)
{
    QStringList lines;
    for (int n = 1; n <= steps; ++n)
        lines << QStringLiteral("LoadLevel|CC|%1|3|-|-|-|1|-|50").arg(n);
    return programFile(lines, {},
                       QStringLiteral("[Load1 Option]\r\nComPort=03\r\nBaudRate=9600\r\n"
                                      "GPIBAddress=7\r\nIP=%1\r\nPORT=%2\r\n")
                           .arg(ip)
                           .arg(port)
                           .toUtf8());
}

static bool holds(const QLayout* layout, const QWidget* widget)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget || (item->layout() && holds(item->layout(), widget)))
            return true;
    }
    return false;
}

QStringList widgetsOutsideLayouts(const QWidget* root)
{
    QStringList outside;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        const QLayout* layout = w->parentWidget() ? w->parentWidget()->layout() : nullptr;
        if (!w->isWindow() && w->isVisibleTo(root) && layout && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")) && !holds(layout, w))
            outside << w->objectName();
    }
    return outside;
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
