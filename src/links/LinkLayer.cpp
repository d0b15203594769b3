#include "links/LinkLayer.h"

#include "common/Clock.h"
#include "common/NumberText.h"
#include "common/Waits.h"
#include "links/GpibBinding.h"
#include "links/SerialPortBinding.h"
#include "links/TcpClientBinding.h"
#include "settings/IniFile.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QSerialPort>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Time-outs of the links, on the station's clock.
constexpr double kSerialReplyWindowMs = 100;
constexpr double kTcpReplyWindowMs = 10000;
constexpr double kTcpConnectWindowMs = 10000;
// Pause between two connection attempts after a refusal.
constexpr double kTcpRetryPauseMs = 10;
// The pause after a serial command, which gives the load a moment between lines.
constexpr double kSerialCommandPauseMs = 5;
// The connect loop blocks in slices of at most this many real milliseconds, so that a clock that
// stands still is looked at again.
constexpr double kLongestBlockMs = 50;
constexpr double kSecondsPerDay = 86400;

const QString kConnectFail = QStringLiteral("Connect Fail!");
// On a new lab PC a serial port that may not be opened nearly always means this.
const QString kSerialPermissionHint =
    QStringLiteral("To open serial ports the user must be in the dialout group: "
                   "sudo adduser $USER dialout, then log out and in again.");
const QString kLostConnect = QStringLiteral("Lost Connect!");
const QString kSerialPortsSection = QStringLiteral("Serial Ports");
const QString kSerialSettingsTail = QStringLiteral(",n,8,1");

QByteArray commandLine(const QString& text)
{
    return text.toLatin1() + '\n';
}

// Drops a trailing CR LF, or a trailing LF; anything else stays.
QString trimTerminator(QByteArray raw)
{
    if (raw.endsWith("\r\n"))
        raw.chop(2);
    else if (raw.endsWith('\n'))
        raw.chop(1);
    return QString::fromLatin1(raw);
}

// A serial or TCP reply: fewer than two characters is no reply.
QString replyOf(const QByteArray& raw)
{
    return raw.size() < 2 ? kErrRec : trimTerminator(raw);
}

// Blocks without processing events for `clockMs` of the clock's time.
void sleepWithoutEvents(const Clock& clock, double clockMs)
{
    const double real = std::min(clock.realMsForReply(clockMs), kLongestBlockMs);
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(real));
}

int blockSliceMs(const Clock& clock, double clockMs)
{
    const double real = std::min(clock.realMsForReply(clockMs), kLongestBlockMs);
    return std::max(1, static_cast<int>(std::ceil(real)));
}

// Collects what arrives at an open port until a line ends, the port goes or `wait` gives up. A
// line whose end has not come by then is no reply: `lateTail` is set, and the rest of that line,
// whenever it comes, is dropped instead of being read as the next reply.
QString readSerialLine(SerialPortBinding& port, bool& lateTail,
                       const std::function<void(const std::function<bool()>&)>& wait)
{
    if (!port.isOpen())
        return {};
    QByteArray buffer;
    wait([&] {
        if (!port.isOpen())
            return true;
        buffer += port.readAvailable();
        if (lateTail) {
            const qsizetype end = buffer.indexOf('\n');
            buffer.remove(0, end < 0 ? buffer.size() : end + 1);
            lateTail = end < 0;
        }
        return buffer.endsWith('\n');
    });
    // A device that disappeared during the wait reads as a closed port.
    if (!port.isOpen())
        return {};
    if (!buffer.isEmpty() && !buffer.endsWith('\n')) {
        lateTail = true;
        return kErrRec;
    }
    return replyOf(buffer);
}

} // namespace

LinkKind linkKindOf(int connectMode)
{
    if (connectMode == kConnectSerial)
        return LinkKind::Serial;
    return connectMode == kConnectTcp ? LinkKind::Tcp : LinkKind::Gpib;
}

LinkBindings LinkBindings::system()
{
    return {makeSystemSerialPort, makeSystemTcpClient, makeGpibLibrary};
}

LinkLayer::LinkLayer(Station& station) : LinkLayer(station, LinkBindings::system()) {}

LinkLayer::LinkLayer(Station& station, LinkBindings bindings)
    : station_(station), bindings_(std::move(bindings)),
      errors_(station.clock, station.testLogDir())
{}

