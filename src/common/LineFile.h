#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Opens `file` (its name set) for appending whole lines, creating it when missing. A last line
// without its line end is what a crash in the middle of a write leaves: it is cut away first and
// handed back in `cut`. False with the system's reason in `error`.
bool openLinesForAppend(QFile& file, QByteArray* cut, QString* error);

// Writes `bytes` (whole lines) at the end of a file opened for appending. A write cut short
// (a full disk) is cut back to the file's earlier end, so the file never ends in part of a line;
// `error` then says why.
bool appendWholeLines(QFile& file, const QByteArray& bytes, QString* error);
