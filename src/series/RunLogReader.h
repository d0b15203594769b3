#pragma once

#include <QString>

#include <vector>

class SeriesStore;

// What reading a run log found.
struct RunLogRead
{
    bool ok = false;
    QString error; // why the file is not a run log (when !ok)
    qsizetype records = 0;
    // Lines after the header that are not whole records (a torn last line, a damaged one): they
    // are left out, and the first of them is described.
    qsizetype badLines = 0;
    QString firstBadLine; // "line 17: 14 fields instead of 15"

    // For the operator: which lines were left out, or empty when none.
    QString warning(const QString& path) const;
};

// What a report needs of each record besides the store's values: its number and the time of
// day it was taken, and per step mark (in the store's order) the StepMode it was recorded in.
struct RunLogColumns
{
    std::vector<qint64> recordNo;
    std::vector<int> clockSeconds; // StepTime as seconds since midnight, -1 when unreadable
    std::vector<QString> markModes;
};

// The header line of every run log.
extern const QString kRunLogHeader;

// Reads a run log (the CSV a run writes in TestLog) into `store`, which is cleared first. A file
// whose first line is not the run log header is refused. An empty value field is a value that
// was not measured (NaN). The log holds run times in whole seconds: the records of one second
// are spread evenly over it.
RunLogRead readRunLog(const QString& path, SeriesStore& store, RunLogColumns* columns = nullptr);
