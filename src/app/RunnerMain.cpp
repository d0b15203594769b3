// acl3-run: runs a test program without a window, exactly as Start in the window does, and
// returns when the run ends.
#include "execution/RunControl.h"
#include "execution/StartupTimer.h"
#include "loadsim/SimulateOption.h"
#include "station/Station.h"
#include "station/StationFolder.h"
#include "testprogram/TestProgramFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Exit statuses.
constexpr int kRanToEnd = 0;
constexpr int kEndedOnError = 1;
constexpr int kBadInput = 2;
constexpr int kNoLoad = 3;
constexpr int kSignalBase = 128;

int signalPipe[2] = {-1, -1};

void onSignal(int signo)
{
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void say(FILE* stream, const QString& text)
{
    std::fprintf(stream, "acl3-run: %s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

[[noreturn]] void refuse(const QString& text)
{
    say(stderr, text);
    std::exit(kBadInput);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("acl3-run"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs an ACL3 test program without a window and writes its CSV log.\n"
        "Exit status: 0 the program ran to its end, 1 the run ended on an error, 2 bad usage or "
        "input, 3 no load answered, 128+N stopped by signal N (Ctrl-C, SIGTERM)."));
    parser.addHelpOption();
    addStationOption(parser);
    parser.addOptions({
        {QStringLiteral("program"),
         QStringLiteral("Run this program file instead of the station's current program "
                        "(the settings file is not changed)."),
         QStringLiteral("FILE")},
        {QStringLiteral("sn"), QStringLiteral("Serial number: names the log TestLog/SN.CSV."),
         QStringLiteral("SN")},
    });
    SimulateOption::addTo(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        refuse(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        refuse(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    SimulateOption simulate;
    QString error;
    if (!simulate.readFrom(parser, &error))
        refuse(error);

    const QString stationDir = stationFolderFrom(parser);
    if (!prepareStationFolder(stationDir, &error))
        refuse(error);

    SystemClock clock;
    ConsolePrompts prompts;
    Station station(stationDir, clock, prompts);
    if (parser.isSet(QStringLiteral("program"))) {
        const QFileInfo program(parser.value(QStringLiteral("program")));
        if (!program.isFile())
            refuse(QStringLiteral("the program file %1 does not exist")
                       .arg(QDir::toNativeSeparators(program.absoluteFilePath())));
        station.programOverride = program.absoluteFilePath();
    }

    if (!simulate.start(station, &error)) {
        say(stderr, QStringLiteral("the simulated load cannot start: %1").arg(error));
        return kBadInput;
    }
    if (simulate.enabled)
        say(stdout, simulate.description());

    // The start-up of the window's Timer1: settings, link, program, serial number.
    StartupTimer startup(station);
    startup.tick();
    if (!readTestProgram(station.settings.TestFileName, &error))
        return kBadInput; // the start-up has said why
    if (parser.isSet(QStringLiteral("sn")))
        station.form.SNText.setText(parser.value(QStringLiteral("sn")));

    RunControl run(station);
    QObject::connect(&run, &RunControl::stepStarted, &app,
                     [&] { say(stdout, station.form.RunStatus.text()); });

    int stoppedBySignal = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&] {
            char signo = 0;
            if (::read(signalPipe[0], &signo, 1) == 1 && stoppedBySignal == 0) {
                stoppedBySignal = signo;
                say(stderr, QStringLiteral("stopping the test: the load is switched off"));
                run.StopCommand();
            }
        });
        struct sigaction action = {};
        action.sa_handler = onSignal;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    int code = kEndedOnError;
    QString outcome;
    QObject::connect(&run, &RunControl::runEnded, &app, [&](RunEnd how) {
        switch (how) {
        case RunEnd::Finished:
            code = kRanToEnd;
            outcome = QStringLiteral("the program ran to its end");
            break;
        case RunEnd::ConnectError:
            code = kNoLoad;
            outcome = QStringLiteral("no load answered");
            break;
        case RunEnd::Refused:
            code = kBadInput;
            outcome = QStringLiteral("the test did not start");
            break;
        case RunEnd::Stopped:
            code = stoppedBySignal ? kSignalBase + stoppedBySignal : kEndedOnError;
            outcome = QStringLiteral("the test was stopped");
            break;
        case RunEnd::Error:
            code = kEndedOnError;
            outcome = QStringLiteral("the run ended on an error");
            break;
        }
        QTimer::singleShot(0, &app, [&app, &code] { app.exit(code); });
    });
    QTimer::singleShot(0, &run, [&run] { run.StartCommand(); });
    app.exec();

    const RunState& state = station.run;
    const int records = std::max(state.RecordNo - 1, 0);
    if (station.settings.SaveLogFileFlag == 1) {
        say(stdout, QStringLiteral("%1: %2 records in %3, run time %4")
                        .arg(outcome)
                        .arg(records)
                        .arg(QDir::toNativeSeparators(state.LogFileName),
                             FormatElapsed(state.TestStartText, dateTimeText(clock.now()))));
    } else {
        // Without the log switch the records live in the window's list; here they are printed.
        const GridModel& list = station.form.RecordList;
        for (int row = 0; row < list.rows(); ++row)
            std::printf("%s\n",
                        list.rowTexts(row).join(QLatin1Char(',')).toLocal8Bit().constData());
        say(stdout, QStringLiteral("%1: %2 records (the settings' log switch is off: no CSV log)")
                        .arg(outcome)
                        .arg(records));
    }
    return code;
}
