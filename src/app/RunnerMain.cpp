// acl3-run: runs a test program without a window, exactly as Start in the window does, and
// returns when the run ends.
#include "StopSignals.h"
#include "execution/InterruptedRun.h"
#include "execution/RunControl.h"
#include "execution/RunReportJob.h"
#include "execution/StartupTimer.h"
#include "links/LinkLayer.h"
#include "loadsim/SimulateOption.h"
#include "settings/SettingsFiles.h"
#include "station/Station.h"
#include "station/StationFolder.h"
#include "testprogram/ProgramCheck.h"
#include "testprogram/TestProgramFile.h"

#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

namespace {

// Exit statuses.
constexpr int kRanToEnd = 0;
constexpr int kEndedOnError = 1;
constexpr int kBadInput = 2;
constexpr int kNoLoad = 3;
constexpr int kLoadLost = 4;
constexpr int kSignalBase = 128;
constexpr double kMarkerLineIntervalMs = 1000;

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

const QString kCheck = QStringLiteral("check");
const QString kDryRun = QStringLiteral("dry-run");
const QString kProgram = QStringLiteral("program");

// The program a run or a check takes: --program FILE, else the station's current program.
QString programOf(const QCommandLineParser& parser, const QString& stationDir)
{
    if (parser.isSet(kProgram))
        return QFileInfo(parser.value(kProgram)).absoluteFilePath();
    SystemClock clock;
    RecordingPrompts quiet; // what the program file holds is the check's to say
    Station station(stationDir, clock, quiet);
    LoadSystemSettings(station);
    return station.settings.TestFileName;
}

// acl3-run --check: the findings and the estimate, and nothing sent anywhere.
int checkOnly(const QString& program)
{
    const ProgramCheck check = checkProgramFile(program);
    std::printf("program %s\n", QDir::toNativeSeparators(program).toLocal8Bit().constData());
    for (const ProgramFinding& f : check.findings)
        std::printf("%s\n", findingLine(f).toLocal8Bit().constData());
    if (check.readable)
        std::printf("estimated run time %s\n",
                    estimateText(check.estimate).toLocal8Bit().constData());
    std::printf("%d %s, %d %s%s\n", check.errors(), check.errors() == 1 ? "error" : "errors",
                check.warnings(), check.warnings() == 1 ? "warning" : "warnings",
                check.errors() > 0 ? ": the program would not be run" : "");
    return check.errors() > 0 ? kBadInput : kRanToEnd;
}

// A dry run works in a station folder of its own, so that it neither waits for nor disturbs a
// run in the real one; the folder stays for its log.
QString dryRunFolder()
{
    QTemporaryDir dir(QDir::temp().filePath(QStringLiteral("acl3-dry-run-XXXXXX")));
    if (!dir.isValid())
        refuse(QStringLiteral("cannot create a folder for the dry run in %1: %2")
                   .arg(QDir::toNativeSeparators(QDir::tempPath()), dir.errorString()));
    dir.setAutoRemove(false);
    QString error;
    const QString station = QDir(dir.path()).filePath(QStringLiteral("station"));
    if (!prepareStationFolder(station, &error))
        refuse(error);
    return station;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("acl3-run"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ACL3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs an ACL3 test program without a window and writes its CSV log and its journal.\n"
        "Exit status: 0 the program ran to its end, 1 the run ended on an error, 2 bad usage or "
        "input (with --resume: no interrupted run, or its program file changed), 3 no load "
        "answered, 4 the load was lost (it did not answer again within "
        "ReconnectSeconds of ACL3.INI), 128+N stopped by signal N (Ctrl-C, SIGTERM, SIGHUP, "
        "SIGQUIT)."));
    parser.addHelpOption();
    parser.addVersionOption();
    addStationOption(parser);
    parser.addOptions({
        {kProgram,
         QStringLiteral("Run this program file instead of the station's current program "
                        "(the settings file is not changed)."),
         QStringLiteral("FILE")},
        {QStringLiteral("sn"), QStringLiteral("Serial number: names the log TestLog/SN.CSV."),
         QStringLiteral("SN")},
        {QStringLiteral("resume"),
         QStringLiteral("Take up the run that stopped unexpectedly (a crash, a kill, a power "
                        "loss) where it stood, as its journal TestLog/SN.journal says: the "
                        "station's most recent one, or that of --sn.")},
        {kCheck, QStringLiteral("Only check the program: print its errors and warnings and the "
                                "estimated run time, send nothing to any load; exit 0 without "
                                "errors, 2 with.")},
        {kDryRun,
         QStringLiteral("Rehearse the whole program against a simulated load on a clock that "
                        "skips every wait, in a temporary station folder, and print the "
                        "simulated run time and records.")},
    });
    SimulateOption::addTo(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        refuse(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        refuse(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    const bool dryRun = parser.isSet(kDryRun);
    if (dryRun && parser.isSet(kCheck))
        refuse(QStringLiteral("--check and --dry-run do not go together"));
    // A dry run reads the time of day some fifty times a record; without TZ the C library
    // looks at /etc/localtime again each time, which is most of a record's work.
    if (dryRun && qEnvironmentVariableIsEmpty("TZ")) {
        qputenv("TZ", ":/etc/localtime");
        ::tzset();
    }
    // The dry run's clock outlives the simulated load that follows it.
    std::unique_ptr<Clock> clockHolder;
    if (dryRun)
        clockHolder = std::make_unique<AcceleratedClock>();
    else
        clockHolder = std::make_unique<SystemClock>();
    Clock& clock = *clockHolder;
    SimulateOption simulate;
    QString error;
    if (!simulate.readFrom(parser, &error, dryRun))
        refuse(error);
    const bool resume = parser.isSet(QStringLiteral("resume"));
    if (resume && (parser.isSet(kProgram) || parser.isSet(kCheck) || dryRun))
        refuse(QStringLiteral("--resume runs the program the interrupted run ran: it does not go "
                              "with --program, --check or --dry-run"));
    if (parser.isSet(kCheck) && simulate.enabled)
        refuse(QStringLiteral("--simulate does not go with --check, which sends nothing"));

    const QString stationDir = stationFolderFrom(parser);
    if (!prepareStationFolder(stationDir, &error))
        refuse(error);
    if (parser.isSet(kCheck))
        return checkOnly(programOf(parser, stationDir));

    ConsolePrompts prompts;
    Station station(dryRun ? dryRunFolder() : stationDir, clock, prompts);
    // Whether the program can be run (it exists, is a regular file, is a test program) is the
    // program file's reading to say, below.
    if (dryRun || parser.isSet(kProgram))
        station.programOverride = programOf(parser, stationDir);
    std::optional<InterruptedRun> interrupted;
    if (resume) {
        const QString sn = parser.value(QStringLiteral("sn"));
        QStringList unreadable;
        for (const InterruptedRun& r : findInterruptedRuns(station.testLogDir(), &unreadable)) {
            if (sn.isEmpty() || r.serialNumber == sn) {
                interrupted = r;
                break;
            }
        }
        if (!interrupted) {
            for (const QString& problem : std::as_const(unreadable))
                say(stderr, problem);
            const QString folder = QDir::toNativeSeparators(station.testLogDir());
            refuse(sn.isEmpty()
                       ? QStringLiteral("no interrupted run in %1: nothing to resume").arg(folder)
                       : QStringLiteral("no interrupted run of SN %1 in %2: nothing to resume")
                             .arg(sn, folder));
        }
        station.programOverride = interrupted->program;
    }

    if (dryRun ? !simulate.startFollowing(station, clock, &error)
               : !simulate.start(station, &error)) {
        say(stderr, QStringLiteral("the simulated load cannot start: %1").arg(error));
        return kBadInput;
    }

    // The start-up of the window's Timer1: settings, link, program, serial number.
    StartupTimer startup(station);
    startup.tick();
    const auto content = readTestProgram(station.settings.TestFileName, &error);
    if (!content)
        return kBadInput; // the start-up has said why
    // The check comes first: errors refuse the run before anything is sent, warnings are said.
    const ProgramCheck check = checkProgram(content->steps);
    for (const ProgramFinding& f : check.findings)
        say(stderr, findingLine(f));
    if (check.errors() > 0) {
        say(stdout,
            QStringLiteral("the test did not start: the program check found %1 %2")
                .arg(check.errors())
                .arg(check.errors() == 1 ? QStringLiteral("error") : QStringLiteral("errors")));
        return kBadInput;
    }
    // The runner runs the program as loaded and never rewrites the program file.
    station.programEdits.markSaved();
    if (parser.isSet(QStringLiteral("sn")))
        station.form.SNText.setText(parser.value(QStringLiteral("sn")));
    // A run whose records will not be on disk says so first.
    if (const QString notice = noLogNotice(station); !notice.isEmpty())
        say(stdout, notice);
    if (dryRun)
        say(stdout,
            QStringLiteral("dry run on a clock that skips every wait: %1, station folder %2")
                .arg(simulate.description(), QDir::toNativeSeparators(station.stationDir())));
    else if (simulate.enabled)
        say(stdout, simulate.description());
    say(stdout, QStringLiteral("estimated run time %1").arg(estimateText(check.estimate)));

    RunControl run(station);
    RunReportJob report(station, run);
    QObject::connect(&report, &RunReportJob::finished, &app, [](bool ok, const QString& path) {
        if (ok)
            say(stdout, QStringLiteral("report: %1").arg(QDir::toNativeSeparators(path)));
    });
    // One line per step; loop markers that repeat without a wait of their own would flood the
    // output, so a marker gets a line only a second after the line before.
    double lastLineMs = -kMarkerLineIntervalMs;
    QObject::connect(&run, &RunControl::stepStarted, &app, [&](int stepIndex) {
        const double now = clock.monotonicMs();
        if (actions::isLoopMarker(
                station.StepTable[static_cast<std::size_t>(stepIndex)].ActionMode) &&
            now - lastLineMs < kMarkerLineIntervalMs)
            return;
        lastLineMs = now;
        say(stdout, station.form.RunStatus.text());
    });
    QObject::connect(&run, &RunControl::reconnectAttempted, &app,
                     [](const QString& text) { say(stdout, text); });

    int stoppedBySignal = 0;
    QObject::connect(new StopSignals(&app), &StopSignals::received, &app, [&](int signo) {
        if (stoppedBySignal != 0)
            return;
        stoppedBySignal = signo;
        say(stderr, QStringLiteral("stopping the test: the load is switched off"));
        run.StopCommand();
    });

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
        case RunEnd::LoadLost:
            code = kLoadLost;
            outcome = QStringLiteral("the load was lost");
            break;
        }
        QTimer::singleShot(0, &app, [&app, &code] { app.exit(code); });
    });
    QElapsedTimer realTime;
    realTime.start();
    QTimer::singleShot(0, &run, [&] {
        if (interrupted)
            say(stdout, QStringLiteral("resuming: %1").arg(interrupted->description()));
        say(stdout, QStringLiteral("connecting to the load at %1")
                        .arg(station.links().linkAddress(station.loadInstrument())));
        if (interrupted)
            run.resumeInterrupted(*interrupted);
        else
            run.StartCommand();
    });
    app.exec();
    // The load is off and the log closed: the report may take its time.
    if (report.isRunning())
        say(stdout, QStringLiteral("writing the report"));
    report.waitForFinished(-1);

