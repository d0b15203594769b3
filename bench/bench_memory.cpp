// Resident memory over a long run: a load level held at MeasTime 0.1 s against the station's own
// simulated load (as --simulate starts it), on a fake clock running fast, until a million
// records are written; resident memory at 1,000 records and every 100,000 after (target: the
// window and the runner grow by less than 20 MB beyond the plot's own data).
//   build-rel/bench/bench_memory --runner           the headless runner's objects
//   QT_QPA_PLATFORM=offscreen build-rel/bench/bench_memory --window    the window with its plot
// --list runs with the settings' log switch off (the records go to the record list), and
// --records N stops after N records.
#include "Measure.h"
#include "execution/RunControl.h"
#include "execution/StartupTimer.h"
#include "loadsim/SimulateOption.h"
#include "station/Station.h"
#include "station/StationFolder.h"
#include "ui/MainWindow.h"
#include "ui/RunBinding.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int kFirstRecords = 1000;
constexpr int kReportEvery = 100000;
constexpr int kPollMs = 20;
constexpr double kClockSpeed = 1000;

} // namespace

int main(int argc, char** argv)
{
    // The runner has no GUI application: its memory is measured without one.
    const bool window = std::find(argv + 1, argv + argc, std::string("--window")) != argv + argc;
    std::unique_ptr<QCoreApplication> app;
    if (window)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("window"), QStringLiteral("The window and its plot.")},
                       {QStringLiteral("runner"), QStringLiteral("The runner's objects only.")},
                       {QStringLiteral("list"), QStringLiteral("The log switch off.")},
                       {QStringLiteral("records"), QStringLiteral("Records to write."),
                        QStringLiteral("N"), QStringLiteral("1000000")},
                       {QStringLiteral("speed"), QStringLiteral("The fake clock's speed."),
                        QStringLiteral("N"), QString::number(kClockSpeed)}});
    parser.process(*app);
    const int records = parser.value(QStringLiteral("records")).toInt();

    // A new station folder with the runner's start-up, the program given as --program is.
    QTemporaryDir dir;
    const QString folder = QDir(dir.path()).filePath(QStringLiteral("station"));
    QString error;
    if (!prepareStationFolder(folder, &error)) {
        std::fprintf(stderr, "bench_memory: %s\n", qPrintable(error));
        return 1;
    }
    FakeClock clock(QDateTime(QDate(2026, 1, 5), QTime(8, 0)),
                    parser.value(QStringLiteral("speed")).toDouble());
    ConsolePrompts prompts;
    Station station(folder, clock, prompts);
    SimulateOption simulate;
    simulate.enabled = true;
    if (!simulate.start(station, &error)) {
        std::fprintf(stderr, "bench_memory: %s\n", qPrintable(error));
        return 1;
    }
    const QString program = QDir(dir.path()).filePath(QStringLiteral("long.INI"));
    QFile file(program);
    file.open(QIODevice::WriteOnly);
    // Ten-hour steps in a loop (a step must end within a day). The clock runs faster than the
    // station can measure, so a step holds as many records as the machine manages: loop far
    // more often than a million records need.
    file.write("[TestStep Option]\r\nMeasureTime=0.1\r\nTotalStepCount=3\r\n"
               "[Step1]\r\nActionMode=FOR\r\nStopValue=9999\r\n[Step2]\r\n"
               "ActionMode=LoadLevel\r\nLoadModeVolt=CC\r\nCurrentValue=5\r\nStopTime=36000\r\n"
               "MeasTime=0.1\r\nFrequency=50\r\n[Step3]\r\nActionMode=LOOP\r\n");
    file.close();
    station.programOverride = program;
    StartupTimer startup(station);
    startup.tick();
    if (parser.isSet(QStringLiteral("list")))
        station.settings.SaveLogFileFlag = 0;
    station.form.SNText.setText(QStringLiteral("MEMORY"));

    RunControl run(station);
    std::unique_ptr<MainWindow> mainWindow;
    if (window) {
        mainWindow = std::make_unique<MainWindow>(station);
        new RunBinding(*mainWindow, run);
        mainWindow->show();
    }
    const auto plotMb = [&] {
        return mainWindow ? mainWindow->runSeries().memoryBytes() / 1e6 : 0.0;
    };

    std::printf("%s, log switch %d, %d records\n",
                window ? "window with its plot" : "runner (no window)",
                station.settings.SaveLogFileFlag, records);
    double firstRss = 0;
    double firstPlot = 0;
    int nextReport = kReportEvery;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const int written = station.run.RecordNo - 1;
        if (firstRss == 0 && written >= kFirstRecords) {
            firstRss = residentMb();
            firstPlot = plotMb();
            std::printf("%8d records: resident %.1f MB (plot data %.1f MB)\n", written, firstRss,
                        firstPlot);
            std::fflush(stdout);
            std::fflush(stdout);
        }
        if (written >= nextReport || written >= records) {
            nextReport += kReportEvery;
            const double rss = residentMb();
            std::printf("%8d records: resident %.1f MB (plot data %.1f MB), %.0f records/s\n",
                        written, rss, plotMb(), written / (elapsed.elapsed() / 1000.0));
            std::fflush(stdout);
        }
        if (written >= records) {
            const double growth = residentMb() - firstRss;
            std::printf("growth from %d records: %.1f MB, of which plot data %.1f MB; beyond the "
                        "plot's data %.1f MB\n",
                        kFirstRecords, growth, plotMb() - firstPlot,
                        growth - (plotMb() - firstPlot));
            QObject::disconnect(&run, &RunControl::runEnded, nullptr, nullptr);
            run.StopCommand();
            QCoreApplication::quit();
        }
    });
    // A run that ends short of the records asked for is a failed measurement, not a hang.
    QObject::connect(&run, &RunControl::runEnded, [&] {
        std::fprintf(stderr, "bench_memory: the run ended after %d records\n",
                     station.run.RecordNo - 1);
        QCoreApplication::exit(1);
    });
    poll.start(kPollMs);
    QTimer::singleShot(0, &run, &RunControl::StartCommand);
    return QCoreApplication::exec();
}
