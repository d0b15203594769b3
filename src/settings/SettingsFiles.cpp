#include "settings/SettingsFiles.h"

#include "common/NumberText.h"
#include "settings/IniFile.h"
#include "station/Station.h"
#include "testprogram/TestProgramFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Keys of a program file's link section.
const QString kGpibAddressKey = QStringLiteral("GPIBAddress");
const QString kComPortKey = QStringLiteral("ComPort");
const QString kBaudRateKey = QStringLiteral("BaudRate");
const QString kIdKey = QStringLiteral("ID");
const QString kMsCountKey = QStringLiteral("MSCount");
const QString kRs485Key = QStringLiteral("RS232toRS485");
const QString kIpKey = QStringLiteral("IP");
const QString kPortReadKey = QStringLiteral("PORT");
const QString kPortWriteKey = QStringLiteral("Port");
const QString kLoadCheckKey = QStringLiteral("LoadCheck");

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QStringList readList(const IniFile& ini, const QString& section, int capacity)
{
    const int total = std::min(
        truncToInt(parseNumber(ini.read(section, settingskeys::Total, QStringLiteral("0")))),
        capacity);
    QStringList list;
    for (int i = 1; i <= total; ++i)
        list << ini.read(section, QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), {});
    return list;
}

// The load channel's row of the status grid: channel number, address and "Wait" in blue.
void showConfiguredChannel(GridModel& grid, int channel, const QString& address)
{
    const int row = channel + 1;
    grid.setText(row, 0, QString::number(channel + 1));
    grid.setText(row, 1, address);
    grid.setText(row, 2, QStringLiteral("Wait"));
    grid.setCurrentCell(row, 2);
    grid.setForeColor(row, 2, gridcolors::Blue);
}

int optionButtonOf(int connectMode)
{
    switch (connectMode) {
    case kConnectTcp:
        return 0;
    case kConnectSerial:
        return 1;
    case kConnectGpib:
        return 2;
    default:
        return -1;
    }
}

// The address column of the status grid: the TCP/IP address (with ":port" when the settings
// are shown, without after they are stored), the serial port or the GPIB address.
QString statusAddress(const LinkRecord& r, const QString& port = {})
{
    if (r.ConnectMode == kConnectTcp)
        return port.isEmpty() ? r.IP : r.IP + QLatin1Char(':') + port;
    if (r.ConnectMode == kConnectSerial)
        return QString::number(r.ComPort);
    return QString::number(r.GPIBAddress);
}

} // namespace

int linkNumber(const QString& text)
{
    return roundToInt(parseNumber(text));
}

QString settingskeys::testFileNameKey(int channelNo)
{
    return QStringLiteral("TestFileName") + twoDigits(channelNo);
}

QString settingskeys::loadOptionSection(int instrument)
{
    return QStringLiteral("Load%1 Option").arg(instrument);
}

QString settingskeys::defaultTestFileName(const QString& stationDir, int channelNo)
{
    return QDir(stationDir)
        .filePath(QStringLiteral("TestFile") + twoDigits(channelNo) + QStringLiteral(".INI"));
}

