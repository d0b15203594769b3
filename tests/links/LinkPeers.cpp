#include "LinkPeers.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>

PseudoTerminal::PseudoTerminal()
{
    int slave = -1;
    std::array<char, 128> name{};
    if (::openpty(&master_, &slave, name.data(), nullptr, nullptr) != 0) {
        master_ = -1;
        return;
    }
    slavePath_ = QString::fromLocal8Bit(name.data());
    // Only the station keeps the slave open, as it would a real port.
    ::close(slave);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

QByteArray PseudoTerminal::read(int bytes, int realMs)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    std::array<char, 512> chunk{};
    while (master_ >= 0 && got.size() < bytes && !timer.hasExpired(realMs)) {
        pollfd p{master_, POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(master_, chunk.data(), chunk.size()) : 0;
        if (n < 0)
            break; // the station closed its side
        got.append(chunk.data(), n);
    }
    return got;
}

void PseudoTerminal::write(const QByteArray& bytes)
{
    if (master_ >= 0 && ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) < 0)
        qWarning("pseudo-terminal write failed");
}

void PseudoTerminal::hangUp()
{
    if (master_ < 0)
        return;
    // The terminal's number stays taken until this object goes, so that no other process gets
    // it (and finds the serial port's lock file still there) while the station closes its port.
    heldSlave_ = ::open(slavePath_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ::close(master_);
    master_ = -1;
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
    if (heldSlave_ >= 0)
        ::close(heldSlave_);
}

double threadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
