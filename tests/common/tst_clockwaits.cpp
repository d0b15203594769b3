// Protects the clocks, the waits built on them and the file writes that never leave half a file.
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/Waits.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
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
        QCOMPARE(parseDateTimeText(dateTimeText(clock.now())), clock.now());
        QVERIFY(!parseDateTimeText(QStringLiteral("yesterday")).isValid());
    }

    void waits_runOnTheClockAndOnlyPreciseOnesHoldEvents()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(8, 0)), 1000);
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        const double start = clock.monotonicMs();
        PreciseDelayMs(clock, 2000);
        QVERIFY(!fired);
        DelayMs(clock, 3000); // handles events while it waits
        QVERIFY(fired);
        QVERIFY(clock.monotonicMs() - start >= 5000);
        QCOMPARE(clock.realMsFor(5000), 5.0);
        int polls = 0;
        QVERIFY(WaitUntil(clock, 1e9, [&] { return ++polls == 3; }));
        QVERIFY(!WaitUntil(clock, 5, [] { return false; }));
    }

    void atomicWrite_replacesTheFileWhole_orKeepsTheOldOne_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("name");
        QTest::newRow("written") << int(AtomicWriteFault::None) << "a.ini";
        QTest::newRow("disk full while writing") << int(AtomicWriteFault::Write) << "a.ini";
        QTest::newRow("rename refused") << int(AtomicWriteFault::Rename) << "a.ini";
        QTest::newRow("missing folder") << int(AtomicWriteFault::None) << "missing/a.ini";
    }
    void atomicWrite_replacesTheFileWhole_orKeepsTheOldOne()
    {
        QFETCH(int, fault);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!name.contains(u'/'))
            writeFile(path, "old");
        setAtomicWriteFaultForTesting(static_cast<AtomicWriteFault>(fault));
        QString error;
        const bool ok = writeFileAtomically(path, "new content", &error);
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        const bool written = fault == int(AtomicWriteFault::None) && !name.contains(u'/');
        QCOMPARE(ok, written);
        QVERIFY2(written || error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
        if (!name.contains(u'/'))
            QCOMPARE(readFile(path), written ? QByteArray("new content") : QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 name.contains(u'/') ? 0 : 1);
    }
};

ACL3_TEST_MAIN(ClockWaitsTest)
#include "tst_clockwaits.moc"
