// Protects the store of a run's values (the envelope a plot draws, charge, step marks) and reading
// a run log back into it: times, gaps, counted bad lines and files that are no run log.
#include "series/RunLogReader.h"
#include "series/SeriesStore.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Noisy instants 0.1 s apart, a 500 s pause midway, gaps in series 4 (one wider than a column).
void fill(SeriesStore& store, int count)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-50, 50);
    for (int i = 0; i < count; ++i) {
        SeriesStore::Values values;
        for (int s = 0; s < SeriesStore::kSeriesCount; ++s)
            values[static_cast<std::size_t>(s)] = 100 * s + noise(random);
        if (i % 997 < 5 || (i > count / 3 && i < count / 3 + 3000))
            values[4] = kNaN;
        values[8] = kNaN;
        store.append(i * 0.1 + (i >= count / 2 ? 500 : 0), values, 1 + i / 5000);
    }
}

QString pointsText(const std::vector<QPointF>& points)
{
    QStringList out;
    for (const QPointF& p : points)
        out << QStringLiteral("%1:%2").arg(p.x(), 0, 'g', 17).arg(p.y(), 0, 'g', 17);
    return out.join(QLatin1Char(' '));
}

} // namespace

class SeriesStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void envelope_keepsTheExtremesOfEveryColumn_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("x0");
        QTest::addColumn<double>("x1");
        QTest::addColumn<int>("columns");
        // 100,000 instants have whole blocks of 32, 1024 and 32768 instants to summarise.
        QTest::newRow("whole run") << 100000 << 0.0 << 10500.0 << 1280;
        QTest::newRow("window across the pause") << 100000 << 4321.05 << 5678.9 << 999;
        QTest::newRow("one column") << 100000 << 0.0 << 10500.0 << 1;
        QTest::newRow("few instants: as they are") << 100000 << 100.0 << 110.0 << 640;
        QTest::newRow("partial last block") << 1000 << 1.0 << 99.95 << 33;
    }
    void envelope_keepsTheExtremesOfEveryColumn()
    {
        QFETCH(int, count);
        QFETCH(double, x0);
        QFETCH(double, x1);
        QFETCH(int, columns);
        SeriesStore store;
        fill(store, count);
        SeriesStore::Points points;
        store.envelope(SeriesStore::Key::Time, x0, x1, columns, {0, 4, 8}, points);
        // The same by brute force: each column's instants, their lowest and highest value.
        qsizetype first = 0;
        while (first < count && store.time(first) < x0)
            ++first;
        qsizetype end = first;
        while (end < count && store.time(end) <= x1)
            ++end;
        const double width = (x1 - x0) / columns;
        for (int s : {0, 4, 8}) {
            std::vector<QPointF> expected;
            if (first > 0)
                expected.emplace_back(store.time(first - 1), store.value(s, first - 1));
            if (end - first <= 2 * columns) {
                for (qsizetype i = first; i < end; ++i)
                    expected.emplace_back(store.time(i), store.value(s, i));
            } else {
                qsizetype i = first;
                for (int c = 0; c < columns; ++c) {
                    const double right = x0 + (c + 1) * width;
                    double low = std::numeric_limits<double>::infinity();
                    double high = -low;
                    bool any = false;
                    for (; i < end && (c == columns - 1 || store.time(i) < right); ++i) {
                        any = true;
                        const double v = store.value(s, i);
                        if (!std::isnan(v)) {
                            low = std::min(low, v);
                            high = std::max(high, v);
                        }
                    }
                    const double middle = x0 + (c + 0.5) * width;
                    if (any)
                        expected.emplace_back(middle, low > high ? kNaN : low);
                    if (any && high > low)
                        expected.emplace_back(middle, high);
                }
            }
            if (end < count)
                expected.emplace_back(store.time(end), store.value(s, end));
            QCOMPARE(pointsText(points[static_cast<std::size_t>(s)]), pointsText(expected));
        }
        QVERIFY(points[1].empty());
    }

    void append_accumulatesChargeAndMarksSteps()
    {
        SeriesStore store;
        const auto currents = [](double a, double b, double c) {
            return SeriesStore::Values{0, 0, 0, a, b, c};
        };
        store.append(0, currents(9, 9, 9), 1);
        store.append(1800, currents(2, kNaN, 1), 2, QStringLiteral("3")); // B not measured
        store.append(5400, currents(-5, 0, 0), 2, QStringLiteral("2"));   // a load sinks only
        store.append(5000, currents(4, 0, 0), 2, QStringLiteral("2"));    // time cannot go back
        QCOMPARE(QList<double>({store.charge(0), store.charge(1), store.charge(2), store.charge(3),
                                store.time(3)}),
                 QList<double>({0, 1.5, 1.5, 1.5, 5400}));
        QCOMPARE(store.stepMarks().size(), std::size_t(3));
        QCOMPARE(store.markAt(3)->instant, 2);
        QCOMPARE(store.markAt(1)->loop1, QStringLiteral("3"));
        QCOMPARE(store.nearest(SeriesStore::Key::Time, 3700), 2);
        store.clear();
        QVERIFY(store.isEmpty() && store.stepMarks().empty());
    }

    void records_keepGapsSpreadOverTheirSecond_andBadLinesAreCounted()
    {
        StationFixture f;
        // Saved back by a spreadsheet: a byte order mark before the header.
        writeFile(
            f.path("SN1.CSV"),
            "\xEF\xBB\xBF" +
                crlfLines({kRunLogHeader, "1,1,,08:00:00,230.1,229.9,230,0,0,0,0,0,0,00:00:00,CC",
                           "2,2,3,08:00:00,229,,228.5,5,5,5,1145,1,2,00:00:00,CC",
                           "3,2,3,08:00:00,229,abc,229,5,5,5,1145,1,2,00:00:00,CC",
                           "4,2,3,08:00:00,229,229,229,5,5,5,1145,1,2,00:00:00,CC",
                           "5,2,3,08:00:00,229,229,229,5,5,5,1145,1,2,0:0,CC",
                           "6,2,2,08:00:01,1E-05,-3,4,5,5,5,1145,1,2,00:00:01,CC",
                           "7,3,2,08:00:01,1,2,3,4,5,6,7,8,9,00:00:00,CR",
                           "8,3,2,08:00:01,1,2,3,4,5,6,7,8,9,00:00:01,CR", "9,3,2,08:0"}));
        SeriesStore store;
        const RunLogRead read = readRunLog(f.path("SN1.CSV"), store);
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(read.records, 5);
        QCOMPARE(read.badLines, 4);
        QCOMPARE(read.firstBadLine, QStringLiteral("line 4: VotlageB \"abc\" is not a number"));
        QVERIFY(read.warning(f.path("SN1.CSV")).startsWith(QStringLiteral("4 line(s) of ")));
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

    void notARunLog_isRefused_data()
    {
        addColumns({"content", "reason"});
        addRows({"empty;;the file is empty",
                 "a program;[TestStep Option]\nTotalStepCount=1;its first line is not the header "
                 "of a run log (No.,Step,Loop1,StepTime,VotlageA, ...)",
                 "another CSV;No.,Step,Loop1,StepTime\n1,1,,08:00:00;is not the header",
                 "missing;-;No such file"});
    }
    void notARunLog_isRefused()
    {
        QFETCH(QString, content);
        QFETCH(QString, reason);
        StationFixture f;
        const QString path = f.path("SN1.CSV");
        if (content != "-")
            writeFile(path, content.toUtf8());
        SeriesStore store;
        const RunLogRead read = readRunLog(path, store);
        QVERIFY(!read.ok);
        QVERIFY2(read.error.startsWith(path + " is not a run log: ") && read.error.contains(reason),
                 qPrintable(read.error));
    }
};

ACL3_TEST_MAIN(SeriesStoreTest)
#include "tst_seriesstore.moc"