LinkLayer::~LinkLayer() = default;

bool LinkLayer::validInstrument(int n)
{
    if (n >= 0 && n < kLinkRecordCount)
        return true;
    errors_.write(
        {linkerror::kBadInstrumentNumber, QStringLiteral("Instrument number %1 is outside 0 to %2")
                                              .arg(n)
                                              .arg(kLinkRecordCount - 1)});
    return false;
}

const LinkRecord& LinkLayer::record(int n) const
{
    return station_.LinkRecords[static_cast<std::size_t>(n)];
}

int LinkLayer::LoadConnect(int n)
{
    if (!validInstrument(n))
        return 0;
    const LinkRecord& rec = record(n);
    switch (linkKindOf(rec.ConnectMode)) {
    case LinkKind::Serial:
        if (rec.ComPort >= 1)
            SerialOpen(n);
        break;
    case LinkKind::Gpib: {
        int& device = GpibDevice_[static_cast<std::size_t>(n)];
        if (rec.GPIBAddress == 0) {
            device = 0;
            break;
        }
        device = GPIBConnect(rec.GPIBAddress);
        if (device != -1)
            SendCommand(n, QStringLiteral("REMOTE"));
        break;
    }
    case LinkKind::Tcp:
        TcpConnect(rec.IP, rec.PORT);
        break;
    }
    return 0;
}

void LinkLayer::SendCommand(int n, const QString& text)
{
    if (!validInstrument(n))
        return;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        SerialSend(n, text);
        break;
    case LinkKind::Gpib:
        GpibWrite(GpibDevice_[static_cast<std::size_t>(n)], text);
        break;
    case LinkKind::Tcp:
        TcpSend(text);
        break;
    }
}

QString LinkLayer::ReadReply(int n)
{
    if (!validInstrument(n))
        return kErrRec;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        return SerialRead(n);
    case LinkKind::Gpib:
        return GpibRead(GpibDevice_[static_cast<std::size_t>(n)]);
    case LinkKind::Tcp:
        return TcpReceive(kTcpReplyWindowMs);
    }
    return kErrRec;
}

QString LinkLayer::ReadReplyTimeout(int n, double seconds)
{
    if (!validInstrument(n))
        return kErrRec;
    // A reply that takes longer than the link's own window (a long pulse-load sequence) is
    // awaited for the given time on every link; taking "ErrRec" early would start the next step
    // while the load still pulses, and leave its result line to be read as a measurement.
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        return SerialReadTimeout(n, seconds);
    case LinkKind::Gpib:
        return GpibReadFor(n, seconds * 1000.0);
    case LinkKind::Tcp:
        return TcpReceive(std::max(seconds * 1000.0, kTcpReplyWindowMs));
    }
    return kErrRec;
}

void LinkLayer::LinkClose(int n)
{
    if (!validInstrument(n))
        return;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        if (serialPortOpen(n))
            serialPort(n).close();
        break;
    case LinkKind::Gpib:
        GpibOffline(GpibDevice_[static_cast<std::size_t>(n)]);
        GpibDevice_[static_cast<std::size_t>(n)] = 0;
        break;
    case LinkKind::Tcp:
        TcpClose();
        break;
    }
}

bool LinkLayer::serialPortOpen(int n)
{
    if (n < 0 || n >= kLinkRecordCount || !serialPorts_[static_cast<std::size_t>(n)])
        return false;
    return serialPorts_[static_cast<std::size_t>(n)]->isOpen();
}

bool LinkLayer::tcpConnected() const
{
    return tcp_ && tcp_->isConnected();
}

int LinkLayer::gpibDevice(int n) const
{
    if (n < 0 || n >= kLinkRecordCount)
        return 0;
    return GpibDevice_[static_cast<std::size_t>(n)];
}

QString LinkLayer::serialDeviceName(int comPort) const
{
    if (comPort < 1)
        return {};
    return ReadIniString(station_.settingsFilePath(), kSerialPortsSection,
                         QStringLiteral("COM%1").arg(comPort),
                         QStringLiteral("/dev/ttyS%1").arg(comPort - 1));
}

// ---- Serial -------------------------------------------------------------------------------

SerialPortBinding& LinkLayer::serialPort(int n)
{
    auto& port = serialPorts_[static_cast<std::size_t>(n)];
    if (!port) {
        port = bindings_.serialPort();
        port->setLossHandler([this](const LinkFault& fault) { errors_.write(fault); });
    }
    return *port;
}

