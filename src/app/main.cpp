// acl3: the station's window. Builds the station on its folder, shows the window and lets
// Timer1 do the start-up.

#include "StopSignals.h"
#include "common/Clock.h"
#include "execution/RunControl.h"
#include "execution/RunReportJob.h"
#include "execution/StartupTimer.h"
#include "loadsim/SimulateOption.h"
#include "plot/LogViewer.h"
#include "station/Station.h"
#include "station/StationFolder.h"
#include "ui/MainWindow.h"
#include "ui/RunBinding.h"
#include "ui/StepEditor.h"
#include "ui/WidgetPrompts.h"

#include "Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

namespace {

constexpr int kSignalExitBase = 128;

// Time the window gets after the start-up to lay itself out and paint before a screenshot.
constexpr int kScreenshotSettleMs = 300;

const QString kScreenshotOption = QStringLiteral("screenshot");
const QString kScreenshotRunOption = QStringLiteral("screenshot-run");
const QString kPlotOption = QStringLiteral("plot");

// Saves a picture of a window (PNG) and quits: 0 when it was written.
void saveScreenshot(QWidget& window, const QString& file)
{
    const bool saved = window.grab().save(file, "PNG");
    if (!saved)
        std::fprintf(stderr, "acl3: cannot write %s\n", qPrintable(file));
    QApplication::exit(saved ? 0 : 1);
}

// acl3 --plot LOG.CSV: the log in a viewer window of its own, without the station.
int showLog(const QString& path, const QString& screenshot)
{
    WidgetPrompts prompts;
    QString refusal;
    LogViewer* viewer = LogViewer::open(path, prompts, nullptr, &refusal);
    if (!viewer) {
        std::fprintf(stderr, "acl3: %s\n", qPrintable(refusal));
        return 2;
    }
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    prompts.setParentWidget(viewer);
    viewer->show();
    if (!screenshot.isEmpty())
        QTimer::singleShot(kScreenshotSettleMs, viewer,
                           [viewer, screenshot] { saveScreenshot(*viewer, screenshot); });
    return QApplication::exec();
}

// --help and --version are answered before the window's application exists, so that they work
// without a display.
bool asksForHelpOrVersion(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        for (const char* option : {"-h", "-?", "--help", "--help-all", "-v", "--version"}) {
            if (arg == option)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("acl3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ACL3_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(MainWindow::kCaption);
    parser.addHelpOption();
    parser.addVersionOption();
    addStationOption(parser);
    parser.addOption(QCommandLineOption(
        kScreenshotOption,
        QStringLiteral("Save a picture of the window after start-up to FILE (PNG) and quit."),
        QStringLiteral("FILE")));
    parser.addOption(QCommandLineOption(
        kScreenshotRunOption,
        QStringLiteral("With --screenshot: start the test program after start-up and take the "
                       "picture SECONDS into the run."),
        QStringLiteral("SECONDS")));
    parser.addOption(QCommandLineOption(
        kPlotOption,
        QStringLiteral("Show a finished run's CSV log in the trend plot (no station window)."),
        QStringLiteral("LOG.CSV")));
    SimulateOption::addTo(parser);
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication console(argc, argv);
        parser.process(console); // prints the answer and exits
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("acl3"));
    parser.process(app);
    const QString screenshot = parser.value(kScreenshotOption);
    if (parser.isSet(kPlotOption))
        return showLog(parser.value(kPlotOption), screenshot);
    bool runSecondsOk = true;
    const double runSeconds = parser.isSet(kScreenshotRunOption)
                                  ? parser.value(kScreenshotRunOption).toDouble(&runSecondsOk)
                                  : 0;
    if (!runSecondsOk || runSeconds < 0) {
        std::fprintf(stderr, "acl3: --%s needs a number of seconds, not \"%s\"\n",
                     qPrintable(kScreenshotRunOption),
                     qPrintable(parser.value(kScreenshotRunOption)));
        return 2;
    }
    SimulateOption simulate;
    QString error;
    if (!simulate.readFrom(parser, &error)) {
        std::fprintf(stderr, "acl3: %s\n", qPrintable(error));
        return 2;
    }

    const QString folder = stationFolderFrom(parser);
    if (!prepareStationFolder(folder, &error)) {
        std::fprintf(stderr, "acl3: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, WidgetPrompts::kDefaultTitle, error);
        return 1;
    }

    SystemClock clock;
    WidgetPrompts prompts;
    Station station(folder, clock, prompts);
    if (!simulate.start(station, &error)) {
        std::fprintf(stderr, "acl3: the simulated load cannot start: %s\n", qPrintable(error));
        return 2;
    }
    MainWindow window(station);
    prompts.setParentWidget(&window);
    if (simulate.enabled)
        window.setTitleNote(simulate.description());
    RunControl run(station);
    new RunBinding(window, run);
    RunReportJob report(station, run);
    QObject::connect(new StopSignals(&app), &StopSignals::received, &app, [&run](int signo) {
        // Ended from outside (a closed session, a shutdown): the load goes off first.
        run.windowClosing();
        QApplication::exit(kSignalExitBase + signo);
    });

    StartupTimer timer1(station);
    QObject::connect(&timer1, &StartupTimer::loadLevelLayoutDue, window.stepEditor(),
                     &StepEditor::ShowLoadLevelLayout);

    // A run that a crash cut short is offered once the program and the settings are in.
    if (screenshot.isEmpty())
        QObject::connect(
            &timer1, &StartupTimer::startupFinished, &run, [&run] { run.offerInterruptedRuns(); },
            Qt::QueuedConnection);
    if (!screenshot.isEmpty()) {
        QObject::connect(&timer1, &StartupTimer::startupFinished, &window, [&] {
            if (runSeconds <= 0) {
                QTimer::singleShot(kScreenshotSettleMs, &window,
                                   [&] { saveScreenshot(window, screenshot); });
                return;
            }
            // A picture of the window during a run: Start, then the picture that far into it.
            QTimer::singleShot(static_cast<int>(runSeconds * 1000), &window,
                               [&] { saveScreenshot(window, screenshot); });
            QTimer::singleShot(
                0, &window, [&] { window.commandButton(QStringLiteral("StartCommand"))->click(); });
        });
    }

    // The window opens at its design size where the screen has room for it, else fills it.
    const QRect available = window.screen()->availableGeometry();
    if (available.width() < MainWindow::kDefaultWidth ||
        available.height() < MainWindow::kDefaultHeight)
        window.showMaximized();
    else
        window.show();
    timer1.start();
    return QApplication::exec();
}
