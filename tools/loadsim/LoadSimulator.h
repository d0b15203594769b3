#pragma once

#include "LoadInstrument.h"
#include "SimFaults.h"
#include "SourceModel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWaitCondition>

#include <functional>

class Clock;
class QTcpServer;
class PtyPeer;
class SimPeer;

// One line the load received.
struct SimLogEntry
{
    double ms = 0;     // since the simulator started, monotonic
    QString transport; // "tcp", "serial", "gpib", or "direct" (handleLine() without a peer)
    QString line;      // as received, without CR and LF
    bool understood = false;
};

// The simulated ACL3 load: a LoadInstrument served on real transports (loopback TCP, a
// pseudo-terminal, and the TCP bridge behind libacl3gpibsim.so), with fault knobs and a log of
// every line it receives.
//
// Thread use: the simulator lives in the thread that created it (or the one it was moved to)
// and is served by that thread's event loop; a station on the same thread serves it from its
// waits. Every public function but handleLine() may be called from any thread: the transports
// are opened in the simulator's thread (the call blocks until done, so that thread must be
// running its event loop), the rest is guarded by a mutex. LoadSimulatorThread runs one on a
// thread of its own.
class LoadSimulator : public QObject
{
    Q_OBJECT

public:
    explicit LoadSimulator(SourceKind source = SourceKind::Ac, QObject* parent = nullptr);
    ~LoadSimulator() override;

    // Transports. Each returns 0 / an empty text on failure, with the reason in *error.
    // A TCP server for the station's TCP/IP link; port 0 lets the system pick a free port.
    // Returns the port.
    quint16 listenTcp(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost,
                      QString* error = nullptr);
    // A pseudo-terminal for the station's serial link. Returns its device path.
    QString openPty(QString* error = nullptr);
    // The bridge that libacl3gpibsim.so connects to. Returns the port.
    quint16 listenGpibBridge(quint16 port = 0,
                             const QHostAddress& address = QHostAddress::LocalHost,
                             QString* error = nullptr);
    // Closes every server, connection and the pseudo-terminal.
    void closeTransports();

    quint16 tcpPort() const;
    QString ptyPath() const;
    quint16 gpibBridgePort() const;

    // The log of received lines (kept in memory unless setLogKept(false)).
    QStringList lines() const;
    QList<SimLogEntry> log() const;
    void clearLog();
    // Also writes each line to this file from now on ("<ms>\t<transport>\t<line>", flushed);
    // false with the reason in *error when it cannot be created.
    bool setLogFile(const QString& path, QString* error = nullptr);
    // Waits until the log holds at least `count` lines or timeoutMs has passed; true if it does.
    // On the simulator's own thread it processes events while it waits.
    bool waitForLines(int count, int timeoutMs) const;
    // Whether received lines are kept for lines(), log() and waitForLines() (they are by
    // default). A station's own simulated load runs for days and keeps none.
    void setLogKept(bool kept);

    // The state of the load, and what it reads now.
    LoadState state() const;
    PhaseReadings readings();
    // Charge drawn from the battery so far, Ah.
    double drawnAh();
    // Simulated seconds since the simulator started (real time x speed).
    double simSeconds() const;
    // Power-on settings, a fresh cell; the log and the knobs stay.
    void reset();

    // Knobs.
    void setFaults(const SimFaults& faults);
    SimFaults faults() const;
    void clearFaults() { setFaults(SimFaults{}); }
    // Simulated time runs `speed` (> 0) times real time: the battery's discharge and the
    // duration of a pulse sequence. Reply delays and pauses stay in real time.
    void setSpeed(double speed);
    double speed() const;
    // Simulated time follows this clock from now on instead of real time x speed (a dry run on
    // the station's accelerated clock): the cell discharges and a pulse sequence lasts by the
    // station's time, and the pulse sequence is a wait of that clock. Null goes back to real
    // time. The clock must outlive the simulator or be unset first.
    void followClock(const Clock* clock);
    SourceKind source() const;
    void setSource(SourceKind source);
    // These return false, leaving the source as it was, for values checkBatterySource() or
    // checkAcSource() refuse; the reason goes to *error.
    bool setBattery(const BatterySource& battery, QString* error = nullptr);
    BatterySource battery() const;
    bool setAc(const AcSource& ac, QString* error = nullptr);
    AcSource ac() const;
    // Seeds the voltage noise (the same seed gives the same readings).
    void setSeed(unsigned seed);

    // Takes one command line as if it had come from `peer` (null: "direct", replies go nowhere).
    // Runs in the simulator's thread.
    void handleLine(SimPeer* peer, const QByteArray& line);

signals:
    // Emitted in the simulator's thread after a line was logged.
    void lineLogged(const SimLogEntry& entry);

private:
    template <typename F> auto inOwnThread(F&& f) -> decltype(f());
    double simSecondsLocked() const;
    // Simulated time goes on from here at a new rate or source.
    void rebaseLocked();
    void attach(SimPeer* peer);
    void closeAll();
    QTcpServer* listen(quint16 port, const QHostAddress& address, const QString& transport,
                       QString* error);
    void reply(SimPeer* peer, const QString& command, const QString& text);
    void finishPulse();
    // After a drop: down as the faults say, and back up after their time.
    void goDown(SimPeer* dropped);
    void comeBack();
    // Applies a change to the source unless `problem` says why not.
    bool changeSource(const QString& problem, QString* error,
                      const std::function<void(SourceModel&)>& change);

    mutable QMutex mutex_;
    mutable QWaitCondition logged_;
    LoadInstrument instrument_;
    QElapsedTimer clock_;
    double speed_ = 1;
    const Clock* followed_ = nullptr;
    double followedOriginMs_ = 0; // the followed clock's reading at simBaseS_
    double simBaseS_ = 0;         // simulated seconds at realBaseMs_
    double realBaseMs_ = 0;       // clock_ reading when the speed last changed
    SimFaults faults_;
    int faultedReplies_ = 0;
    int linesSinceFaults_ = 0;
    QList<SimLogEntry> log_;
    bool logKept_ = true;
    QFile logFile_;

    QTcpServer* tcpServer_ = nullptr;
    QTcpServer* gpibServer_ = nullptr;
    PtyPeer* pty_ = nullptr;
    QTimer pulseTimer_; // a child, so that it moves with the simulator to its thread
    QPointer<SimPeer> pulsePeer_;
    QTimer downTimer_;
    bool silent_ = false;
    // Where the closed servers listened, to listen there again when the load comes back.
    QHostAddress tcpAddress_, gpibAddress_;
    quint16 downTcpPort_ = 0, downGpibPort_ = 0;
};

Q_DECLARE_METATYPE(SimLogEntry)

// Splits "[ADDR:]PORT" as the command line takes it (no address: 127.0.0.1). False with the
// reason in *error for anything else.
bool parseListenAddress(const QString& text, QHostAddress* address, quint16* port, QString* error);

// The fake GPIB library (an installed program's own copy, else the one built beside the
// simulator), and the environment the station needs to use it: ACL3_GPIB_LIBRARY (which library
// the station loads) and ACL3_GPIBSIM (where the library finds the simulator's bridge,
// "127.0.0.1:PORT").
QString gpibSimLibraryPath();
void setGpibSimEnvironment(quint16 bridgePort);
