#pragma once

#include <QObject>
#include <QTimer>

class Station;

// The main window's Timer1 without the window: its first tick, 500 ms after start(), builds the
// grids, reads the settings (which load the link settings and the current program), asks for the
// Load Level layout, and prepares the serial number and the log name; every tick, the first one
// included, puts the station clock's date and time into TimeText. Intervals are measured on the
// station's clock, so a fast fake clock makes the timer tick sooner in real time.
class StartupTimer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kFirstTickMs = 500;
    static constexpr int kClockTickMs = 1000;

    explicit StartupTimer(Station& station, QObject* parent = nullptr);

    // Arms Timer1 for its first tick. A stopped fake clock never fires it: call tick() instead.
    void start();
    // True once the first tick has done the start-up work.
    bool startupDone() const { return startupDone_; }
    QTimer& timer() { return Timer1; }

public slots:
    // One tick of Timer1.
    void tick();

signals:
    // Emitted on the first tick, after the settings and the program are loaded and before the
    // serial number is prepared: the step editor fixes its Load Level layout here.
    void loadLevelLayoutDue();
    // Emitted once the start-up work of the first tick is done and the clock runs.
    void startupFinished();

private:
    void runStartup();
    void arm(int clockMs);

    Station& station_;
    QTimer Timer1;
    bool startupDone_ = false;
};
