#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>

class QSocketNotifier;
class QTcpSocket;

// One peer of the simulated load on one transport: it frames what arrives into lines (LF, with
// an optional CR before it) and sends what the load answers, in order, each piece at its time.
class SimPeer : public QObject
{
    Q_OBJECT

public:
    SimPeer(const QString& transport, QObject* parent);

    // "tcp", "serial" or "gpib": how the log names this peer.
    QString transport() const { return transport_; }

    // Queues bytes to go out delayMs from now, and never before what was queued earlier.
    void send(const QByteArray& bytes, int delayMs = 0);

    // Drops the peer as a pulled cable would. See SimFaults::dropAfter.
    virtual void hangUp() = 0;
    // Brings a dropped peer back where the transport allows it (the pseudo-terminal).
    virtual void revive() {}

signals:
    void lineReceived(const QByteArray& line);

protected:
    void receive(const QByteArray& data);
    // Forgets what is queued in and out; a dropped peer takes nothing further.
    void stop();
    bool stopped() const { return stopped_; }
    void restart() { stopped_ = false; }
    virtual void writeOut(const QByteArray& bytes) = 0;

private:
    void sendDue();

    struct Pending
    {
        qint64 dueMs;
        QByteArray bytes;
    };

    QString transport_;
    QByteArray input_;
    std::deque<Pending> queue_;
    QTimer timer_;
    QElapsedTimer clock_;
    bool stopped_ = false;
};

// A TCP client of the load's server or of its GPIB bridge; it deletes itself when it closes.
class TcpPeer final : public SimPeer
{
    Q_OBJECT

public:
    TcpPeer(QTcpSocket* socket, const QString& transport, QObject* parent);
    void hangUp() override;

protected:
    void writeOut(const QByteArray& bytes) override;

private:
    QTcpSocket* socket_;
};

// The master side of a pseudo-terminal in raw mode; the station opens the slave device as its
// serial port. The simulator keeps a slave descriptor of its own open, so that the station may
// close and reopen the device without the terminal hanging up.
class PtyPeer final : public SimPeer
{
    Q_OBJECT

public:
    // A new pseudo-terminal, or null with the reason in *error.
    static PtyPeer* open(QObject* parent, QString* error);
    ~PtyPeer() override;

    // The slave device, e.g. "/dev/pts/5".
    QString devicePath() const { return path_; }
    void hangUp() override;
    void revive() override;

protected:
    void writeOut(const QByteArray& bytes) override;

private:
    PtyPeer(int master, int slave, const QString& path, QObject* parent);
    void readMaster();

    int master_;
    int slave_;
    QString path_;
    QSocketNotifier* notifier_;
};