    const RunState& state = station.run;
    // Only records on disk are counted: a write that failed is not one.
    const int records = std::max(state.RecordNo - 1, 0);
    if (state.UnmeasuredValues > 0)
        outcome += QStringLiteral(" (%1 values not measured, recorded as empty fields)")
                       .arg(state.UnmeasuredValues);
    // The times the load was out of reach: no records were taken then.
    QString gaps;
    if (state.LinkLosses > 0)
        gaps = QStringLiteral(", load out of reach %1 time(s) for %2 s")
                   .arg(state.LinkLosses)
                   .arg(QString::number(state.LinkLostSeconds, 'f', 1));
    if (code == kBadInput) {
        say(stdout, outcome); // nothing ran: there are no records to count
    } else if (station.settings.SaveLogFileFlag == 1) {
        say(stdout, QStringLiteral("%1: %2 records in %3, run time %4%5")
                        .arg(outcome)
                        .arg(records)
                        .arg(QDir::toNativeSeparators(state.LogFileName),
                             FormatElapsed(state.TestStartText, dateTimeText(clock.now())), gaps));
    } else {
        // Without the log switch the records live in the window's list; here they are printed.
        const GridModel& list = station.form.RecordList;
        for (int row = 0; row < list.rows(); ++row)
            std::printf("%s\n",
                        list.rowTexts(row).join(QLatin1Char(',')).toLocal8Bit().constData());
        say(stdout, QStringLiteral("%1: %2 records (the settings' log switch is off: no CSV log)%3")
                        .arg(outcome)
                        .arg(records)
                        .arg(gaps));
    }
    if (dryRun && code != kBadInput) {
        const QString end = dateTimeText(clock.now());
        const double simulated =
            parseDateTimeText(state.TestStartText).secsTo(parseDateTimeText(end));
        const double real = realTime.nsecsElapsed() / 1e9;
        say(stdout, QStringLiteral("dry run: %1 of run time in %2 s of real time (%3 times "
                                   "faster)")
                        .arg(FormatElapsed(state.TestStartText, end))
                        .arg(real, 0, 'f', 1)
                        .arg(real > 0 ? simulated / real : 0.0, 0, 'f', 0));
    }
    return code;
}
