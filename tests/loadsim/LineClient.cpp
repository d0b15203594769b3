#include "LineClient.h"

#include "GpibLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
class TcpClient final : public LineClient
{
public:
    explicit TcpClient(quint16 port)
    {
        socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
        waitFor(5000, [this] { return socket_.state() == QAbstractSocket::ConnectedState; });
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    void write(const QByteArray& bytes) override
    {
        socket_.write(bytes);
        socket_.flush();
    }
    bool waitClosed(int timeoutMs) override
    {
        return waitFor(timeoutMs,
                       [this] { return socket_.state() == QAbstractSocket::UnconnectedState; });
    }

protected:
    void fetch() override { buffer_ += socket_.readAll(); }

private:
    QTcpSocket socket_;
};

class DeviceClient final : public LineClient
{
public:
    explicit DeviceClient(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (fd_ >= 0) {
            termios settings{};
            ::tcgetattr(fd_, &settings);
            ::cfmakeraw(&settings);
            ::tcsetattr(fd_, TCSANOW, &settings);
        }
    }
    ~DeviceClient() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    void write(const QByteArray& bytes) override
    {
        if (fd_ >= 0 && ::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())) < 0)
            qWarning("write to the terminal failed");
    }
    bool waitClosed(int) override { return false; }

protected:
    void fetch() override
    {
        char chunk[512];
        ssize_t n = 0;
        while (fd_ >= 0 && (n = ::read(fd_, chunk, sizeof chunk)) > 0)
            buffer_.append(chunk, n);
    }

private:
    int fd_;
};

class GpibClient final : public LineClient
{
public:
    GpibClient() : ud_(lib_.complete() ? lib_.open() : -1) {}
    ~GpibClient() override
    {
        if (ud_ > 0)
            lib_.ibonl(ud_, 0);
    }
    void write(const QByteArray& bytes) override
    {
        for (const QByteArray& raw : bytes.split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.isEmpty())
                continue;
            lib_.write(ud_, line);
            pending_ += line.endsWith('?') || line.toUpper() == "DYNC ON";
        }
    }
    bool waitClosed(int) override { return false; }

protected:
    void fetch() override
    {
        if (pending_ == 0)
            return;
        const QByteArray got = lib_.read(ud_);
        if (got.isEmpty() || got.endsWith('\n'))
            --pending_;
        buffer_ += got;
    }

private:
    GpibLibrary lib_;
    int ud_;
    int pending_ = 0;
};
} // namespace

LineClient::~LineClient() = default;

std::unique_ptr<LineClient> LineClient::tcp(quint16 port)
{
    return std::make_unique<TcpClient>(port);
}

std::unique_ptr<LineClient> LineClient::device(const QString& path)
{
    return std::make_unique<DeviceClient>(path);
}

std::unique_ptr<LineClient> LineClient::gpib()
{
    return std::make_unique<GpibClient>();
}

void LineClient::pause()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::usleep(500);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool LineClient::waitFor(int timeoutMs, const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        fetch();
        if (done())
            return true;
        if (timer.elapsed() >= timeoutMs)
            return false;
        pause();
    }
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

bool LineClient::hasData()
{
    fetch();
    return !buffer_.isEmpty();
}
