// acl3-report: the report of a run, as PDF or HTML, from its CSV log and, beside it, its run
// journal. The station runs it when a run ends, so that writing the report never holds up the
// run's end.
#include "report/ReportDocument.h"
#include "report/RunReport.h"

#include "Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

constexpr int kWritten = 0;
constexpr int kNotWritten = 1;
constexpr int kBadInput = 2;

QtMessageHandler qtHandler = nullptr;

// The offscreen platform notes that it cannot size windows; the report shows none.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (!text.contains(QLatin1String("propagateSizeHints")))
        qtHandler(type, context, text);
}

int say(const QString& text, int code)
{
    std::fprintf(stderr, "acl3-report: %s\n", text.toLocal8Bit().constData());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    // The report draws the window's plot but never shows it: no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qtHandler = qInstallMessageHandler(quietHandler);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("acl3-report"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ACL3_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the report of an ACL3 run from its CSV log: the run's facts, a row per executed "
        "step with the minimum, mean and maximum of each phase's voltage, current and power, Ah "
        "and kWh, and plots of the run. The run journal beside the log (LOG.journal) tells how "
        "each step and the run ended; without it, step ends are inferred from the log's step "
        "column.\n"
        "Exit status: 0 the report was written, 1 it could not be written, 2 bad usage or a file "
        "that is not a run log."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("LOG.CSV"), QStringLiteral("A run's CSV log."));
    parser.addOptions({
        {{QStringLiteral("o"), QStringLiteral("output")},
         QStringLiteral("Write the report here; .pdf or .html (default: the log's name with "
                        ".pdf)."),
         QStringLiteral("FILE")},
        {QStringLiteral("program"),
         QStringLiteral("The program file the run ran, where no journal names it."),
         QStringLiteral("FILE")},
        {QStringLiteral("link"), QStringLiteral("The load's link, where no journal names it."),
         QStringLiteral("TEXT")},
        {QStringLiteral("ended"),
         QStringLiteral("How the run ended (finished, stopped, error, load lost), where no "
                        "journal says it."),
         QStringLiteral("HOW")},
    });
    if (!parser.parse(QCoreApplication::arguments()))
        return say(parser.errorText(), kBadInput);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.positionalArguments().size() != 1)
        return say(QStringLiteral("give one run log (LOG.CSV); --help says more"), kBadInput);

    ReportRequest request;
    request.logPath = parser.positionalArguments().first();
    if (parser.isSet(QStringLiteral("program")))
        request.program = QFileInfo(parser.value(QStringLiteral("program"))).absoluteFilePath();
    request.link = parser.value(QStringLiteral("link"));
    request.ended = parser.value(QStringLiteral("ended"));
    const QFileInfo log(request.logPath);
    const QString out =
        parser.isSet(QStringLiteral("output"))
            ? parser.value(QStringLiteral("output"))
            : log.path() + QLatin1Char('/') + log.completeBaseName() + QStringLiteral(".pdf");
    const QString suffix = QFileInfo(out).suffix().toLower();
    if (suffix != QLatin1String("pdf") && suffix != QLatin1String("html") &&
        suffix != QLatin1String("htm"))
        return say(QStringLiteral("the report %1 must end in .pdf or .html")
                       .arg(QDir::toNativeSeparators(out)),
                   kBadInput);

    RunReport report;
    QString error;
    if (!buildRunReport(request, report, &error))
        return say(error, kBadInput);
    if (const QString warning = report.read.warning(request.logPath); !warning.isEmpty())
        say(warning, kWritten);
    if (!writeReport(report, out, &error))
        return say(error, kNotWritten);
    std::printf("%s\n", QDir::toNativeSeparators(out).toLocal8Bit().constData());
    return kWritten;
}
