#pragma once

#include <QObject>

class MainWindow;
class RunControl;

// Connects the window's Start, Stop and Pause buttons to the run control, the run's records to
// the window's plot, and a closing window to the run: a test that runs when the window closes is
// halted with the load switched off.
class RunBinding : public QObject
{
    Q_OBJECT

public:
    RunBinding(MainWindow& window, RunControl& run);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RunControl& run_;
};
