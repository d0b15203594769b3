// The trend plot over a day at 0.1 s: 864,000 instants of 9 series appended on the window's
// thread with the plot shown (target: under 50 us an instant), the store's memory (target: under
// 100 MB), and the redraw of the whole-run view at 1280x400 next to that of the last ten minutes
// (target: median and 99th percentile under 16 ms). Run offscreen:
//   QT_QPA_PLATFORM=offscreen build-rel/bench/bench_plot
#include "Measure.h"
#include "plot/TrendPlot.h"
#include "series/SeriesStore.h"

#include <QApplication>
#include <QElapsedTimer>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int kInstants = 864000;
constexpr double kInterval = 0.1;
constexpr int kRedraws = 200;
constexpr QSize kPlotSize(1280, 400);

// A day of a three-phase load: slow swings, noise, a step every ten minutes, values not measured
// now and then.
void appendDay(SeriesStore& store, std::vector<double>& appendCpuUs)
{
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0, 0.2);
    SeriesStore::Values v;
    for (int i = 0; i < kInstants; ++i) {
        const double t = i * kInterval;
        const int step = 1 + i / 6000;
        for (int p = 0; p < 3; ++p) {
            const auto phase = static_cast<std::size_t>(p);
            v[phase] = 230 + 3 * std::sin(t / 900 + p) + noise(random);
            v[3 + phase] = 2.0 * (step % 5) + noise(random) * 0.05;
            v[6 + phase] = v[phase] * v[3 + phase];
        }
        if (i % 50000 < 10)
            v[1] = std::nan("");
        const double start = threadCpuMs();
        store.append(t, v, step);
        if (i % 1000 == 0)
            appendCpuUs.push_back((threadCpuMs() - start) * 1000);
    }
}

void redraws(const char* what, TrendPlot& plot)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int k = 0; k < kRedraws; ++k) {
        QElapsedTimer timer;
        timer.start();
        const double start = threadCpuMs();
        plot.redraw();
        cpu.push_back(threadCpuMs() - start);
        wall.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("redraw of %s (%d points of the first graph): median %.2f ms, 99th percentile "
                "%.2f ms (thread CPU: median %.2f ms, 99th %.2f ms)\n",
                what, plot.graph(0)->dataCount(), percentile(wall, 0.5), percentile(wall, 0.99),
                percentile(cpu, 0.5), percentile(cpu, 0.99));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SeriesStore store;
    TrendPlot plot;
    plot.setStore(&store);
    plot.show();
    // The plot area itself at 1280x400; the tool row and the cursor line come on top.
    plot.resize(kPlotSize + (plot.size() - plot.plot()->size()));
    QApplication::processEvents();
    std::printf("plot area %dx%d, axis rect %d px wide\n", plot.plot()->width(),
                plot.plot()->height(), plot.plot()->axisRect()->width());

    const double rssBefore = residentMb();
    QElapsedTimer timer;
    timer.start();
    std::vector<double> appendCpuUs;
    appendDay(store, appendCpuUs);
    const double wallUs = timer.nsecsElapsed() / 1e3 / kInstants;
    std::printf("append %d instants x 9 series with the plot shown: %.2f us an instant (wall, "
                "whole loop); sampled thread CPU: median %.2f us, 99th percentile %.2f us\n",
                kInstants, wallUs, percentile(appendCpuUs, 0.5), percentile(appendCpuUs, 0.99));
    std::printf("store: %.1f MB held (resident memory +%.1f MB)\n", store.memoryBytes() / 1e6,
                residentMb() - rssBefore);

    plot.setRange(TrendPlot::Range::WholeRun);
    redraws("the whole run (24 h)", plot);
    plot.setFollowMinutes(10);
    plot.setRange(TrendPlot::Range::Follow);
    redraws("the last 10 minutes", plot);
    const double rssPlot = residentMb();
    plot.setBatteryView(true);
    plot.setRange(TrendPlot::Range::WholeRun);
    redraws("the whole run, battery view", plot);
    std::printf("resident memory of the process: %.1f MB\n", rssPlot);
    return 0;
}
