// The simulated load on a pseudo-terminal: opened raw as a test would, and through QSerialPort
// with the settings the station's serial link uses.

#include "LineClient.h"
#include "loadsim/LoadSimulator.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

namespace {
// A reply read the way the station's serial link reads one: whatever has arrived, up to LF.
QByteArray serialQuery(QSerialPort& port, const QByteArray& line)
{
    port.clear(QSerialPort::Input);
    port.write(line + '\n');
    port.flush();
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (!reply.endsWith('\n') && timer.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        reply += port.readAll();
        QThread::usleep(500);
    }
    return reply;
}
} // namespace

class LoadSimSerialTest : public QObject
{
    Q_OBJECT

private slots:
    void pty_takesCommandsAndAnswersLikeAnyLink()
    {
        LoadSimulator sim;
        QVERIFY(sim.setAc({230, 0.2, 0}));
        const QString path = sim.openPty();
        QVERIFY(path.startsWith(QLatin1String("/dev/")));
        QCOMPARE(sim.ptyPath(), path);
        auto client = LineClient::device(path);
        client->send("REM");
        client->write("CC:A 3\r\nMODE CC\r\nLOAD ON\r\n");
        QCOMPARE(client->query("GLOB:MEAS:CURR?"), QByteArray("3.000,3.000,3.000,9.000"));
        QCOMPARE(client->query("MEAS:VOLT?"), QByteArray("229.400"));
        QCOMPARE(client->readFor(100), QByteArray());
        QCOMPARE(sim.lines(), (QStringList{"REM", "CC:A 3", "MODE CC", "LOAD ON", "GLOB:MEAS:CURR?",
                                           "MEAS:VOLT?"}));
        for (const SimLogEntry& entry : sim.log())
            QCOMPARE(entry.transport, QStringLiteral("serial"));
    }

    void pty_servesAQSerialPortAcrossCloseAndReopen()
    {
        LoadSimulator sim;
        QVERIFY(sim.setAc({230, 0.2, 0}));
        const QString path = sim.openPty();
        QSerialPort port;
        port.setPortName(path);
        port.setBaudRate(115200);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::HardwareControl);
        for (int round = 0; round < 2; ++round) {
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
            QCOMPARE(serialQuery(port, "MODE?"), QByteArray("CC\n"));
            QCOMPARE(serialQuery(port, "GLOB:MEAS:VOLT?"),
                     QByteArray("230.000,230.000,230.000,690.000\n"));
            port.close();
        }
    }

    void pty_goesDeafWhenDroppedUntilTheFaultsAreSetAgain()
    {
        LoadSimulator sim;
        const QString path = sim.openPty();
        auto client = LineClient::device(path);
        SimFaults faults;
        faults.dropAfter = 2;
        sim.setFaults(faults);
        QCOMPARE(client->query("MODE?"), QByteArray("CC"));
        client->send("MODE?");
        client->send("MODE CV");
        QCOMPARE(client->readFor(300), QByteArray());
        QCOMPARE(sim.lines(), (QStringList{"MODE?", "MODE?"}));
        QCOMPARE(sim.state().mode, LoadMode::CC);

        sim.clearFaults();
        QCOMPARE(client->query("MODE?"), QByteArray("CC"));
    }

    void pty_delaysAndSplitsLikeTheOtherLinks()
    {
        LoadSimulator sim;
        auto client = LineClient::device(sim.openPty());
        SimFaults faults;
        faults.delayMs = 100;
        faults.splitPauseMs = 200;
        sim.setFaults(faults);
        QElapsedTimer timer;
        timer.start();
        client->send("LOAD?");
        QCOMPARE(client->readFor(200), QByteArray("OF"));
        QVERIFY(timer.elapsed() >= 100);
        QCOMPARE(client->readLine(), QByteArray("F\n"));
        QVERIFY2(timer.elapsed() >= 295, qPrintable(QString::number(timer.elapsed())));
    }
};

ACL3_TEST_MAIN(LoadSimSerialTest)
#include "tst_loadsim_serial.moc"
