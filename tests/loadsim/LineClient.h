#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTcpSocket;

// The test's end of a link to the simulated load: TCP, a terminal device or GPIB. Every wait
// processes events, so that a simulator on the test's own thread is served meanwhile.
class LineClient
{
public:
    virtual ~LineClient();

    static std::unique_ptr<LineClient> tcp(quint16 port);
    // Opens a terminal device (the simulator's pseudo-terminal) read-write, raw.
    static std::unique_ptr<LineClient> device(const QString& path);
    // A device at address 1 through the simulator's GPIB library (ACL3_GPIBSIM names the
    // bridge); each query or "DYNC ON" is answered by one read that gives up after 1 s.
    static std::unique_ptr<LineClient> gpib();

    // Writes the bytes as they are / the line with LF.
    virtual void write(const QByteArray& bytes) = 0;
    void send(const QByteArray& line) { write(line + '\n'); }
    // The next line with its LF; none when no whole line arrived within timeoutMs.
    std::optional<QByteArray> readLine(int timeoutMs = 2000);
    // send() then readLine(), without the LF; "<none>" when nothing came.
    QByteArray query(const QByteArray& line, int timeoutMs = 2000);
    // Everything that arrives within ms (and what was already there).
    QByteArray readFor(int ms);
    // Waits until the peer has closed the link; false after timeoutMs.
    virtual bool waitClosed(int timeoutMs) = 0;
    bool hasData();

protected:
    // Moves what has arrived into buffer_; never blocks.
    virtual void fetch() = 0;
    // Gives events and the link up to about a millisecond.
    void pause();
    bool waitFor(int timeoutMs, const std::function<bool()>& done);

    QByteArray buffer_;
};
