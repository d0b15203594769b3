#include "station/StationFolder.h"

#include "common/AtomicFile.h"
#include "settings/SystemSettings.h"
#include "testprogram/TestStep.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {
const QString kStationOption = QStringLiteral("station");
const QString kStationVariable = QStringLiteral("ACL3_STATION");
} // namespace

QString resolveStationFolder(const QString& option)
{
    if (!option.isEmpty())
        return QDir(option).absolutePath();
    const QString fromEnvironment = qEnvironmentVariable(kStationVariable.toLatin1().constData());
    if (!fromEnvironment.isEmpty())
        return QDir(fromEnvironment).absolutePath();
    return QDir::home().filePath(QStringLiteral("ACL3"));
}

void addStationOption(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        kStationOption,
        QStringLiteral("Station folder (ACL3.INI, test programs, TestLog). Default: "
                       "$ACL3_STATION, else ~/ACL3."),
        QStringLiteral("DIR")));
}

QString stationFolderFrom(const QCommandLineParser& parser)
{
    return resolveStationFolder(parser.value(kStationOption));
}

QByteArray defaultSettingsFile()
{
    QByteArray ini;
    const auto line = [&ini](const QString& text) { ini += text.toUtf8() + "\r\n"; };
    line(QStringLiteral("[ACL3]"));
    line(settingskeys::SaveLogFileFlag + QStringLiteral("=1"));
    line(settingskeys::ConnectMode + QStringLiteral("=2"));
    line(settingskeys::ReconnectSeconds + QLatin1Char('=') +
         QString::number(settingskeys::kDefaultReconnectSeconds));
    line({});
    const auto list = [&](const QString& section, const QStringList& items) {
        line(QLatin1Char('[') + section + QLatin1Char(']'));
        line(settingskeys::Total + QLatin1Char('=') + QString::number(items.size()));
        for (int i = 0; i < items.size(); ++i)
            line(QStringLiteral("%1=%2").arg(i + 1, 3, 10, QLatin1Char('0')).arg(items[i]));
        line({});
    };
    list(settingskeys::ActionSection, actions::all());
    list(settingskeys::LoadModeSection, loadmodes::all());
    return ini;
}

QByteArray exampleTestProgram()
{
    // A short tour of the actions that run against an AC source: the load switched on at 0 A,
    // a ramp up and a hold (carried by Start itself), load levels in three modes while the load
    // is on (a load level the run timer carries does not switch it on), a counted loop of a
    // discharge, which switches it on each pass and off at its end, and a pause. It takes about
    // half a minute.
    struct Row
    {
        const char* fields[TestStep::kFieldCount];
    };
    static const Row rows[] = {
        {{"LoadLevel", "CC", "0", "0", "", "", "", "1", "", "50"}},
        {{"RAMP ON", "CC", "10", "4", "", "", "", "1", "", ""}},
        {{"RAMP OFF", "CC", "10", "2", "", "", "", "1", "", ""}},
        {{"LoadLevel", "CC", "5", "3", "", "", "", "1", "", "50"}},
        {{"LoadLevel", "CR", "50", "3", "", "", "", "1", "", "50"}},
        {{"LoadLevel", "CP", "2000", "3", "", "", "", "1", "", "60"}},
        {{"FOR", "", "", "", "2", "", "", "", "", ""}},
        {{"DisCharge", "CC", "8", "3", "0", "0", "0", "1", "NextStep", ""}},
        {{"LOOP", "", "", "", "", "", "", "", "", ""}},
        {{"Suspend", "", "", "2", "0", "", "", "1", "NextStep", ""}},
    };
    QByteArray ini;
    const auto line = [&ini](const QString& text) { ini += text.toUtf8() + "\r\n"; };
    line(QStringLiteral("[TestStep Option]"));
    for (const char* key : {"MeasureVoltage", "MeasureCurrent", "MeasurePower"})
        line(QString::fromLatin1(key) + QStringLiteral("=1"));
    line(QStringLiteral("MeasureResistant=0"));
    line(QStringLiteral("MeasureKWH=1"));
    line(QStringLiteral("MeasureCapability=1"));
    line(QStringLiteral("MeasureTime=1"));
    line(QStringLiteral("TotalStepCount=%1").arg(std::size(rows)));
    int n = 0;
    for (const Row& row : rows) {
        line(QStringLiteral("[Step%1]").arg(++n));
        for (int f = 0; f < TestStep::kFieldCount; ++f)
            line(kStepFieldKeys[static_cast<std::size_t>(f)] + QLatin1Char('=') +
                 QString::fromLatin1(row.fields[f]));
    }
    line(QStringLiteral("[Load1 Option]"));
    line(QStringLiteral("ComPort=01"));
    line(QStringLiteral("BaudRate=115200"));
    line(QStringLiteral("RS232toRS485=0"));
    line(QStringLiteral("LoadCheck=1"));
    return ini;
}

bool prepareStationFolder(const QString& dir, QString* error)
{
    const QDir station(dir);
    const bool isNew = !station.exists();
    const QString testLog = station.filePath(QStringLiteral("TestLog"));
    if (!QDir().mkpath(testLog)) {
        if (error)
            *error = QStringLiteral("Cannot create the station folder %1")
                         .arg(QDir::toNativeSeparators(testLog));
        return false;
    }
    if (!isNew)
        return true;
    return writeFileAtomically(station.filePath(QStringLiteral("ACL3.INI")), defaultSettingsFile(),
                               error) &&
           writeFileAtomically(station.filePath(QStringLiteral("TestFile01.INI")),
                               exampleTestProgram(), error);
}
