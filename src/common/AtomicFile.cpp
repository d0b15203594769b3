#include "common/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
AtomicWriteFault injectedFault = AtomicWriteFault::None;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}
} // namespace

void setAtomicWriteFaultForTesting(AtomicWriteFault fault)
{
    injectedFault = fault;
}

bool writeFileAtomically(const QString& path, const QByteArray& content, QString* error)
{
    const QFileInfo info(path);
    const QString nativePath = QDir::toNativeSeparators(info.absoluteFilePath());
    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                        QStringLiteral(".XXXXXX"));
    if (!temp.open()) {
        setError(error, QStringLiteral("Cannot write %1: %2").arg(nativePath, temp.errorString()));
        return false;
    }
    // A file that already exists keeps its permissions; a new one gets the usual rw-r--r--.
    if (info.exists())
        temp.setPermissions(QFile(path).permissions());
    else
        temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ReadGroup | QFileDevice::ReadOther);

    const bool writeFault = injectedFault == AtomicWriteFault::Write;
    const qint64 half = content.size() / 2;
    const bool written = writeFault ? (temp.write(content.constData(), half), false)
                                    : temp.write(content) == content.size();
    if (!written || !temp.flush() || ::fsync(temp.handle()) != 0) {
        setError(error, QStringLiteral("Cannot write %1: %2")
                            .arg(nativePath, writeFault ? QStringLiteral("no space left on device")
                                                        : temp.errorString()));
        return false; // QTemporaryFile removes the half-written temporary
    }
    temp.close();

    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(info.absoluteFilePath());
    const bool renameFault = injectedFault == AtomicWriteFault::Rename;
    if (renameFault || std::rename(from.constData(), to.constData()) != 0) {
        const QString reason = renameFault ? QStringLiteral("rename refused")
                                           : QString::fromLocal8Bit(std::strerror(errno));
        setError(error, QStringLiteral("Cannot replace %1: %2").arg(nativePath, reason));
        return false;
    }
    temp.setAutoRemove(false); // it has become the file itself
    return true;
}
