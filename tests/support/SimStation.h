#pragma once

#include "loadsim/LoadSimulator.h"
#include "loadsim/LoadSimulatorThread.h"
#include "support/TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <deque>
#include <memory>

// A station whose load is the simulated load over loopback TCP or a pseudo-terminal (served from
// the station's waits), or over GPIB (the simulator on its own thread: GPIB reads block).
struct SimStation
{
    enum class Link
    {
        Tcp,
        Serial,
        Gpib
    };

    explicit SimStation(Link link = Link::Tcp, SourceKind source = SourceKind::Ac);
    ~SimStation();

    Station& station() { return *fixture.station; }
    LoadSimulator& sim() { return thread ? thread->simulator() : *local; }
    // Every line the station has sent to the load so far, in order: a marker line sent down the
    // link after them (and left out) tells when the last has arrived.
    QStringList received();
    // Forgets what the load has received so far (after it has all arrived).
    void clearReceived();
    // What the load received after the first `count` lines.
    QStringList receivedSince(int count) { return received().mid(count); }

    StationFixture fixture;
    std::unique_ptr<LoadSimulator> local;
    std::unique_ptr<LoadSimulatorThread> thread;
};

// A loopback TCP peer that answers each line from a script, for replies the simulated load
// never gives (three fields, blanks around numbers). Unscripted lines get no answer.
class ScriptedLoad : public QObject
{
    Q_OBJECT

public:
    ScriptedLoad();
    quint16 port() const { return server_.serverPort(); }
    // Answers for the next queries, in order ("" sends a bare LF).
    void script(const QStringList& replies);
    QStringList received;
    // Waits until every line the station sent has arrived (see SimStation::received).
    void sync(Station& station);

private:
    QTcpServer server_;
    QTcpSocket* socket_ = nullptr;
    QByteArray input_;
    std::deque<QString> replies_;
};

// Points the station's load link at a TCP port on loopback.
void useTcpLoad(Station& station, quint16 port);

// The reset the load gets after a successful connection check.
QStringList resetSequence(bool tcp);
