#pragma once

#include <QString>
#include <QStringList>

// Program-wide values read from the settings file ACL3.INI at start-up.
struct SystemSettings
{
    static constexpr int kActionListCapacity = 20;
    static constexpr int kLoadModeListCapacity = 6;

    QString SettingsFilePath; // <station folder>/ACL3.INI
    int ChannelNo = 1;        // always 1
    QString TestFileName;     // full path of the current test program
    int SaveLogFileFlag = 0;  // 1: each run writes a CSV log; else records go to the on-screen list
    QString NoLogReason;      // with SaveLogFileFlag not 1: why ("ACL3.INI does not exist")
    bool TcpipMode = false;   // the load's ConnectMode at start-up was TCP/IP
    // How long a run tries to reach a lost load again before it ends; 0: it goes on without it.
    int ReconnectSeconds = 300;
    QStringList ActionModeList;
    QStringList LoadModeList;
};

// Names in the settings file.
namespace settingskeys {
inline const QString MainSection = QStringLiteral("ACL3");
inline const QString ActionSection = QStringLiteral("ACL3 Mode");
inline const QString LoadModeSection = QStringLiteral("Load Mode");
inline const QString SaveLogFileFlag = QStringLiteral("SaveLogFileFlag");
inline const QString ReconnectSeconds = QStringLiteral("ReconnectSeconds");
inline constexpr int kDefaultReconnectSeconds = 300;
inline const QString ConnectMode = QStringLiteral("ConnectMode");
inline const QString Total = QStringLiteral("Total");
// "TestFileName" followed by the channel number as two digits.
QString testFileNameKey(int channelNo);
// "Load1 Option": the link section of a program file for an instrument number.
QString loadOptionSection(int instrument);
// The default program of a channel: <folder>/TestFile01.INI.
QString defaultTestFileName(const QString& stationDir, int channelNo);
} // namespace settingskeys
