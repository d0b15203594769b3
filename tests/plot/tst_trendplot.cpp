// Protects the trend plot (the points it draws, its cursor reading, zoom and pan, export) and the
// log viewer: a run's log read back is what the run plotted live.
#include "execution/RunBench.h"
#include "plot/LogViewer.h"
#include "plot/TrendPlot.h"
#include "series/RunLogReader.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"
#include "support/WidgetTestMain.h"

#include <QCheckBox>
#include <QToolButton>

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace {

// `count` instants 1 s apart in steps of 100; phase B's voltage missing at every tenth; 3 A each.
struct PlotFixture
{
    explicit PlotFixture(int count)
    {
        for (int i = 0; i < count; ++i) {
            SeriesStore::Values v;
            for (int phase = 0; phase < 3; ++phase) {
                v[static_cast<std::size_t>(phase)] = 230 + phase + (i % 7) * 0.5;
                v[static_cast<std::size_t>(3 + phase)] = 3;
                v[static_cast<std::size_t>(6 + phase)] = 690 + i % 11;
            }
            if (i % 10 == 0)
                v[1] = std::numeric_limits<double>::quiet_NaN();
            store.append(i, v, 1 + i / 100, i < 100 ? QString() : QStringLiteral("2"));
        }
        plot.setStore(&store);
        plot.setPrompts(&prompts);
        plot.resize(1280, 480);
        plot.show();
        plot.redraw();
    }
    QString points(QCPGraph* graph) const
    {
        QStringList out;
        for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
            out << QStringLiteral("%1:%2").arg(it->key).arg(it->value);
        return out.join(QLatin1Char(' '));
    }
    QString expected(SeriesStore::Key key, int series) const
    {
        SeriesStore::Points env;
        const QCPRange range = plot.plot()->xAxis->range();
        store.envelope(key, range.lower, range.upper, plot.plot()->axisRect()->width(), {series},
                       env);
        QStringList out;
        for (const QPointF& p : env[static_cast<std::size_t>(series)])
            out << QStringLiteral("%1:%2").arg(p.x()).arg(p.y());
        return out.join(QLatin1Char(' '));
    }
    void click(const QString& name) { plot.findChild<QAbstractButton*>(name)->click(); }

    SeriesStore store;
    RecordingPrompts prompts;
    TrendPlot plot;
    QTemporaryDir dir;
};

} // namespace

class TrendPlotTest : public QObject
{
    Q_OBJECT

private slots:
    void graphs_drawTheShownSeriesOfTheShownRange()
    {
        PlotFixture f(5000);
        f.click(QStringLiteral("PlotWholeRun"));
        f.plot.redraw();
        QCOMPARE(f.plot.plot()->xAxis->range(), QCPRange(0, 4999));
        QCOMPARE(f.points(f.plot.graph(1)), f.expected(SeriesStore::Key::Time, 1));
        QVERIFY(f.plot.valueAxis(Quantity::Voltage)->range().contains(232 + 3));

        f.click(QStringLiteral("PlotPhaseB"));
        f.click(QStringLiteral("PlotPower"));
        f.plot.setFollowMinutes(1);
        f.plot.redraw();
        QCOMPARE(f.plot.range(), TrendPlot::Range::Follow);
        QCOMPARE(f.plot.plot()->xAxis->range(), QCPRange(4939, 4999));
        QCOMPARE(f.points(f.plot.graph(0)), f.expected(SeriesStore::Key::Time, 0));
        for (int s : {1, 4, 6, 7, 8}) {
            QVERIFY(!f.plot.graph(s)->visible());
            QCOMPARE(f.plot.graph(s)->dataCount(), 0);
        }
        QVERIFY(!f.plot.valueAxis(Quantity::Power)->visible());
        QVERIFY(f.plot.valueAxis(Quantity::Current)->visible());
        for (int s = 0; s < SeriesStore::kSeriesCount; ++s)
            QCOMPARE(f.plot.plot()->legend->hasItemWithPlottable(f.plot.graph(s)),
                     f.plot.graph(s)->visible());

        f.plot.setRange(TrendPlot::Range::Zoomed); // a zoom in seconds means nothing in Ah
        f.click(QStringLiteral("PlotBattery"));
        f.plot.redraw();
        f.plot.redraw(); // the envelope takes the width the Ah labels leave the axis
        QCOMPARE(f.plot.range(), TrendPlot::Range::WholeRun);
        QCOMPARE(f.plot.plot()->xAxis->label(), QStringLiteral("Charge drawn (Ah)"));
        QVERIFY(!f.plot.graph(0)->visible());
        QCOMPARE(f.points(f.plot.batteryGraph()), f.expected(SeriesStore::Key::Charge, 0));
        QCOMPARE(f.plot.plot()->xAxis->range().upper, f.store.charge(4999));
    }

