// The run's timing against the simulated load (the simulator on its own thread stamps each line
// as it arrives):
//  - measuring instants of a step with MeasTime 0.1 s: the error of each of 200 instants
//    against the ideal schedule, and the drift from the first to the last (targets: 99th
//    percentile under 3 ms, no drift);
//  - the same over 40 steps of 0.5 s, with the run journal written and without it: each step
//    change is two journal events, each synced to disk (target: no difference in the error);
//  - the journal's own cost: the time of one event written and synced;
//  - the station thread's CPU time during a run with MeasTime 1 s (target: under 2% of a core).
// With --with-plot the same runs go on in the window, its trend plot shown and fed (offscreen:
// QT_QPA_PLATFORM=offscreen build-rel/bench/bench_run --with-plot).
#include "Measure.h"
#include "execution/RunControl.h"
#include "execution/RunJournal.h"
#include "loadsim/LoadSimulatorThread.h"
#include "station/Station.h"
#include "testprogram/TestProgramFile.h"
#include "ui/MainWindow.h"
#include "ui/RunBinding.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace {

bool withPlot = false;

struct Bench
{
    Bench(const QString& measure, const QString& dwellSeconds, int steps = 1)
    {
        const QString program = QDir(dir.path()).filePath(QStringLiteral("bench.INI"));
        QFile file(program);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("[TestStep Option]\r\nMeasureTime=%1\r\nTotalStepCount=%2\r\n")
                       .arg(measure)
                       .arg(steps)
                       .toUtf8());
        for (int n = 1; n <= steps; ++n)
            file.write(QStringLiteral("[Step%1]\r\nActionMode=LoadLevel\r\nLoadModeVolt=CC\r\n"
                                      "CurrentValue=5\r\nStopTime=%2\r\nMeasTime=%3\r\n"
                                      "Frequency=50\r\n")
                           .arg(n)
                           .arg(dwellSeconds, measure)
                           .toUtf8());
        file.close();
        station.settings.TestFileName = program;
        station.settings.SaveLogFileFlag = 1;
        station.form.SNText.setText(QStringLiteral("BENCH"));
        LoadTestProgram(station);
        port = 20000 + static_cast<quint16>(QCoreApplication::applicationPid() % 10000);
        while (sim->listenTcp(port) == 0)
            ++port;
        station.loadLink().ConnectMode = kConnectTcp;
        station.form.txtIP.setText(QStringLiteral("127.0.0.1"));
        station.form.txtPort.setText(QString::number(port));
    }

    bool run(bool journal = true)
    {
        RunControl rc(station);
        rc.journal().setEnabled(journal);
        std::unique_ptr<MainWindow> window;
        if (withPlot) {
            window = std::make_unique<MainWindow>(station);
            new RunBinding(*window, rc);
            window->show();
        }
        QSignalSpy ended(&rc, &RunControl::runEnded);
        rc.StartCommand();
        return !ended.isEmpty() || ended.wait(600000);
    }

    QTemporaryDir dir;
    SystemClock clock;
    RecordingPrompts prompts;
    Station station{dir.path(), clock, prompts};
    LoadSimulatorThread sim;
    quint16 port = 0;
};

void measuringInstants(int steps, bool journal)
{
    constexpr int kInstants = 200;
    constexpr double kIntervalMs = 100;
    Bench b(QStringLiteral("0.1"), steps == 1 ? QStringLiteral("20") : QStringLiteral("0.5"),
            steps);
    b.run(journal);
    QList<double> arrivals;
    QString previous;
    for (const SimLogEntry& e : b.sim->log()) {
        // The query right after a step's commands is the step start's; the timer's instants
        // follow each other.
        if (e.line == QLatin1String("GLOB:MEAS:VOLT?") &&
            previous == QLatin1String("GLOB:MEAS:POW?"))
            arrivals << e.ms;
        previous = e.line;
    }
    if (arrivals.size() < 2) {
        std::printf("measuring instants: none arrived\n");
        return;
    }
    // An instant missed on a busy machine is skipped, not caught up: each arrival is set
    // against the nearest instant of the ideal schedule.
    const double first = arrivals[0];
    const qsizetype n = std::min<qsizetype>(arrivals.size(), kInstants);
    std::vector<double> errors;
    for (qsizetype k = 0; k < n; ++k) {
        const double since = arrivals[k] - first;
        errors.push_back(since - std::round(since / kIntervalMs) * kIntervalMs);
    }
    std::vector<double> magnitudes;
    for (double e : errors)
        magnitudes.push_back(std::fabs(e));
    std::printf("measuring instants, MeasTime 0.1 s, %lld instants, %d step(s), journal %s%s:\n",
                static_cast<long long>(n), steps, journal ? "on" : "off",
                withPlot ? ", the window and its plot shown" : "");
    std::printf("  error against the ideal schedule: median %.2f ms, 99th percentile %.2f ms, "
                "max %.2f ms\n",
                percentile(magnitudes, 0.5), percentile(magnitudes, 0.99),
                percentile(magnitudes, 1.0));
    std::printf("  drift from the first instant to the last: %.2f ms\n",
                errors.back() - errors.front());
}

void journalEventCost()
{
    constexpr int kEvents = 1000;
    QTemporaryDir dir;
    RunJournal journal;
    journal.open(QDir(dir.path()).filePath(QStringLiteral("BENCH.journal")));
    const QJsonObject fields{{QStringLiteral("step"), 12},
                             {QStringLiteral("how"), QStringLiteral("dwell time")},
                             {QStringLiteral("loop1"), QStringLiteral("2")},
                             {QStringLiteral("elapsed"), 10.002},
                             {QStringLiteral("ah"), 0.0123456},
                             {QStringLiteral("kwh"), 0.0045678},
                             {QStringLiteral("firstRecord"), 101},
                             {QStringLiteral("lastRecord"), 110}};
    std::vector<double> ms;
    for (int i = 0; i < kEvents; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        journal.write(journalevents::StepEnd, QDateTime::currentDateTime(), fields);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::printf("journal, %d step-end events written and synced one by one: median %.2f ms, 99th "
                "percentile %.2f ms, max %.2f ms per event\n",
                kEvents, percentile(ms, 0.5), percentile(ms, 0.99), percentile(ms, 1.0));
}

void cpuDuringRun()
{
    constexpr int kSeconds = 30;
    Bench b(QStringLiteral("1"), QString::number(kSeconds));
    const double cpuStart = threadCpuMs();
    const double wallStart = b.clock.monotonicMs();
    b.run();
    const double cpu = (threadCpuMs() - cpuStart) / 1000.0;
    const double wall = (b.clock.monotonicMs() - wallStart) / 1000.0;
    std::printf("station thread CPU during a %.1f s run with MeasTime 1 s: %.3f s = %.2f%% of "
                "one core\n",
                wall, cpu, 100.0 * cpu / wall);
}

} // namespace

int main(int argc, char** argv)
{
    withPlot = std::find(argv + 1, argv + argc, std::string("--with-plot")) != argv + argc;
    std::unique_ptr<QCoreApplication> app;
    if (withPlot)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    measuringInstants(1, true);
    measuringInstants(40, true);
    measuringInstants(40, false);
    journalEventCost();
    cpuDuringRun();
    return 0;
}
