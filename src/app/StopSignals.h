#pragma once

#include <QObject>

// The signals that must not end a program with the load on: Ctrl-C (SIGINT), SIGTERM, a closed
// terminal or ssh session (SIGHUP) and Ctrl-Backslash (SIGQUIT) are delivered as `received` on
// the event loop, so that the program can stop its test first. A log that reaches the file size
// limit (SIGXFSZ) and output to a reader that has gone (SIGPIPE) fail their write instead of
// killing the program.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject* parent = nullptr);

signals:
    void received(int signo);
};
