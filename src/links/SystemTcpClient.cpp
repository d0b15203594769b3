#include "links/TcpClientBinding.h"

#include <QTcpSocket>

#include <utility>

namespace {

class SystemTcpClient final : public TcpClientBinding
{
public:
    SystemTcpClient()
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_,
                         [this] { arrived_ += socket_.readAll(); });
    }

    bool isConnected() const override { return socket_.state() == QAbstractSocket::ConnectedState; }

    void connectToHost(const QString& host, quint16 port) override
    {
        socket_.connectToHost(host, port);
    }

    bool waitForConnected(int realMs) override
    {
        if (!socket_.waitForConnected(realMs))
            return false;
        // Commands and replies are single short lines: send each at once.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return true;
    }

    bool isConnecting() const override
    {
        const auto state = socket_.state();
        return state == QAbstractSocket::HostLookupState ||
               state == QAbstractSocket::ConnectingState;
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

    QByteArray takeArrived() override
    {
        if (socket_.bytesAvailable() > 0)
            arrived_ += socket_.readAll();
        return std::exchange(arrived_, {});
    }

private:
    QTcpSocket socket_;
    QByteArray arrived_;
};

} // namespace

std::unique_ptr<TcpClientBinding> makeSystemTcpClient()
{
    return std::make_unique<SystemTcpClient>();
}