    void cursor_readsTheShownValuesAtTheNearestInstant()
    {
        PlotFixture f(300);
        f.click(QStringLiteral("PlotPower"));
        f.plot.setCursorAt(110.4);
        QCOMPARE(f.plot.cursorText(),
                 QStringLiteral("0:01:50.0   Step 2 (Loop1 2)   0.2750 Ah   VA 232.5 V   VB — V   "
                                "VC 234.5 V   IA 3 A   IB 3 A   IC 3 A"));
        f.click(QStringLiteral("PlotBattery"));
        f.plot.setCursorAt(0.05);
        QCOMPARE(f.plot.cursorText(), QStringLiteral("0:00:20.0   Step 1   0.0500 Ah   VA 233 V"));
        // A new run takes the cursor away.
        f.store.clear();
        f.store.append(0, {}, 1, QString());
        f.plot.redraw();
        QCOMPARE(f.plot.cursorText(), QString());
    }

    void export_writesTheShownPlot_data()
    {
        addColumns({"name", "written", "start"});
        addRows({"png;run.png;run.png;PNG", "SVG;run.SVG;run.SVG;<?xml", "pdf;run.pdf;run.pdf;%PDF",
                 "no suffix;run;run.png;PNG", "txt;run.txt;;"});
    }
    void export_writesTheShownPlot()
    {
        QFETCH(QString, name);
        QFETCH(QString, written);
        QFETCH(QString, start);
        PlotFixture f(100);
        f.plot.setExportPreset(f.dir.filePath(QStringLiteral("SN7.CSV")));
        f.prompts.scriptFileNames({f.dir.filePath(name)});
        f.click(QStringLiteral("PlotExport"));
        QCOMPARE(f.prompts.shown.front().text, f.dir.filePath(QStringLiteral("SN7.png")));
        if (written.isEmpty()) {
            QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList());
            QCOMPARE(f.prompts.messages(),
                     QStringList(QStringLiteral("Cannot export the plot to %1: the name must "
                                                "end in .png, .svg or .pdf.")
                                     .arg(f.dir.filePath(name))));
            return;
        }
        QVERIFY(f.prompts.messages().isEmpty());
        const QByteArray content = readFile(f.dir.filePath(written));
        QVERIFY(content.size() > 1000 && content.left(8).contains(start.toLatin1()));
    }

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

        // The log read back holds what the run plotted live.
        QVERIFY(live.size() >= 10);
        LogViewer* viewer = LogViewer::open(b.station().run.LogFileName, b.fixture.prompts);
        QVERIFY(viewer);
        const SeriesStore& reread = viewer->store();
        QCOMPARE(reread.size(), live.size());
        for (qsizetype i = 0; i < live.size(); ++i) {
            for (int v = 0; v < SeriesStore::kSeriesCount; ++v)
                QCOMPARE(reread.value(v, i), live.value(v, i));
            QCOMPARE(reread.markAt(i)->step, live.markAt(i)->step);
            QVERIFY2(std::abs(reread.time(i) - live.time(i)) < 1.0, qPrintable(QString::number(i)));
        }
        QCOMPARE(reread.stepMarks().size(), std::size_t(4)); // step 1, two passes of 3, step 5
        QVERIFY(b.messages().isEmpty());
        delete viewer;
    }

    void opening_refusesWhatIsNotARunLog_andSaysWhatItLeftOut()
    {
        StationFixture f;
        const QString path = f.path("SN.CSV");
        writeFile(path, "[TestStep Option]\n");
        QVERIFY(!LogViewer::open(path, f.prompts));
        writeFile(path, crlfLines({kRunLogHeader, "1,1,,08:00:00,1,2,3,4,5,6,7,8,9,00:00:00,CC",
                                   "1,1,,08:0"}));
        std::unique_ptr<LogViewer> viewer(LogViewer::open(path, f.prompts));
        QVERIFY(viewer);
        const QStringList shown = f.prompts.messages();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[0].contains("SN.CSV is not a run log: its first line is not the header of "
                                   "a run log"),
                 qPrintable(shown[0]));
        QVERIFY2(shown[1].contains("SN.CSV are not whole records and are not shown (first: line "
                                   "3: 4 fields"),
                 qPrintable(shown[1]));
    }
};

ACL3_WIDGET_TEST_MAIN(TrendPlotTest)
#include "tst_trendplot.moc"
