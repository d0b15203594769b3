#include "execution/StartupTimer.h"

#include "settings/SettingsFiles.h"
#include "station/InitGrids.h"
#include "station/Station.h"

#include <QDir>

#include <algorithm>
#include <cmath>

StartupTimer::StartupTimer(Station& station, QObject* parent) : QObject(parent), station_(station)
{
    setObjectName(QStringLiteral("StartupTimer"));
    Timer1.setObjectName(QStringLiteral("Timer1"));
    connect(&Timer1, &QTimer::timeout, this, &StartupTimer::tick);
}

void StartupTimer::start()
{
    arm(startupDone_ ? kClockTickMs : kFirstTickMs);
}

void StartupTimer::arm(int clockMs)
{
    Timer1.stop();
    const double realMs = station_.clock.realMsFor(clockMs);
    if (!std::isfinite(realMs))
        return;
    Timer1.setInterval(std::max(1, static_cast<int>(std::lround(realMs))));
    Timer1.start();
}

void StartupTimer::tick()
{
    const bool first = !startupDone_;
    if (first)
        runStartup();
    station_.form.TimeText.setText(dateTimeText(station_.clock.now()));
    if (first)
        emit startupFinished();
}

void StartupTimer::runStartup()
{
    // The flag first and the timer off: a message box shown by the loading below runs an event
    // loop, in which this timer must not start the work again.
    startupDone_ = true;
    Timer1.stop();

    InitGrids(station_);
    LoadSystemSettings(station_);
    emit loadLevelLayoutDue();

    // The default serial number is the date and the channel: the first run logs to that name.
    StationForm& form = station_.form;
    if (form.SNText.text().isEmpty()) {
        form.SNText.setText(station_.clock.now().toString(QStringLiteral("yyyyMMdd")) +
                            QString::number(station_.settings.ChannelNo));
    }
    station_.run.LogFileName =
        QDir(station_.testLogDir()).filePath(form.SNText.text() + QStringLiteral(".CSV"));
    station_.run.PauseRequested = 0;
    form.WorkLabel.setText(WorkText[4]);

    arm(kClockTickMs);
}
