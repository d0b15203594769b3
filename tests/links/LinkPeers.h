#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a serial instrument in the link tests and benchmark: the
// station opens the slave side by its path, the test plays the instrument on the master side.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isValid() const { return master_ >= 0; }
    const QString& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }
    // What the station sent: waits up to `realMs` for `bytes` bytes, then takes what is there.
    QByteArray read(int bytes, int realMs = 2000);
    // What the station sent within `realMs`, all of it.
    QByteArray readFor(int realMs) { return read(1 << 20, realMs); }
    void write(const QByteArray& bytes);
    // The device goes away (a USB adapter pulled out).
    void hangUp();

private:
    int master_ = -1;
    int heldSlave_ = -1;
    QString slavePath_;
};

// CPU time (user + system) used by the calling thread so far, in seconds.
double threadCpuSeconds();
