// The link layer over loopback TCP against a plain blocking client (target: a query within 1.5x
// of the plain client's round trip), and the CPU time of reply waits that time out (target:
// under 1% of one core). The load runs in a thread of its own so that it answers while the
// station waits.
#include "../tests/links/LinkPeers.h"
#include "common/Clock.h"
#include "links/LinkLayer.h"
#include "station/OperatorPrompts.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include "BenchMain.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// Lines that the load leaves unanswered.
const std::string kSilentCommand = "NOREPLY?";

// A load on loopback that answers each command line with the line itself.
class EchoLoad
{
public:
    EchoLoad()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener_, 8);
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        if (::pipe(wake_.data()) != 0)
            std::abort();
        thread_ = std::thread([this] { run(); });
    }
    ~EchoLoad()
    {
        if (::write(wake_[1], "x", 1) < 0)
            std::abort();
        thread_.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }
    int port() const { return port_; }

private:
    void run()
    {
        std::map<int, std::string> pending;
        for (;;) {
            std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            for (const auto& [fd, _] : pending)
                fds.push_back({fd, POLLIN, 0});
            ::poll(fds.data(), fds.size(), -1);
            if (fds[0].revents)
                break;
            if (fds[1].revents) {
                const int fd = ::accept(listener_, nullptr, nullptr);
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                pending[fd];
            }
            for (std::size_t i = 2; i < fds.size(); ++i) {
                if (!fds[i].revents)
                    continue;
                std::array<char, 4096> buf{};
                const ssize_t n = ::read(fds[i].fd, buf.data(), buf.size());
                if (n <= 0) {
                    ::close(fds[i].fd);
                    pending.erase(fds[i].fd);
                    continue;
                }
                std::string& in = pending[fds[i].fd];
                in.append(buf.data(), static_cast<std::size_t>(n));
                for (std::size_t end; (end = in.find('\n')) != std::string::npos;) {
                    const std::string line = in.substr(0, end + 1);
                    in.erase(0, end + 1);
                    if (line.compare(0, kSilentCommand.size(), kSilentCommand) != 0 &&
                        ::write(fds[i].fd, line.data(), line.size()) < 0)
                        break;
                }
            }
        }
        for (const auto& [fd, _] : pending)
            ::close(fd);
    }

    int listener_ = -1;
    int port_ = 0;
    std::array<int, 2> wake_{};
    std::thread thread_;
};

EchoLoad& echoLoad()
{
    static EchoLoad load;
    return load;
}

struct BenchStation
{
    explicit BenchStation(Clock& clockRef) : station(dir.path(), clockRef, prompts) {}
    QTemporaryDir dir;
    RecordingPrompts prompts;
    Station station;
};

constexpr int kInstrument = 1;

void useTcp(Station& station)
{
    LinkRecord& rec = station.LinkRecords[kInstrument];
    rec.ConnectMode = kConnectTcp;
    rec.IP = QStringLiteral("127.0.0.1");
    rec.PORT = echoLoad().port();
}

void BM_PlainSocketQuery(benchmark::State& state)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(echoLoad().port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const std::string query = "MEAS:VOLT?\n";
    std::string reply;
    for (auto _ : state) {
        if (::write(fd, query.data(), query.size()) < 0)
            break;
        reply.clear();
        std::array<char, 256> buf{};
        while (reply.find('\n') == std::string::npos) {
            const ssize_t n = ::read(fd, buf.data(), buf.size());
            if (n <= 0)
                break;
            reply.append(buf.data(), static_cast<std::size_t>(n));
        }
    }
    if (reply != query)
        state.SkipWithError("wrong reply");
    ::close(fd);
}
BENCHMARK(BM_PlainSocketQuery)->Unit(benchmark::kMicrosecond);

void BM_LinkLayerQuery(benchmark::State& state)
{
    SystemClock clock;
    BenchStation b(clock);
    useTcp(b.station);
    LinkLayer& links = b.station.links();
    links.LoadConnect(kInstrument);
    QString reply;
    for (auto _ : state) {
        links.SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        reply = links.ReadReply(kInstrument);
    }
    if (reply != QStringLiteral("MEAS:VOLT?") || !b.prompts.shown.empty())
        state.SkipWithError("wrong reply");
    links.LinkClose(kInstrument);
}
BENCHMARK(BM_LinkLayerQuery)->Unit(benchmark::kMicrosecond);

// Runs one wait for a reply that never comes and reports the CPU time it used.
void measureTimedOutWait(benchmark::State& state, const std::function<QString()>& wait)
{
    const double cpu = threadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const QString reply = wait();
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start;
    const double used = threadCpuSeconds() - cpu;
    state.counters["cpu_ms"] = used * 1000.0;
    state.counters["wait_s"] = real.count();
    state.counters["cpu_percent"] = 100.0 * used / real.count();
    if (reply != kErrRec)
        state.SkipWithError("a reply came");
}

// A TCP reply that never comes: the 10 s window on a clock at twice real speed is 5 s.
void BM_TcpReplyWaitTimeout5s(benchmark::State& state)
{
    FakeClock clock(QDateTime(QDate(2026, 1, 5), QTime(8, 0)), 2.0);
    BenchStation b(clock);
    useTcp(b.station);
    LinkLayer& links = b.station.links();
    links.LoadConnect(kInstrument);
    for (auto _ : state) {
        links.SendCommand(kInstrument, QString::fromStdString(kSilentCommand));
        measureTimedOutWait(state, [&] { return links.ReadReply(kInstrument); });
    }
    links.LinkClose(kInstrument);
}
BENCHMARK(BM_TcpReplyWaitTimeout5s)->Iterations(1)->Unit(benchmark::kMillisecond);

// A serial reply that never comes, on a pseudo-terminal: ReadReplyTimeout of 5 s.
void BM_SerialReplyWaitTimeout5s(benchmark::State& state)
{
    PseudoTerminal pty;
    if (!pty.isValid()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    SystemClock clock;
    BenchStation b(clock);
    QFile ini(b.station.settingsFilePath());
    if (!ini.open(QIODevice::WriteOnly))
        std::abort();
    ini.write("[Serial Ports]\r\nCOM1=" + pty.slavePath().toLocal8Bit() + "\r\n");
    ini.close();
    LinkRecord& rec = b.station.LinkRecords[kInstrument];
    rec.ConnectMode = kConnectSerial;
    rec.ComPort = 1;
    rec.BaudRate = 115200;
    LinkLayer& links = b.station.links();
    links.LoadConnect(kInstrument);
    for (auto _ : state) {
        measureTimedOutWait(state, [&] { return links.ReadReplyTimeout(kInstrument, 5.0); });
    }
    links.LinkClose(kInstrument);
}
BENCHMARK(BM_SerialReplyWaitTimeout5s)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
