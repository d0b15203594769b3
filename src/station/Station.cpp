#include "station/Station.h"

#include "links/LinkLayer.h"
#include "station/InitGrids.h"

#include <QDir>

Station::Station(const QString& stationDir, Clock& clockRef, OperatorPrompts& promptsRef,
                 QObject* parent)
    : QObject(parent), clock(clockRef), prompts(promptsRef),
      stationDir_(QDir(stationDir).absolutePath())
{
    for (int i = 0; i < kLoadChannelCount; ++i)
        LoadChannels[static_cast<std::size_t>(i)] = i + 1;
    settings.SettingsFilePath = settingsFilePath();
    settings.TestFileName = settingskeys::defaultTestFileName(stationDir_, settings.ChannelNo);
    // The grids have their shape from the start, as a window's grids have before it loads.
    InitGrids(*this);
    links_ = std::make_unique<LinkLayer>(*this);
}

Station::~Station() = default;

QString Station::testLogDir() const
{
    return QDir(stationDir_).filePath(QStringLiteral("TestLog"));
}

QString Station::settingsFilePath() const
{
    return QDir(stationDir_).filePath(QStringLiteral("ACL3.INI"));
}