void LoadSystemSettings(Station& station)
{
    SystemSettings& s = station.settings;
    s.SettingsFilePath = station.settingsFilePath();
    s.ChannelNo = 1;
    IniFile ini(s.SettingsFilePath);
    QString error;
    const bool readable = ini.load(&error);
    if (!readable)
        station.prompts.message(error);
    s.TestFileName =
        !station.programOverride.isEmpty()
            ? station.programOverride
            : ini.read(settingskeys::MainSection, settingskeys::testFileNameKey(s.ChannelNo),
                       settingskeys::defaultTestFileName(station.stationDir(), s.ChannelNo));
    const QString logSwitch =
        ini.read(settingskeys::MainSection, settingskeys::SaveLogFileFlag, QStringLiteral("0"));
    s.SaveLogFileFlag = roundToInt(parseNumber(logSwitch));
    // A run without its CSV log says why when it starts.
    const QString settingsFile = QFileInfo(s.SettingsFilePath).fileName();
    if (s.SaveLogFileFlag == 1)
        s.NoLogReason.clear();
    else if (!QFileInfo::exists(s.SettingsFilePath))
        s.NoLogReason = QStringLiteral("%1 does not exist").arg(settingsFile);
    else if (!readable)
        s.NoLogReason =
            QStringLiteral("%1 cannot be read (%2)").arg(settingsFile, ini.loadFailure());
    else if (!ini.contains(settingskeys::MainSection, settingskeys::SaveLogFileFlag))
        s.NoLogReason =
            QStringLiteral("%1 has no %2 in [%3]")
                .arg(settingsFile, settingskeys::SaveLogFileFlag, settingskeys::MainSection);
    else
        s.NoLogReason = QStringLiteral("%1 is \"%2\" in %3, not 1")
                            .arg(settingskeys::SaveLogFileFlag, logSwitch, settingsFile);
    const QString reconnect = ini.read(settingskeys::MainSection, settingskeys::ReconnectSeconds,
                                       QString::number(settingskeys::kDefaultReconnectSeconds));
    s.ReconnectSeconds = settingskeys::kDefaultReconnectSeconds;
    if (isWholeNumberText(reconnect) && parseNumber(reconnect) >= 0)
        s.ReconnectSeconds = roundToInt(parseNumber(reconnect));
    else
        station.prompts.message(
            QStringLiteral("%1: [%2] %3=%4 is not a whole number of seconds from 0 up; %5 s are "
                           "used.")
                .arg(QDir::toNativeSeparators(s.SettingsFilePath), settingskeys::MainSection,
                     settingskeys::ReconnectSeconds, reconnect)
                .arg(settingskeys::kDefaultReconnectSeconds));
    const int connectMode =
        linkNumber(ini.read(settingskeys::MainSection, settingskeys::ConnectMode, "2"));
    station.loadLink().ConnectMode = connectMode;
    s.TcpipMode = connectMode == kConnectTcp;

    s.ActionModeList =
        readList(ini, settingskeys::ActionSection, SystemSettings::kActionListCapacity);
    station.form.TestStepActionCombo.setList(s.ActionModeList);
    station.form.SetStepActionCombo.setList(s.ActionModeList);
    s.LoadModeList =
        readList(ini, settingskeys::LoadModeSection, SystemSettings::kLoadModeListCapacity);
    station.form.TestStepModeCombo.setList(s.LoadModeList);

    LoadLinkSettings(station);
    LoadTestProgram(station);
}

void LoadLinkSettings(Station& station)
{
    IniFile settingsFile(station.settingsFilePath());
    settingsFile.load();
    IniFile programFile(station.settings.TestFileName);
    QString error;
    if (!programFile.load(&error))
        station.prompts.message(error);

    StationForm& form = station.form;
    GridModel& grid = form.LoadStatusGrid;
    station.ConnectedLoadCount = 0;
    for (int channel = 0; channel < kServedLoadChannels; ++channel) {
        const int n = channel + 1;
        station.LoadChannels[static_cast<std::size_t>(channel)] = n;
        LinkRecord& r = station.LinkRecords[static_cast<std::size_t>(n)];
        const QString section = settingskeys::loadOptionSection(n);
        r.ConnectMode = linkNumber(
            settingsFile.read(settingskeys::MainSection, settingskeys::ConnectMode, "2"));
        r.GPIBAddress = linkNumber(programFile.read(section, kGpibAddressKey, "5"));
        r.ComPort = linkNumber(programFile.read(section, kComPortKey, "01"));
        r.BaudRate = linkNumber(programFile.read(section, kBaudRateKey, "115200"));
        r.ID = linkNumber(programFile.read(section, kIdKey, "0"));
        r.MSCount = linkNumber(programFile.read(section, kMsCountKey, "1"));
        r.RS232toRS485 = linkNumber(programFile.read(section, kRs485Key, "0"));
        r.IP = programFile.read(section, kIpKey, kDefaultLoadIp);
        // The port stays the text the file holds, so that a port that is no port is refused,
        // quoted, when the load is connected.
        QString port = programFile.read(section, kPortReadKey, QString::number(kDefaultLoadPort));
        if (station.sessionLink) {
            r.ConnectMode = kConnectTcp;
            r.IP = station.sessionLink->ip;
            port = QString::number(station.sessionLink->port);
        }
        r.PORT = portOf(port);

        // The connection takes its address from these boxes: they show what the file holds.
        form.txtIP.setText(r.IP);
        form.txtPort.setText(port);
        form.GpibAddressText.setText(twoDigits(r.GPIBAddress));
        form.LoadComPortText.setText(twoDigits(r.ComPort));
        form.LoadBaudRateText.setText(QString::number(r.BaudRate));
        // Buttons 0, 1, 2 stand for TCP/IP, serial and GPIB; another value touches none.
        const int button = optionButtonOf(r.ConnectMode);
        if (button >= 0) {
            for (int i = 0; i < static_cast<int>(form.Option1.size()); ++i)
                form.Option1[static_cast<std::size_t>(i)]->setFlag(i == button);
        }

        ++station.ConnectedLoadCount;
        grid.setRows(station.ConnectedLoadCount + 2);
        grid.setCols(3);
        if (optionButtonOf(r.ConnectMode) < 0)
            continue; // an unknown link kind shows nothing
        grid.setText(0, 1, linkTypeName(r.ConnectMode));
        showConfiguredChannel(grid, channel, statusAddress(r, port));
    }
    form.LoadCountLabel.setText(QString::number(station.ConnectedLoadCount));
}

