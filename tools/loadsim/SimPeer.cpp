#include "SimPeer.h"

#include <QSocketNotifier>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A line that never ends is taken as a line once it is this long.
constexpr qsizetype kLongestLine = 4096;
} // namespace

SimPeer::SimPeer(const QString& transport, QObject* parent)
    : QObject(parent), transport_(transport), timer_(this)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &SimPeer::sendDue);
    clock_.start();
}

void SimPeer::send(const QByteArray& bytes, int delayMs)
{
    if (stopped_)
        return;
    qint64 due = clock_.elapsed() + std::max(delayMs, 0);
    if (!queue_.empty())
        due = std::max(due, queue_.back().dueMs);
    queue_.push_back({due, bytes});
    sendDue();
}

void SimPeer::sendDue()
{
    while (!queue_.empty() && queue_.front().dueMs <= clock_.elapsed()) {
        const QByteArray bytes = queue_.front().bytes;
        queue_.pop_front();
        writeOut(bytes);
    }
    if (!queue_.empty())
        timer_.start(static_cast<int>(queue_.front().dueMs - clock_.elapsed()));
}

void SimPeer::receive(const QByteArray& data)
{
    if (stopped_)
        return;
    input_ += data;
    for (;;) {
        qsizetype end = input_.indexOf('\n');
        if (end < 0 && input_.size() < kLongestLine)
            return;
        if (end < 0)
            end = input_.size();
        QByteArray line = input_.left(end);
        input_.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        emit lineReceived(line);
        // The line may have dropped this peer.
        if (stopped_)
            return;
    }
}

void SimPeer::stop()
{
    stopped_ = true;
    input_.clear();
    queue_.clear();
    timer_.stop();
}

TcpPeer::TcpPeer(QTcpSocket* socket, const QString& transport, QObject* parent)
    : SimPeer(transport, parent), socket_(socket)
{
    socket_->setParent(this);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::readyRead, this, [this] { receive(socket_->readAll()); });
    connect(socket_, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

void TcpPeer::hangUp()
{
    stop();
    socket_->abort();
    deleteLater();
}

void TcpPeer::writeOut(const QByteArray& bytes)
{
    socket_->write(bytes);
    socket_->flush();
}

PtyPeer* PtyPeer::open(QObject* parent, QString* error)
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("cannot open a pseudo-terminal: %1")
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    // Raw on the slave side: no echo, no line editing, no CR/LF translation.
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    const QString path = QString::fromLocal8Bit(::ttyname(slave));
    return new PtyPeer(master, slave, path, parent);
}

PtyPeer::PtyPeer(int master, int slave, const QString& path, QObject* parent)
    : SimPeer(QStringLiteral("serial"), parent), master_(master), slave_(slave), path_(path),
      notifier_(new QSocketNotifier(master, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &PtyPeer::readMaster);
}

PtyPeer::~PtyPeer()
{
    ::close(master_);
    ::close(slave_);
}

void PtyPeer::readMaster()
{
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        receive(QByteArray(buffer, n));
    }
}

void PtyPeer::hangUp()
{
    stop();
}

void PtyPeer::revive()
{
    restart();
}

void PtyPeer::writeOut(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        // A full terminal buffer means nobody reads the device: the rest is lost, as on a line.
        if (n <= 0)
            return;
        done += n;
    }
}
