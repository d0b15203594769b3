#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file's content in one step: the new content is written and synced beside the file,
// then renamed over it. A crash or a full disk in the middle leaves the old file as it was.
// Returns false with a message naming the path when anything fails; the temporary is removed.
bool writeFileAtomically(const QString& path, const QByteArray& content, QString* error);

// Test seam: makes the next writes fail at the chosen stage, as a full disk or a refused rename
// would. Never used by the programs.
enum class AtomicWriteFault
{
    None,
    Write,
    Rename
};
void setAtomicWriteFaultForTesting(AtomicWriteFault fault);
