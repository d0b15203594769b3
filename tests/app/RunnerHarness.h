// acl3-run and acl3-loadsim started as programs of their own on a temporary station folder.
#pragma once

#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

// A program file measuring every `measure` seconds, then `tail` (its load).
inline QByteArray runProgram(const QStringList& steps, const QByteArray& tail = {},
                             const QByteArray& measure = "1")
{
    return programFile(steps, "MeasureTime=" + measure + "\r\n", tail);
}

inline QByteArray loadAt(quint16 port)
{
    return "[Load1 Option]\r\nIP=127.0.0.1\r\nPORT=" + QByteArray::number(port) + "\r\n";
}

// acl3-run on the station folder "station" of its own temporary folder.
struct Runner
{
    QTemporaryDir dir;
    QProcess process;
    int exitCode = -1; // -1: killed
    QString out;
    QString err;

    QString path(const QString& name) const { return dir.filePath(name); }
    QString logPath(const QString& sn) const { return path("station/TestLog/" + sn + ".CSV"); }
    QString log(const QString& sn) const { return QString::fromUtf8(readFile(logPath(sn))); }
    // The log's whole records, without its header and a torn last line.
    QList<QStringList> records(const QString& sn) const
    {
        QList<QStringList> out;
        const QStringList lines = log(sn).split("\r\n");
        for (qsizetype i = 1; i + 1 < lines.size(); ++i)
            out << lines[i].split(',');
        return out;
    }

    void start(const QStringList& args)
    {
        out.clear();
        err.clear();
        process.setProgram(QStringLiteral(ACL3_RUN_PATH));
        process.setArguments(QStringList{"--station", path("station")} + args);
        process.start();
        QVERIFY(process.waitForStarted());
    }
    void finish()
    {
        QVERIFY(process.waitForFinished(120000));
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err += QString::fromLocal8Bit(process.readAllStandardError());
    }
    void run(const QStringList& args)
    {
        start(args);
        finish();
    }
    // Starts a run and sends it `signo` once `until` holds.
    void signalWhen(const QStringList& args, int signo, const std::function<bool()>& until)
    {
        start(args);
        QTRY_VERIFY_WITH_TIMEOUT(until(), 60000);
        ::kill(static_cast<pid_t>(process.processId()), signo);
        finish();
    }
};

// acl3-loadsim on a free loopback port.
struct LoadSimProgram
{
    explicit LoadSimProgram(const QStringList& options)
    {
        process.start(QStringLiteral(ACL3_LOADSIM_PATH), QStringList{"--tcp", "0"} + options);
        process.waitForReadyRead(10000);
        port = QString::fromLocal8Bit(process.readLine()).section(':', -1).trimmed().toUShort();
    }
    ~LoadSimProgram()
    {
        process.terminate();
        process.waitForFinished(5000);
    }
    QProcess process;
    quint16 port = 0;
};
