// Protects the log viewer: a run's log read back is what the run plotted live.
#include "execution/RunBench.h"
#include "plot/LogViewer.h"
#include "plot/TrendPlot.h"
#include "support/WidgetTestMain.h"

#include <qcustomplot.h>

class LogViewerTest : public QObject
{
    Q_OBJECT

private slots:
    void runLog_reachesThePlotAndTheViewerAlike()
    {
        RunBench b(20);
        b.program({{"LoadLevel", "CC", "4", "2", "", "", "", "0.5", "", "50"},
                   {"FOR", "", "", "", "2"},
                   {"LoadLevel", "CR", "50", "1.5", "", "", "", "0.5", "", "50"},
                   {"LOOP"},
                   {"DisCharge", "CC", "8", "1", "0", "", "", "0.5"}});
        SeriesStore live;
        b.rc.log().setSeriesStore(&live);
        QCOMPARE(b.run(), RunEnd::Finished);

        const QList<QStringList> records = b.records();
        QVERIFY(records.size() >= 10);
        QCOMPARE(live.size(), records.size());
        LogViewer* viewer = LogViewer::open(b.station().run.LogFileName, b.fixture.prompts);
        QVERIFY(viewer);
        const SeriesStore& reread = viewer->store();
        QCOMPARE(reread.size(), live.size());
        for (qsizetype i = 0; i < live.size(); ++i) {
            const QStringList& r = records[i];
            for (int v = 0; v < SeriesStore::kSeriesCount; ++v) {
                QCOMPARE(live.value(v, i), r[4 + v].toDouble());
                QCOMPARE(reread.value(v, i), live.value(v, i));
            }
            QCOMPARE(live.markAt(i)->step, r[1].toInt());
            QCOMPARE(live.markAt(i)->loop1, r[2]);
            const double total =
                QTime::fromString(r[13], QStringLiteral("hh:mm:ss")).msecsSinceStartOfDay() /
                1000.0;
            QVERIFY2(std::abs(live.time(i) - total) < 1.0,
                     qPrintable(QStringLiteral("%1 %2").arg(live.time(i)).arg(r[13])));
            QCOMPARE(std::floor(reread.time(i)), total);
        }
        QCOMPARE(reread.stepMarks().size(), live.stepMarks().size());
        QCOMPARE(live.stepMarks().size(), std::size_t(4)); // step 1, two passes of 3, step 5

        viewer->show();
        viewer->plot()->redraw();
        QCOMPARE(viewer->plot()->range(), TrendPlot::Range::WholeRun);
        QVERIFY(viewer->plot()->graph(0)->dataCount() > 0);
        QVERIFY(b.messages().isEmpty());
        delete viewer;
    }

    void opening_refusesWhatIsNotARunLogAndSaysWhatItLeftOut_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("message");
        QTest::newRow("a program") << QByteArray("[TestStep Option]\r\n") << false
                                   << "SN.CSV is not a run log: its first line is not the header "
                                      "of a run log";
        QTest::newRow("a torn last line")
            << QByteArray("No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,CurrentB,"
                          "CurrentC,PowerA,PowerB,PowerC,TotalTime,StepMode\r\n"
                          "1,1,,08:00:00,1,2,3,4,5,6,7,8,9,00:00:00,CC\r\n1,1,,08:0")
            << true << "SN.CSV are not whole records and are not shown (first: line 3: 4 fields";
    }
    void opening_refusesWhatIsNotARunLogAndSaysWhatItLeftOut()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, opens);
        QFETCH(QString, message);
        StationFixture f;
        const QString path = f.path(QStringLiteral("SN.CSV"));
        writeFile(path, content);
        std::unique_ptr<LogViewer> viewer(LogViewer::open(path, f.prompts));
        QCOMPARE(viewer != nullptr, opens);
        QCOMPARE(f.prompts.messages().size(), 1);
        QVERIFY2(f.prompts.messages().first().contains(message),
                 qPrintable(f.prompts.messages().first()));
    }
};

ACL3_WIDGET_TEST_MAIN(LogViewerTest)
#include "tst_logviewer.moc"
