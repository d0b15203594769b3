// A GPIB library with the calls the station's GPIB binding makes, for a bus with one device on
// it: the simulated load, reached through its loopback bridge. ACL3_GPIBSIM names the bridge,
// "ADDRESS:PORT" or "PORT" (address 127.0.0.1). Every device opened with ibdev is one TCP
// connection to the bridge. A GPIB write has no terminator (the bus marks its last byte with
// EOI), so each ibwrt goes over as one LF-terminated line; a read returns one reply line with
// its LF, waiting at most the device's time-out for it.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#define GPIBSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
// ibsta bits.
constexpr int kErr = 0x8000;
constexpr int kTimo = 0x4000;
constexpr int kEnd = 0x2000;
constexpr int kCmpl = 0x0100;

constexpr int kLowestPad = 1;
constexpr int kHighestPad = 30;
constexpr int kConnectWaitMs = 1000;

// The time-out codes T10us to T1000s in microseconds; code 0 waits for ever.
constexpr long long kTimeoutUs[] = {0,       10,       30,       100,       300,       1000,
                                    3000,    10000,    30000,    100000,    300000,    1000000,
                                    3000000, 10000000, 30000000, 100000000, 300000000, 1000000000};

thread_local int threadCount = 0;

struct Device
{
    int fd = -1;
    int timeoutMs = -1;  // -1: no time-out
    std::string pending; // received and not yet read
    std::mutex mutex;

    ~Device()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

std::mutex devicesMutex;
std::map<int, std::shared_ptr<Device>> devices;
int nextDescriptor = 1;

std::shared_ptr<Device> findDevice(int ud)
{
    std::lock_guard<std::mutex> lock(devicesMutex);
    const auto it = devices.find(ud);
    return it == devices.end() ? nullptr : it->second;
}

bool bridgeAddress(sockaddr_in* address)
{
    const char* text = std::getenv("ACL3_GPIBSIM");
    if (!text || !*text)
        return false;
    std::string host = "127.0.0.1";
    std::string port = text;
    if (const auto colon = port.rfind(':'); colon != std::string::npos) {
        host = port.substr(0, colon);
        port = port.substr(colon + 1);
    }
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (port.empty() || *end != '\0' || number <= 0 || number > 65535)
        return false;
    *address = {};
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(number));
    return ::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1;
}

int connectBridge()
{
    sockaddr_in address{};
    if (!bridgeAddress(&address))
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (ok != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&p, 1, kConnectWaitMs) == 1 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            ok = 0;
    }
    if (ok != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, kConnectWaitMs);
            continue;
        }
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Moves up to `count` bytes of one reply out of the pending bytes: through the first LF, or
// all that is there when `partial`. Returns how many were moved; sets *end when an LF ended it.
long takeReply(Device& device, char* buffer, long count, bool partial, bool* end)
{
    const size_t lf = device.pending.find('\n');
    size_t n = 0;
    if (lf != std::string::npos)
        n = lf + 1;
    else if (partial || device.pending.size() >= static_cast<size_t>(count))
        n = device.pending.size();
    n = std::min(n, static_cast<size_t>(count));
    *end = n > 0 && device.pending[n - 1] == '\n';
    std::memcpy(buffer, device.pending.data(), n);
    device.pending.erase(0, n);
    return static_cast<long>(n);
}
} // namespace

GPIBSIM_EXPORT int ibdev(int board, int pad, int /*sad*/, int tmo, int /*eot*/, int /*eos*/)
{
    threadCount = 0;
    if (board < 0 || pad < kLowestPad || pad > kHighestPad || tmo < 0 ||
        tmo >= static_cast<int>(std::size(kTimeoutUs)))
        return -1;
    const int fd = connectBridge();
    if (fd < 0)
        return -1;
    auto device = std::make_shared<Device>();
    device->fd = fd;
    const long long us = kTimeoutUs[tmo];
    device->timeoutMs = us == 0 ? -1 : static_cast<int>((us + 999) / 1000);
    std::lock_guard<std::mutex> lock(devicesMutex);
    const int ud = nextDescriptor++;
    devices[ud] = std::move(device);
    return ud;
}

GPIBSIM_EXPORT int ibwrt(int ud, const void* buf, long count)
{
    threadCount = 0;
    const auto device = findDevice(ud);
    if (!device || count < 0 || (count > 0 && !buf))
        return kErr;
    std::string line(static_cast<const char*>(buf), static_cast<size_t>(count));
    // The bus has no terminator; one the caller wrote anyway is not doubled.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    line += '\n';
    std::lock_guard<std::mutex> lock(device->mutex);
    if (!sendAll(device->fd, line))
        return kErr;
    threadCount = static_cast<int>(count);
    return kCmpl | kEnd;
}

GPIBSIM_EXPORT int ibrd(int ud, void* buf, long count)
{
    threadCount = 0;
    const auto device = findDevice(ud);
    if (!device || count <= 0 || !buf)
        return kErr;
    std::lock_guard<std::mutex> lock(device->mutex);
    char* out = static_cast<char*>(buf);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(device->timeoutMs);
    bool end = false;
    for (;;) {
        if (const long n = takeReply(*device, out, count, false, &end); n > 0) {
            threadCount = static_cast<int>(n);
            return kCmpl | (end ? kEnd : 0);
        }
        int waitMs = -1;
        if (device->timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            waitMs = static_cast<int>(std::max<long long>(left.count(), 0));
        }
        pollfd p{device->fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        char chunk[512];
        const ssize_t got = ready > 0 ? ::recv(device->fd, chunk, sizeof chunk, 0) : -1;
        if (got <= 0 && !(got < 0 && ready > 0 && errno == EAGAIN)) {
            // Time-out, or the simulator hung up: what came of a reply is returned as it is.
            const long n = takeReply(*device, out, count, true, &end);
            threadCount = static_cast<int>(n);
            return kErr | (ready == 0 ? kTimo : 0) | kCmpl | (end ? kEnd : 0);
        }
        if (got > 0)
            device->pending.append(chunk, static_cast<size_t>(got));
    }
}

GPIBSIM_EXPORT int ibonl(int ud, int v)
{
    threadCount = 0;
    std::lock_guard<std::mutex> lock(devicesMutex);
    const auto it = devices.find(ud);
    if (it == devices.end())
        return kErr;
    if (v == 0)
        devices.erase(it);
    return kCmpl;
}

GPIBSIM_EXPORT int ThreadIbcnt(void)
{
    return threadCount;
}
