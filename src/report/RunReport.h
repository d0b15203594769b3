#pragma once

#include "report/RunEvents.h"
#include "series/RunLogReader.h"
#include "series/SeriesStore.h"

#include <QString>

#include <array>
#include <memory>
#include <vector>

// The figures of one phase over one step row.
struct PhaseFigures
{
    // Per quantity (voltage, current, power): lowest, mean and highest measured value; NaN
    // when the row holds no measured value of it.
    std::array<double, SeriesStore::kQuantityCount> min{};
    std::array<double, SeriesStore::kQuantityCount> mean{};
    std::array<double, SeriesStore::kQuantityCount> max{};
    double ah = 0;
    double kwh = 0;
};

// One row of the step table: an executed step, or one pass of a loop over it.
struct StepRow
{
    int step = 0;
    QString loop1;
    QString loop2;
    QString action; // empty when neither the journal nor the program file tells it
    QString mode;
    QString value;
    QString start;      // time of day of its first record (or the journal's start)
    double seconds = 0; // its duration
    QString ended;      // how it ended
    QStringList marks;  // pauses, resumes, the load out of reach while it ran
    qsizetype firstInstant = 0;
    qsizetype endInstant = 0; // one past its last record
    std::array<PhaseFigures, SeriesStore::kPhaseCount> phases;
};

// A run's report: what is known of the run, its step rows with their figures, and its records
// for the plots. Built from the CSV log and, when it lies beside it, the run journal: never
// from what a window shows.
struct RunReport
{
    QString logPath;
    QString stationFolder;
    RunLogRead read;
    RunLogColumns columns;
    std::unique_ptr<SeriesStore> store;
    RunEvents events;
    // What the station says when it asks for the report at a run's end, where the journal does
    // not say it.
    QString serialNumber;
    QString program;
    QString programSha256;
    QString programProblem; // the program file cannot be read, or differs from the run's
    QString link;
    QString ended;
    QString startText;
    QString endText;
    double runSeconds = 0;
    QString estimate; // the estimated run time, when the journal or the program check gives it
    std::vector<StepRow> rows;
    bool stepsInferred = true; // step ends inferred from the step column
    bool battery = false;      // a charge or discharge program: V against charge is plotted
};

// What the station knows when it asks for a report at a run's end.
struct ReportRequest
{
    QString logPath;
    QString program; // the program file the run ran
    QString link;    // the load's address
    QString ended;   // how the run ended
};

// Reads the log (and its journal) and works out the rows. False with `error` when the file is
// not a run log.
bool buildRunReport(const ReportRequest& request, RunReport& report, QString* error);
