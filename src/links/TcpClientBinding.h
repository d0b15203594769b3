#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The station's TCP client socket: the operations the link layer needs and nothing more, so that
// the link layer runs against any substitute. Data arrives while events are processed and is
// kept until taken.
class TcpClientBinding
{
public:
    virtual ~TcpClientBinding() = default;

    virtual bool isConnected() const = 0;
    // Starts a connection attempt and returns at once; it goes on while events are processed.
    virtual void connectToHost(const QString& host, quint16 port) = 0;
    // Whether an attempt is still on its way (neither connected nor failed).
    virtual bool isConnecting() const = 0;
    // Why the last attempt failed or the connection ended, in the operator's words
    // ("connection refused").
    virtual QString failureReason() const = 0;
    // Drops the connection or attempt at once, and whatever arrived.
    virtual void abort() = 0;
    // Closes the connection after what was sent has gone out.
    virtual void close() = 0;

    virtual void send(const QByteArray& bytes) = 0;
    // Everything that arrived since the last take.
    virtual QByteArray takeArrived() = 0;
    // Drops what arrived, and what waits at the socket unannounced.
    virtual void discardArrived() = 0;
};

// A client on the system's TCP/IP stack (QTcpSocket).
std::unique_ptr<TcpClientBinding> makeSystemTcpClient();
