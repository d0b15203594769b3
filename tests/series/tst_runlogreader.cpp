// Protects reading a run log back: times, gaps, counted bad lines and files that are no run log.
#include "series/RunLogReader.h"
#include "series/SeriesStore.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <cmath>

namespace {

const QString kName = QStringLiteral("SN1.CSV");

// Writes a log of these records into the fixture's folder and reads it.
RunLogRead readRecords(StationFixture& f, const QStringList& records, SeriesStore& store)
{
    writeFile(f.path(kName), crlfLines(QStringList{kRunLogHeader} << records));
    return readRunLog(f.path(kName), store);
}

} // namespace

class RunLogReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void records_keepGapsAndSpreadOverTheirSecond()
    {
        StationFixture f;
        SeriesStore store;
        const RunLogRead read =
            readRecords(f,
                        {"1,1,,08:00:00,230.1,229.9,230,0,0,0,0,0,0,00:00:00,CC",
                         "2,2,3,08:00:00,229,,228.5,5,5,5,1145,1,2,00:00:00,CC",
                         "3,2,3,08:00:00,229,229,229,5,5,5,1145,1,2,00:00:00,CC",
                         "4,2,2,08:00:01,1E-05,-3,4,5,5,5,1145,1,2,00:00:01,CC",
                         "5,3,2,08:00:01,1,2,3,4,5,6,7,8,9,00:00:01,CR"},
                        store);
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.records, 5);
        QCOMPARE(read.badLines, 0);
        const double times[] = {0, 1.0 / 3, 2.0 / 3, 1, 1.5};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(store.time(i), times[i]);
        QVERIFY(std::isnan(store.value(1, 1))); // an empty field was not measured
        QCOMPARE(store.value(2, 1), 228.5);
        QCOMPARE(store.value(0, 3), 1e-5);
        QCOMPARE(store.value(8, 4), 9.0);
        QCOMPARE(store.stepMarks().size(), std::size_t(4));
        QCOMPARE(store.markAt(3)->loop1, QStringLiteral("2"));
        QCOMPARE(store.markAt(4)->step, 3);
    }

    void badLines_areLeftOutAndCounted()
    {
        StationFixture f;
        SeriesStore store;
        const RunLogRead read =
            readRecords(f,
                        {"1,1,,08:00:00,1,2,3,4,5,6,7,8,9,00:00:05,CC",
                         "2,1,,08:00:00,1,2,abc,4,5,6,7,8,9,00:00:05,CC",
                         "3,1,,08:00:00,1,2,3,4,5,6,7,8,9,0:5,CC",
                         "4,1,,08:00:00,1,2,3,4,5,6,7,8,9,00:00:04,CC",
                         "5,1,,08:00:06,1,2,3,4,5,6,7,8,9,00:00:06,CC", "6,1,,08:0"},
                        store);
        QVERIFY(read.ok);
        QCOMPARE(read.records, 2);
        QCOMPARE(read.badLines, 4);
        QCOMPARE(read.firstBadLine, QStringLiteral("line 3: VotlageC \"abc\" is not a number"));
        QVERIFY(read.warning(f.path(kName)).startsWith(QStringLiteral("4 line(s) of ")));
        QCOMPARE(store.time(1), 6.0);
    }

    void notARunLog_isRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QString notHeader = QStringLiteral("its first line is not the header of a run log "
                                                 "(No.,Step,Loop1,StepTime,VotlageA, ...)");
        QTest::newRow("empty") << QByteArray() << "the file is empty";
        QTest::newRow("a program")
            << QByteArray("[TestStep Option]\r\nTotalStepCount=1\r\n") << notHeader;
        QTest::newRow("another CSV")
            << QByteArray("No.,Step,Loop1,StepTime\r\n1,1,,08:00:00\r\n") << notHeader;
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << notHeader;
        QTest::newRow("missing") << QByteArray("-") << "No such file";
    }
    void notARunLog_isRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        StationFixture f;
        const QString path = f.path(kName);
        if (content != "-")
            writeFile(path, content);
        SeriesStore store;
        const RunLogRead read = readRunLog(path, store);
        QVERIFY(!read.ok);
        QVERIFY2(read.error.startsWith(path + QStringLiteral(" is not a run log: ")),
                 qPrintable(read.error));
        QVERIFY2(read.error.contains(reason), qPrintable(read.error));
    }
};

ACL3_TEST_MAIN(RunLogReaderTest)
#include "tst_runlogreader.moc"
