#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Waits.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

class ClockWaitsTest : public QObject
{
    Q_OBJECT

private slots:
    void fakeClock_startsWhereToldAndJumps()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(23, 59, 59)), 0);
        QCOMPARE(dateTimeText(clock.now()), QStringLiteral("2026/03/01 23:59:59"));
        QCOMPARE(clock.secondsSinceMidnight(), 86399.0);
        const double before = clock.monotonicMs();
        clock.advance(2);
        QCOMPARE(dateTimeText(clock.now()), QStringLiteral("2026/03/02 00:00:01"));
        QCOMPARE(clock.secondsSinceMidnight(), 1.0);
        QCOMPARE(clock.monotonicMs() - before, 2000.0);
        QCOMPARE(timeOfDayText(clock.now()), QStringLiteral("00:00:01"));
    }

    void fakeClock_runsAtItsSpeed()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(8, 0)), 1000);
        QElapsedTimer real;
        real.start();
        const double start = clock.monotonicMs();
        DelayMs(clock, 5000); // five clock seconds
        QVERIFY(clock.monotonicMs() - start >= 5000);
        QVERIFY2(real.elapsed() < 2000, "a 1000x clock waits 5 s in about 5 ms");
        QCOMPARE(clock.realMsFor(5000), 5.0);
    }

    void dateTimeText_roundTrips()
    {
        const QDateTime t(QDate(2026, 12, 6), QTime(7, 5, 3));
        QCOMPARE(parseDateTimeText(dateTimeText(t)), t);
        QVERIFY(!parseDateTimeText(QStringLiteral("yesterday")).isValid());
    }

    void DelayMs_handlesEventsWhileWaiting()
    {
        SystemClock clock;
        bool fired = false;
        QTimer::singleShot(10, [&] { fired = true; });
        DelayMs(clock, 60);
        QVERIFY(fired);
    }

    void WaitUntil_endsAsSoonAsTheConditionHolds()
    {
        SystemClock clock;
        bool ready = false;
        QTimer::singleShot(20, [&] { ready = true; });
        const double start = clock.monotonicMs();
        QVERIFY(WaitUntil(clock, 10000, [&] { return ready; }));
        QVERIFY(clock.monotonicMs() - start < 5000);
        QVERIFY(!WaitUntil(clock, 5, [] { return false; }));
    }

    void PreciseDelayMs_waitsAtLeastItsTimeAndNotForZero()
    {
        SystemClock clock;
        double start = clock.monotonicMs();
        PreciseDelayMs(clock, 5);
        QVERIFY(clock.monotonicMs() - start >= 5);
        start = clock.monotonicMs();
        PreciseDelayMs(clock, 0);
        PreciseDelayMs(clock, -10);
        QVERIFY(clock.monotonicMs() - start < 5);
    }

    void PreciseDelayMs_processesNoEvents()
    {
        SystemClock clock;
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        PreciseDelayMs(clock, 20);
        QVERIFY(!fired);
        QCoreApplication::processEvents();
        QVERIFY(fired);
    }

    void atomicWrite_replacesTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.ini"));
        writeFile(path, "old");
        QString error;
        QVERIFY(writeFileAtomically(path, "new content", &error));
        QCOMPARE(readFile(path), QByteArray("new content"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void atomicWrite_failureKeepsTheOldFileAndLeavesNoTemporary_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("disk full while writing") << int(AtomicWriteFault::Write);
        QTest::newRow("rename refused") << int(AtomicWriteFault::Rename);
    }
    void atomicWrite_failureKeepsTheOldFileAndLeavesNoTemporary()
    {
        QFETCH(int, fault);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.ini"));
        writeFile(path, "old");
        setAtomicWriteFaultForTesting(static_cast<AtomicWriteFault>(fault));
        QString error;
        const bool ok = writeFileAtomically(path, "new content", &error);
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        QVERIFY(!ok);
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        QCOMPARE(readFile(path), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void atomicWrite_intoAMissingFolderFailsWithItsPath()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/a.ini"));
        QString error;
        QVERIFY(!writeFileAtomically(path, "x", &error));
        QVERIFY2(error.contains(QStringLiteral("a.ini")), qPrintable(error));
    }
};

ACL3_TEST_MAIN(ClockWaitsTest)
#include "tst_clockwaits.moc"
