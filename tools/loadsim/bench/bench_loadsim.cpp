// How fast the simulated load answers on each link, and how late its pulse result comes, with
// the simulator on its own thread and the client blocking as the station's links do.

#include "BenchMain.h"
#include "GpibLibrary.h"
#include "loadsim/LoadSimulatorThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
const QByteArray kQuery("GLOB:MEAS:VOLT?\n");

// A reply line from a blocking socket.
QByteArray tcpQuery(QTcpSocket& socket, const QByteArray& command)
{
    socket.write(command);
    socket.flush();
    while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
    }
    return socket.readLine();
}

// A blocking client of a simulator on its own thread.
void connectTo(QTcpSocket& socket, quint16 port)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    socket.waitForConnected(2000);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void BM_QueryTcp(benchmark::State& state)
{
    LoadSimulatorThread sim;
    QTcpSocket socket;
    connectTo(socket, sim->listenTcp());
    for (auto _ : state)
        benchmark::DoNotOptimize(tcpQuery(socket, kQuery));
}
BENCHMARK(BM_QueryTcp)->Unit(benchmark::kMicrosecond);

// The station's case: the simulator on the client's thread, served while the client waits.
void BM_QueryTcpSameThread(benchmark::State& state)
{
    LoadSimulator sim;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), sim.listenTcp());
    while (socket.state() != QAbstractSocket::ConnectedState)
        QCoreApplication::processEvents();
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (auto _ : state) {
        socket.write(kQuery);
        while (!socket.canReadLine())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        benchmark::DoNotOptimize(socket.readLine());
    }
}
BENCHMARK(BM_QueryTcpSameThread)->Unit(benchmark::kMicrosecond);

void BM_QueryPty(benchmark::State& state)
{
    LoadSimulatorThread sim;
    const int fd = ::open(QFile::encodeName(sim->openPty()).constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
    char buffer[256];
    for (auto _ : state) {
        if (::write(fd, kQuery.constData(), static_cast<size_t>(kQuery.size())) < 0)
            state.SkipWithError("write failed");
        QByteArray reply;
        pollfd p{fd, POLLIN, 0};
        while (!reply.endsWith('\n') && ::poll(&p, 1, 2000) == 1) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                reply.append(buffer, n);
        }
        benchmark::DoNotOptimize(reply);
    }
    ::close(fd);
}
BENCHMARK(BM_QueryPty)->Unit(benchmark::kMicrosecond);

void BM_QueryGpib(benchmark::State& state)
{
    LoadSimulatorThread sim;
    setGpibSimEnvironment(sim->listenGpibBridge());
    GpibLibrary gpib;
    const int ud = gpib.open();
    for (auto _ : state)
        benchmark::DoNotOptimize(gpib.query(ud, kQuery.chopped(1)));
    gpib.ibonl(ud, 0);
}
BENCHMARK(BM_QueryGpib)->Unit(benchmark::kMicrosecond);

// "DYNC ON" with 5 x (20 + 20) ms: the counter is how much later than 200 ms the result came.
void BM_PulseResultLateness(benchmark::State& state)
{
    LoadSimulatorThread sim;
    QTcpSocket socket;
    connectTo(socket, sim->listenTcp());
    socket.write("COUNT 5\nPERD:HIGH 20\nPERD:LOW 20\n");
    double lateMs = 0;
    double worstMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(tcpQuery(socket, "DYNC ON\n"));
        const double late = static_cast<double>(timer.nsecsElapsed()) / 1e6 - 200;
        lateMs += late;
        worstMs = std::max(worstMs, late);
    }
    state.counters["late_ms"] = benchmark::Counter(lateMs, benchmark::Counter::kAvgIterations);
    state.counters["worst_late_ms"] = worstMs;
}
BENCHMARK(BM_PulseResultLateness)->Unit(benchmark::kMillisecond)->Iterations(20);
} // namespace

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
