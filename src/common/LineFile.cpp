#include "common/LineFile.h"

#include <algorithm>

namespace {

// The tail of a file is searched for its last line end in pieces of this size.
constexpr qint64 kTailChunk = 64 * 1024;

} // namespace

bool openLinesForAppend(QFile& file, QByteArray* cut, QString* error)
{
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    qint64 end = file.size();
    qint64 keep = 0;
    while (end > 0) {
        const qint64 from = std::max<qint64>(0, end - kTailChunk);
        file.seek(from);
        const QByteArray chunk = file.read(end - from);
        const qsizetype lineEnd = chunk.lastIndexOf('\n');
        if (lineEnd >= 0) {
            keep = from + lineEnd + 1;
            break;
        }
        end = from;
    }
    if (file.size() > keep) {
        file.seek(keep);
        if (cut)
            *cut = file.readAll();
        if (!file.resize(keep)) {
            *error = file.errorString();
            file.close();
            return false;
        }
    }
    file.seek(keep);
    return true;
}

bool appendWholeLines(QFile& file, const QByteArray& bytes, QString* error)
{
    const qint64 start = file.pos();
    qint64 done = 0;
    // A short write (the disk filling up) is tried again, which gives the system's reason.
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done == bytes.size())
        return true;
    *error = file.error() != QFileDevice::NoError ? file.errorString()
                                                  : QStringLiteral("the write was cut short");
    // A torn line would be read as a whole one: the file ends with its last whole line.
    if (!file.resize(start))
        *error += QStringLiteral("; the partial line cannot be removed: ") + file.errorString();
    file.seek(start);
    return false;
}
