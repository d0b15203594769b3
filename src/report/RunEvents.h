#pragma once

#include <QDateTime>
#include <QString>

#include <limits>
#include <vector>

// What a report knows of a run besides its records: the run's own account (the run journal
// beside the log) when there is one, else what the station said when it asked for the report.
// The steps and events here come from the journal only; without one the report infers the
// steps from the log's step column.
struct RunEvents
{
    // One executed step (or one pass of a loop over it) as the journal tells it.
    struct Step
    {
        int step = 0;
        QString loop1;
        QString loop2;
        QString action;
        QString mode;
        QString value;
        QDateTime start;
        QDateTime end;
        qint64 firstRecord = 0;
        qint64 lastRecord = -1; // below firstRecord: the step recorded nothing
        QString how;            // "dwell time", "stop value", "pulse OK", "Stop" ...
        QString reply;          // a pulse load's reply
    };
    // A pause, a resume, the load lost or regained: when, and a text for the report.
    struct Mark
    {
        QDateTime time;
        QString text;
    };

    bool fromJournal = false;
    QString journalPath;
    QString journalProblem; // a journal that is there but cannot be read (the report says so)

    QString serialNumber;
    QString program;
    QString programSha256;
    QString link;
    QDateTime start;
    QDateTime end;
    QString ended; // how the run ended: "finished", "stopped", "error", "load lost"
    QString endMessage;
    double estimateSeconds = std::numeric_limits<double>::quiet_NaN();
    std::vector<Step> steps;
    std::vector<Mark> marks;
};

// Reads the run journal beside the log when there is one. Without one, fromJournal stays false
// and the rest stays empty; a journal that cannot be read is named in journalProblem.
RunEvents readRunEvents(const QString& logPath);
