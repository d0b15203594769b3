// The fake GPIB library, loaded as the station's GPIB binding loads a GPIB library, talking to
// a simulator on its own thread (a GPIB read blocks the caller's thread).

#include "GpibLibrary.h"
#include "loadsim/LoadSimulatorThread.h"
#include "support/TestMain.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <thread>

namespace {
constexpr int kErr = GpibLibrary::kErr;
} // namespace

class LoadSimGpibTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qunsetenv("ACL3_GPIBSIM");
        QVERIFY2(gpib.handle, ::dlerror());
        QVERIFY(gpib.complete());
    }

    void ibdev_opensOnlyValidAddressesOnAReachableBridge()
    {
        QCOMPARE(gpib.open(1), -1); // no bridge named
        LoadSimulatorThread sim;
        const quint16 port = sim->listenGpibBridge();
        QVERIFY(port != 0);
        setGpibSimEnvironment(port);
        QCOMPARE(qEnvironmentVariable("ACL3_GPIBSIM"), QStringLiteral("127.0.0.1:%1").arg(port));
        QCOMPARE(qEnvironmentVariable("ACL3_GPIB_LIBRARY"), gpibSimLibraryPath());
        QVERIFY(QFileInfo::exists(gpibSimLibraryPath()));

        QCOMPARE(gpib.open(0), -1);
        QCOMPARE(gpib.open(31), -1);
        const int a = gpib.open(1);
        const int b = gpib.open(30);
        QVERIFY(a > 0);
        QVERIFY(b > 0 && b != a);

        sim->closeTransports();
        QCOMPARE(gpib.open(1), -1);
    }

    void writesAreLinesAndReadsReturnOneReplyWithItsCount()
    {
        LoadSimulatorThread sim;
        QVERIFY(sim->setAc({230, 0.2, 0}));
        setGpibSimEnvironment(sim->listenGpibBridge());
        const int ud = gpib.open();
        QVERIFY(ud > 0);

        QCOMPARE(gpib.write(ud, "REMOTE") & kErr, 0);
        QCOMPARE(gpib.ThreadIbcnt(), 6);
        QCOMPARE(gpib.query(ud, "MEAS:VOLT?"), QByteArray("230.000\n"));
        QCOMPARE(gpib.ThreadIbcnt(), 8);
        for (const char* line : {"CC:A 10", "MODE CC", "LOAD ON"})
            gpib.write(ud, line);
        QCOMPARE(gpib.query(ud, "GLOB:MEAS:CURR?"), QByteArray("10.000,10.000,10.000,30.000\n"));
        // The count belongs to the calling thread.
        int otherThreadCount = -1;
        std::thread([&] { otherThreadCount = gpib.ThreadIbcnt(); }).join();
        QCOMPARE(otherThreadCount, 0);

        // A reply longer than the buffer comes in pieces.
        gpib.write(ud, "GLOB:MEAS:VOLT?");
        QCOMPARE(gpib.read(ud, 8), QByteArray("228.000,"));
        QCOMPARE(gpib.read(ud), QByteArray("228.000,228.000,684.000\n"));

        QCOMPARE(sim->lines(), (QStringList{"REMOTE", "MEAS:VOLT?", "CC:A 10", "MODE CC", "LOAD ON",
                                            "GLOB:MEAS:CURR?", "GLOB:MEAS:VOLT?"}));
        for (const SimLogEntry& entry : sim->log())
            QCOMPARE(entry.transport, QStringLiteral("gpib"));
    }

    void aReadWithNothingToReturnTimesOutWithNoBytes()
    {
        LoadSimulatorThread sim;
        setGpibSimEnvironment(sim->listenGpibBridge());
        const int ud = gpib.open();
        gpib.write(ud, "LOAD OFF");
        QElapsedTimer timer;
        timer.start();
        QByteArray buffer(256, ' ');
        const int status = gpib.ibrd(ud, buffer.data(), 256);
        QCOMPARE(gpib.ThreadIbcnt(), 0);
        QVERIFY(status & kErr);
        QVERIFY2(timer.elapsed() >= 950, qPrintable(QString::number(timer.elapsed())));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }

    void pulseResultComesWithinTheReadTimeOut()
    {
        LoadSimulatorThread sim;
        setGpibSimEnvironment(sim->listenGpibBridge());
        const int ud = gpib.open();
        for (const char* line :
             {"CCP:HIGH 2", "PERD:HIGH 100", "PERD:LOW 100", "COUNT 2", "VTH 240", "DYNC ON"})
            gpib.write(ud, line);
        const QByteArray result = gpib.read(ud);
        QVERIFY2(result.startsWith("NG,229."), result.constData());
        QVERIFY(result.endsWith(",2.000\n"));
    }

    void offlineAndDroppedDevicesMoveNothing()
    {
        LoadSimulatorThread sim;
        setGpibSimEnvironment(sim->listenGpibBridge());
        const int ud = gpib.open();
        QCOMPARE(gpib.ibonl(ud, 0) & kErr, 0);
        QVERIFY(gpib.write(ud, "MODE?") & kErr);
        QCOMPARE(gpib.ThreadIbcnt(), 0);
        QVERIFY(gpib.ibonl(ud, 0) & kErr);

        SimFaults faults;
        faults.dropAfter = 1;
        sim->setFaults(faults);
        const int dropped = gpib.open();
        gpib.write(dropped, "MODE?");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(gpib.read(dropped), QByteArray());
        QVERIFY2(timer.elapsed() < 900, "a closed bridge ends the read at once");
        QCOMPARE(sim->lines(), QStringList{"MODE?"});
    }

private:
    GpibLibrary gpib;
};

ACL3_TEST_MAIN(LoadSimGpibTest)
#include "tst_loadsim_gpib.moc"
