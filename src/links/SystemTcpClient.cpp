#include "links/TcpClientBinding.h"

#include <QTcpSocket>

#include <array>
#include <utility>

namespace {

class SystemTcpClient final : public TcpClientBinding
{
public:
    SystemTcpClient()
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { readOnce(); });
        // Commands and replies are single short lines: send each at once.
        QObject::connect(&socket_, &QTcpSocket::connected, &socket_,
                         [this] { socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    }

    bool isConnected() const override { return socket_.state() == QAbstractSocket::ConnectedState; }

    void connectToHost(const QString& host, quint16 port) override
    {
        // Unbuffered: a command goes straight to the socket and a reply is read once per
        // arrival, without the event loop's extra round for the socket's own buffers.
        socket_.connectToHost(host, port, QIODevice::ReadWrite | QIODevice::Unbuffered);
    }

    bool isConnecting() const override
    {
        const auto state = socket_.state();
        return state == QAbstractSocket::HostLookupState ||
               state == QAbstractSocket::ConnectingState;
    }

    QString failureReason() const override
    {
        switch (socket_.error()) {
        case QAbstractSocket::ConnectionRefusedError:
            return QStringLiteral("connection refused");
        case QAbstractSocket::RemoteHostClosedError:
            return QStringLiteral("closed by the load");
        case QAbstractSocket::HostNotFoundError:
            return QStringLiteral("host not found");
        case QAbstractSocket::NetworkError:
            return QStringLiteral("network unreachable or connection reset");
        default:
            return socket_.errorString();
        }
    }

    void abort() override
    {
        socket_.abort();
        arrived_.clear();
    }

    void close() override
    {
        socket_.close();
        arrived_.clear();
    }

    void send(const QByteArray& bytes) override
    {
        socket_.write(bytes);
        socket_.flush();
    }

    QByteArray takeArrived() override { return std::exchange(arrived_, {}); }

    void discardArrived() override
    {
        arrived_.clear();
        while (readOnce() > 0) {
        }
        arrived_.clear();
    }

private:
    // One read of what the socket holds; more is signalled again.
    qint64 readOnce()
    {
        std::array<char, kReadChunk> chunk;
        const qint64 n = socket_.read(chunk.data(), kReadChunk);
        if (n > 0)
            arrived_.append(chunk.data(), n);
        return n;
    }

    static constexpr qsizetype kReadChunk = 4096;

    QTcpSocket socket_;
    QByteArray arrived_;
};

} // namespace

std::unique_ptr<TcpClientBinding> makeSystemTcpClient()
{
    return std::make_unique<SystemTcpClient>();
}
