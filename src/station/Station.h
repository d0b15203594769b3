#pragma once

#include "common/Clock.h"
#include "settings/LinkRecord.h"
#include "settings/SystemSettings.h"
#include "station/OperatorPrompts.h"
#include "station/ProgramEdits.h"
#include "station/RunState.h"
#include "station/StationForm.h"
#include "testprogram/TestStep.h"

#include <QObject>

#include <array>
#include <memory>
#include <optional>

class LinkLayer;

// The station: the main window's state and the program-wide tables that the station's
// operations work on, the clock they take time from and the prompts they ask the operator
// through. It lives as long as the program; nothing in it is handed over or freed between
// operations.
class Station : public QObject
{
    Q_OBJECT

public:
    Station(const QString& stationDir, Clock& clock, OperatorPrompts& prompts,
            QObject* parent = nullptr);
    ~Station() override;

    // The station folder and the files in it.
    const QString& stationDir() const { return stationDir_; }
    QString testLogDir() const;
    QString settingsFilePath() const;

    Clock& clock;
    OperatorPrompts& prompts;

    StationForm form;
    // Whether the step grid differs from the program file.
    ProgramEdits programEdits{form.TestStepGrid};
    StepRecords StepTable;
    int TotalStepCount = 0;
    MeasureOptionSet MeasureOptions;
    SystemSettings settings;

    LinkRecordTable LinkRecords;
    std::array<int, kLoadChannelCount> LoadChannels{};
    std::array<bool, 2> LoadConnected{};
    int ConnectedLoadCount = 0;

    RunState run;

    // A program to run instead of the settings' current program, without changing the settings
    // file (the headless runner's --program).
    QString programOverride;

    // The load's TCP/IP address for this session only (a load simulated on loopback): it takes
    // the place of the link the files name whenever the link settings are read, and it is never
    // written to them.
    struct SessionLink
    {
        QString ip;
        int port = 0;
    };
    std::optional<SessionLink> sessionLink;

    // The links to the instruments.
    LinkLayer& links() { return *links_; }

    // The instrument number of the load (channel 0).
    int loadInstrument() const { return LoadChannels[0]; }
    LinkRecord& loadLink() { return LinkRecords[static_cast<std::size_t>(loadInstrument())]; }

private:
    QString stationDir_;
    std::unique_ptr<LinkLayer> links_;
};
