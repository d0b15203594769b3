#pragma once

#include "GpibLibrary.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The test's end of a link to the simulated load: TCP, a terminal device or GPIB. Waits block
// without serving events: the simulator runs on a thread or in a process of its own.
class LineClient
{
public:
    static std::unique_ptr<LineClient> tcp(quint16 port);
    // Opens a terminal device (the simulator's pseudo-terminal) as a serial port.
    static std::unique_ptr<LineClient> device(const QString& path);
    // A device at address 1 through the simulator's GPIB library (ACL3_GPIBSIM names the
    // bridge); each query or "DYNC ON" is answered by one read that gives up after 1 s.
    static std::unique_ptr<LineClient> gpib();
    ~LineClient();

    // Writes the bytes as they are (over GPIB each line is one message) / the line with LF.
    void write(const QByteArray& bytes);
    void send(const QByteArray& line) { write(line + '\n'); }
    // The next line with its LF; none when no whole line arrived within timeoutMs.
    std::optional<QByteArray> readLine(int timeoutMs = 2000);
    // send() then readLine(), without the LF; "<none>" when nothing came.
    QByteArray query(const QByteArray& line, int timeoutMs = 2000);
    // Everything that arrives within ms (and what was already there).
    QByteArray readFor(int ms);

private:
    LineClient() = default;
    void fetch();
    bool waitFor(int timeoutMs, const std::function<bool()>& done);

    std::unique_ptr<QIODevice> io_;
    std::unique_ptr<GpibLibrary> gpib_;
    int ud_ = -1;
    int pending_ = 0; // GPIB replies still to read
    QByteArray buffer_;
};
