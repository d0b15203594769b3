#include "LineClient.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>

std::unique_ptr<LineClient> LineClient::tcp(quint16 port)
{
    std::unique_ptr<LineClient> client(new LineClient);
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    socket->waitForConnected(5000);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    client->io_ = std::move(socket);
    return client;
}

std::unique_ptr<LineClient> LineClient::device(const QString& path)
{
    std::unique_ptr<LineClient> client(new LineClient);
    auto port = std::make_unique<QSerialPort>(path);
    if (!port->open(QIODevice::ReadWrite))
        qWarning("cannot open %s: %s", qPrintable(path), qPrintable(port->errorString()));
    client->io_ = std::move(port);
    return client;
}

std::unique_ptr<LineClient> LineClient::gpib()
{
    std::unique_ptr<LineClient> client(new LineClient);
    client->gpib_ = std::make_unique<GpibLibrary>();
    if (client->gpib_->complete())
        client->ud_ = client->gpib_->open();
    return client;
}

LineClient::~LineClient()
{
    if (ud_ > 0)
        gpib_->ibonl(ud_, 0);
}

void LineClient::write(const QByteArray& bytes)
{
    if (io_) {
        io_->write(bytes);
        io_->waitForBytesWritten(1000);
        return;
    }
    for (const QByteArray& raw : bytes.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            continue;
        gpib_->write(ud_, line);
        pending_ += line.endsWith('?') || line.toUpper() == "DYNC ON";
    }
}

void LineClient::fetch()
{
    if (io_) {
        buffer_ += io_->readAll();
    } else if (pending_ > 0) {
        const QByteArray got = gpib_->read(ud_);
        pending_ -= got.isEmpty() || got.endsWith('\n');
        buffer_ += got;
    }
}

bool LineClient::waitFor(int timeoutMs, const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    for (fetch(); !done(); fetch()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        if (!io_ || !io_->waitForReadyRead(1))
            QThread::usleep(500);
    }
    return true;
}

std::optional<QByteArray> LineClient::readLine(int timeoutMs)
{
    if (!waitFor(timeoutMs, [this] { return buffer_.contains('\n'); }))
        return std::nullopt;
    const qsizetype end = buffer_.indexOf('\n') + 1;
    QByteArray line = buffer_.left(end);
    buffer_.remove(0, end);
    return line;
}

QByteArray LineClient::query(const QByteArray& line, int timeoutMs)
{
    send(line);
    const auto reply = readLine(timeoutMs);
    return reply ? reply->chopped(1) : QByteArrayLiteral("<none>");
}

QByteArray LineClient::readFor(int ms)
{
    waitFor(ms, [] { return false; });
    return std::exchange(buffer_, {});
}