void writeLinkSettings(Station& station, IniFile& settingsFile, IniFile& programFile)
{
    StationForm& form = station.form;
    GridModel& grid = form.LoadStatusGrid;
    for (int channel = 0; channel < kServedLoadChannels; ++channel) {
        const int n = station.LoadChannels[static_cast<std::size_t>(channel)];
        LinkRecord& r = station.LinkRecords[static_cast<std::size_t>(n)];

        // The first selected link button decides; with none selected the link kind stays.
        int chosen = -1;
        if (form.Option1[0]->flag())
            chosen = kConnectTcp;
        else if (form.Option1[1]->flag())
            chosen = kConnectSerial;
        else if (form.Option1[2]->flag())
            chosen = kConnectGpib;
        // A session's own link is not stored: the files keep the load they name.
        const bool store = !station.sessionLink;
        if (chosen >= 0 && store) {
            r.ConnectMode = chosen;
            settingsFile.write(settingskeys::MainSection, settingskeys::ConnectMode,
                               QString::number(chosen));
            grid.setText(0, 1, linkTypeName(chosen));
        }

        r.ComPort = linkNumber(form.LoadComPortText.text());
        r.BaudRate = linkNumber(form.LoadBaudRateText.text());
        r.RS232toRS485 = form.PS485Check.flag() ? 1 : 0;
        r.ID = linkNumber(form.PS485IDText.text());
        r.MSCount = linkNumber(form.MSCountText.text());
        r.IP = form.txtIP.text();
        r.PORT = portOf(form.txtPort.text());
        r.GPIBAddress = linkNumber(form.GpibAddressText.text());

        const QString section = settingskeys::loadOptionSection(n);
        programFile.write(section, kComPortKey, form.LoadComPortText.text());
        programFile.write(section, kBaudRateKey, form.LoadBaudRateText.text());
        programFile.write(section, kRs485Key, form.PS485Check.flag() ? "1" : "0");
        programFile.write(section, kLoadCheckKey,
                          form.LoadCheck[static_cast<std::size_t>(channel)]->flag() ? "1" : "0");
        if (store) {
            programFile.write(section, kIpKey, form.txtIP.text());
            programFile.write(section, kPortWriteKey, form.txtPort.text());
        }
        programFile.write(section, kGpibAddressKey, form.GpibAddressText.text());

        showConfiguredChannel(grid, channel, statusAddress(r));
    }
}

bool SaveLinkSettings(Station& station)
{
    IniFile settingsFile(station.settingsFilePath());
    IniFile programFile(station.settings.TestFileName);
    QString error;
    if (!settingsFile.load(&error) || !programFile.load(&error)) {
        station.prompts.message(error);
        return false;
    }
    writeLinkSettings(station, settingsFile, programFile);
    if (!settingsFile.save(&error) || !programFile.save(&error)) {
        station.prompts.message(error);
        return false;
    }
    return true;
}