void LinkLayer::configureSerialPort(int n)
{
    const LinkRecord& rec = record(n);
    serialPort(n).configure(serialDeviceName(rec.ComPort),
                            QString::number(rec.BaudRate) + kSerialSettingsTail);
}

void LinkLayer::SerialOpen(int n)
{
    SerialPortBinding& port = serialPort(n);
    if (port.isOpen())
        port.close();
    lateTail_[static_cast<std::size_t>(n)] = false;
    configureSerialPort(n);
    LinkFault fault;
    if (!port.open(&fault)) {
        errors_.write(fault);
        port.close();
        if (fault.number == QSerialPort::PermissionError)
            station_.prompts.message(kConnectFail + u'\n' + fault.text + u'\n' +
                                     kSerialPermissionHint);
        return;
    }
    SerialSend(n, QStringLiteral("REM"));
}

void LinkLayer::SerialSend(int n, const QString& text)
{
    SerialPortBinding& port = serialPort(n);
    LinkFault fault;
    if (!port.isOpen()) {
        // Reopen with the settings of the last open; a port never opened takes the record's.
        if (port.device().isEmpty())
            configureSerialPort(n);
        if (!port.open(&fault)) {
            errors_.write(fault);
            return;
        }
    }
    // The rest of a line cut off by a read window may be here already: clearing it ends it.
    bool& lateTail = lateTail_[static_cast<std::size_t>(n)];
    if (lateTail && port.readAvailable().contains('\n'))
        lateTail = false;
    port.clearInput();
    if (!port.write(commandLine(text), &fault))
        errors_.write(fault);
    PreciseDelayMs(station_.clock, kSerialCommandPauseMs);
}

QString LinkLayer::SerialRead(int n)
{
    return readSerialLine(serialPort(n), lateTail_[static_cast<std::size_t>(n)],
                          [this](const std::function<bool()>& lineEnded) {
                              WaitForReply(station_.clock, kSerialReplyWindowMs, lineEnded);
                          });
}

QString LinkLayer::SerialReadTimeout(int n, double seconds)
{
    Clock& clock = station_.clock;
    return readSerialLine(serialPort(n), lateTail_[static_cast<std::size_t>(n)],
                          [&](const std::function<bool()>& lineEnded) {
                              const auto turnAndCheck = [&] {
                                  station_.form.WorkLabel.setText(WorkText[static_cast<std::size_t>(
                                      roundToInt(clock.secondsSinceMidnight()) % 4)]);
                                  return lineEnded();
                              };
                              // The window runs on the time of day; past midnight the part already
                              // spent carries over.
                              const double start = clock.secondsSinceMidnight();
                              const auto spent = [&] {
                                  const double s = clock.secondsSinceMidnight() - start;
                                  return s < 0 ? s + kSecondsPerDay : s;
                              };
                              for (;;) {
                                  const double left = seconds - spent();
                                  if (left <= 0 || WaitForReply(clock, left * 1000.0, turnAndCheck))
                                      return;
                              }
                          });
}

// ---- GPIB ---------------------------------------------------------------------------------

GpibBinding& LinkLayer::gpib()
{
    if (!gpib_)
        gpib_ = bindings_.gpib();
    if (!gpibChecked_) {
        gpibChecked_ = true;
        QString reason;
        if (!gpib_->load(&reason))
            errors_.write({linkerror::kNoGpibLibrary, reason});
    }
    return *gpib_;
}

int LinkLayer::GPIBConnect(int address)
{
    GpibBinding& bus = gpib();
    const int descriptor = static_cast<qint16>(bus.openDevice(address));
    if (descriptor != -1)
        return descriptor;
    bus.offline(descriptor);
    return static_cast<qint16>(bus.openDevice(address));
}

void LinkLayer::GpibWrite(int descriptor, const QString& text)
{
    if (descriptor != 0)
        gpib().write(descriptor, text.toLatin1());
}

QString LinkLayer::GpibRead(int descriptor)
{
    if (descriptor == 0)
        return kErrRec;
    GpibBinding& bus = gpib();
    QByteArray buffer;
    const int count = bus.read(descriptor, &buffer);
    if (count > 0)
        return trimTerminator(buffer.left(count));
    // A read that timed out is followed by one more, whose data is dropped.
    bus.read(descriptor, &buffer);
    return kErrRec;
}

