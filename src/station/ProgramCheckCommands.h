#pragma once

#include "testprogram/ProgramCheck.h"

#include <QObject>

class Station;

// The Check button: checks the program the step grid shows and puts the findings into the
// ProgramFindings grid (severity, step, message, and the column, hidden) and the estimate into
// ProgramEstimate.
ProgramCheck CheckCommand(Station& station);

// Start's check in the window, before anything is saved or sent: a program with errors is
// refused with their list; one with warnings starts only when the operator answers
// "Start anyway?" with Yes. Returns whether to start.
bool ConfirmStart(Station& station);

// The line of the status bar: the estimated run time and the records, and how many errors and
// warnings the check found.
QString estimateStatus(const ProgramCheck& check);

// Keeps ProgramEstimate current: the program is checked again after the edits, loads and saves
// of the moment are done (the run's own counting in the grid is no edit).
class ProgramEstimateWatch : public QObject
{
    Q_OBJECT

public:
    explicit ProgramEstimateWatch(Station& station, QObject* parent = nullptr);

private:
    void schedule();
    void update();

    Station& station_;
    bool scheduled_ = false;
};