QString LinkLayer::GpibReadFor(int n, double windowMs)
{
    const int descriptor = GpibDevice_[static_cast<std::size_t>(n)];
    if (descriptor == 0)
        return kErrRec;
    GpibBinding& bus = gpib();
    const double deadline = station_.clock.monotonicMs() + windowMs;
    QByteArray buffer;
    // Each read waits for the device's own time-out; between reads the window stays alive,
    // and a link closed meanwhile (Stop) ends the wait.
    for (;;) {
        const int count = bus.read(descriptor, &buffer);
        if (count > 0)
            return trimTerminator(buffer.left(count));
        QCoreApplication::processEvents();
        if (GpibDevice_[static_cast<std::size_t>(n)] != descriptor)
            return kErrRec;
        if (station_.clock.monotonicMs() >= deadline)
            break;
    }
    bus.read(descriptor, &buffer);
    return kErrRec;
}

void LinkLayer::GpibOffline(int descriptor)
{
    if (descriptor != 0)
        gpib().offline(descriptor);
}

// ---- TCP/IP -------------------------------------------------------------------------------

TcpClientBinding& LinkLayer::tcp()
{
    if (!tcp_)
        tcp_ = bindings_.tcpClient();
    return *tcp_;
}

bool LinkLayer::TcpConnect(const QString& ip, int port)
{
    TcpClientBinding& socket = tcp();
    if (socket.isConnected())
        return true;
    if (port < kLowestTcpPort || port > kHighestTcpPort) {
        errors_.write(
            {linkerror::kBadTcpPort, QStringLiteral("TCP/IP port %1 of %2 is outside 1 to %3")
                                         .arg(port)
                                         .arg(ip)
                                         .arg(kHighestTcpPort)});
        station_.prompts.message(kConnectFail);
        return false;
    }
    // The window does not process events while it connects: nothing else runs until the load
    // answers or the attempts give up.
    const Clock& clock = station_.clock;
    const double deadline = clock.monotonicMs() + kTcpConnectWindowMs;
    tcpClosedByStation_ = false;
    RxBuffer_.clear();
    socket.connectToHost(ip, static_cast<quint16>(port));
    for (;;) {
        const double left = deadline - clock.monotonicMs();
        if (left <= 0)
            break;
        if (socket.waitForConnected(blockSliceMs(clock, left)))
            return true;
        if (!socket.isConnecting()) {
            sleepWithoutEvents(clock, std::min(kTcpRetryPauseMs, left));
            socket.abort();
            socket.connectToHost(ip, static_cast<quint16>(port));
        }
    }
    socket.abort();
    station_.prompts.message(kConnectFail);
    return false;
}

void LinkLayer::TcpSend(const QString& text)
{
    TcpClientBinding& socket = tcp();
    if (!socket.isConnected()) {
        // A link the station closed itself is not a lost connection.
        if (!tcpClosedByStation_)
            station_.prompts.message(kLostConnect);
        return;
    }
    // Whatever is left of an earlier reply would be taken for the answer to this command.
    RxBuffer_.clear();
    socket.discardArrived();
    socket.send(commandLine(text));
}

QString LinkLayer::TcpReceive(double windowMs)
{
    TcpClientBinding& socket = tcp();
    if (!socket.isConnected()) {
        if (!tcpClosedByStation_)
            station_.prompts.message(kLostConnect);
        return {};
    }
    // A reply may come in several segments: collect up to the end of the line.
    WaitForReply(station_.clock, windowMs, [&] {
        RxBuffer_ += socket.takeArrived();
        return RxBuffer_.contains('\n') || !socket.isConnected();
    });
    if (RxBuffer_.isEmpty() && !socket.isConnected()) {
        // Stop closes the link while a reply is awaited: that is no lost connection.
        if (!tcpClosedByStation_)
            station_.prompts.message(kLostConnect);
        return {};
    }
    const qsizetype end = RxBuffer_.indexOf('\n');
    const QByteArray line = end < 0 ? RxBuffer_ : RxBuffer_.left(end + 1);
    RxBuffer_.remove(0, line.size());
    return replyOf(line);
}

void LinkLayer::TcpClose()
{
    tcpClosedByStation_ = true;
    tcp().close();
    RxBuffer_.clear();
}
