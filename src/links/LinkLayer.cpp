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
#include <cmath>

namespace {

// Time-outs of the links, on the station's clock.
constexpr double kSerialReplyWindowMs = 100;
constexpr double kTcpReplyWindowMs = 10000;
constexpr double kTcpConnectWindowMs = 10000;
// Pause between two connection attempts after a refusal.
constexpr double kTcpRetryPauseMs = 10;
// A GPIB read gives up after the device's time-out of one second, and a missing reply costs two.
constexpr double kGpibNoReplyMs = 2000;
// The pause after a serial command, which gives the load a moment between lines.
constexpr double kSerialCommandPauseMs = 5;
constexpr double kSecondsPerDay = 86400;

const QString kConnectFail = QStringLiteral("Connect Fail!");
// On a new lab PC a serial port that may not be opened nearly always means this.
const QString kSerialPermissionHint =
    QStringLiteral("To open serial ports the user must be in the dialout group: "
                   "sudo adduser $USER dialout, then log out and in again.");
// QSerialPort's error code for a device that is not there.
constexpr int kSerialDeviceNotFound = 1;

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

// Why a serial port did not open, in the operator's words.
QString serialOpenFailure(const LinkFault& fault)
{
    switch (fault.number) {
    case kSerialDeviceNotFound:
        return QStringLiteral("device not found");
    case QSerialPort::PermissionError:
        return QStringLiteral("permission denied");
    case linkerror::kNoSerialPort:
        return QStringLiteral("no serial port set");
    default:
        return fault.text;
    }
}

// Collects what arrives at an open port until a line ends, the port goes or `wait` gives up. A
// reply that misses its window is no reply, and it must never be read as the next one: when part
// of a line came, the rest of that line is dropped whenever it comes (`pending.tail`); when
// nothing came, the next command first gives the reply one more window to turn up late
// (`pending.overdue`).
QString readSerialLine(SerialPortBinding& port, SerialReplyState& pending,
                       const std::function<void(const std::function<bool()>&)>& wait)
{
    if (!port.isOpen())
        return {};
    QByteArray buffer;
    wait([&] {
        if (!port.isOpen())
            return true;
        buffer += port.readAvailable();
        if (pending.tail) {
            const qsizetype end = buffer.indexOf('\n');
            buffer.remove(0, end < 0 ? buffer.size() : end + 1);
            pending.tail = end < 0;
        }
        return buffer.endsWith('\n');
    });
    // A device that disappeared during the wait reads as a closed port.
    if (!port.isOpen())
        return {};
    if (buffer.isEmpty()) {
        pending.overdue = true;
        return kErrRec;
    }
    if (!buffer.endsWith('\n')) {
        pending.tail = true;
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
    // Repeats of a fault belong to the link that is closed now.
    errors_.flush();
    const LinkRecord& rec = record(n);
    QString& failure = connectFailure_[static_cast<std::size_t>(n)];
    failure.clear();
    switch (linkKindOf(rec.ConnectMode)) {
    case LinkKind::Serial:
        if (rec.ComPort >= 1)
            SerialOpen(n);
        else
            failure = QStringLiteral("no serial port set");
        break;
    case LinkKind::Gpib: {
        int& device = GpibDevice_[static_cast<std::size_t>(n)];
        if (rec.GPIBAddress == 0) {
            device = 0;
            failure = QStringLiteral("no GPIB address set");
            break;
        }
        device = GPIBConnect(rec.GPIBAddress);
        if (device != -1)
            SendCommand(n, QStringLiteral("REMOTE"));
        else
            failure = gpibMissing_ ? QStringLiteral("no GPIB library")
                                   : QStringLiteral("device not found");
        break;
    }
    case LinkKind::Tcp:
        TcpConnect(rec.IP, rec.PORT, &failure);
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
    errors_.flush();
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        serialLost_[static_cast<std::size_t>(n)] = false;
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

bool LinkLayer::linkOpen(int n)
{
    if (n < 0 || n >= kLinkRecordCount)
        return false;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        return serialPortOpen(n);
    case LinkKind::Gpib:
        return GpibDevice_[static_cast<std::size_t>(n)] > 0;
    case LinkKind::Tcp:
        return tcpConnected();
    }
    return false;
}

bool LinkLayer::linkLost(int n)
{
    if (n < 0 || n >= kLinkRecordCount)
        return false;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        // A device that went away during a wait is noticed when the port is looked at.
        serialPortOpen(n);
        return serialLost_[static_cast<std::size_t>(n)];
    case LinkKind::Gpib:
        return false;
    case LinkKind::Tcp:
        tcpUsable();
        return tcpState_ == TcpState::Lost;
    }
    return false;
}

QString LinkLayer::connectFailure(int n) const
{
    return n >= 0 && n < kLinkRecordCount ? connectFailure_[static_cast<std::size_t>(n)]
                                          : QString();
}

QString LinkLayer::linkAddress(int n) const
{
    if (n < 0 || n >= kLinkRecordCount)
        return {};
    const LinkRecord& rec = record(n);
    switch (linkKindOf(rec.ConnectMode)) {
    case LinkKind::Serial:
        return QStringLiteral("COM%1 (%2)").arg(rec.ComPort).arg(serialDeviceName(rec.ComPort));
    case LinkKind::Gpib:
        return QStringLiteral("GPIB %1").arg(rec.GPIBAddress);
    case LinkKind::Tcp:
        return rec.IP + QLatin1Char(':') + QString::number(rec.PORT);
    }
    return {};
}

double LinkLayer::replyWindowSeconds(int n) const
{
    if (n < 0 || n >= kLinkRecordCount)
        return 0;
    switch (linkKindOf(record(n).ConnectMode)) {
    case LinkKind::Serial:
        return kSerialReplyWindowMs / 1000;
    case LinkKind::Gpib:
        return kGpibNoReplyMs / 1000;
    case LinkKind::Tcp:
        return kTcpReplyWindowMs / 1000;
    }
    return 0;
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
        port->setLossHandler([this, n](const LinkFault& fault) { markSerialLost(n, fault); });
    }
    return *port;
}

void LinkLayer::configureSerialPort(int n)
{
    const LinkRecord& rec = record(n);
    serialPort(n).configure(serialDeviceName(rec.ComPort),
                            QString::number(rec.BaudRate) + kSerialSettingsTail);
}

void LinkLayer::markSerialLost(int n, const LinkFault& fault)
{
    bool& lost = serialLost_[static_cast<std::size_t>(n)];
    if (lost)
        return;
    lost = true;
    errors_.write(fault);
}

void LinkLayer::SerialOpen(int n)
{
    SerialPortBinding& port = serialPort(n);
    if (port.isOpen())
        port.close();
    pendingReply_[static_cast<std::size_t>(n)] = {};
    serialLost_[static_cast<std::size_t>(n)] = false;
    configureSerialPort(n);
    LinkFault fault;
    if (!port.open(&fault)) {
        errors_.write(fault);
        connectFailure_[static_cast<std::size_t>(n)] = serialOpenFailure(fault);
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
    // A gone device is not tried again on every command; opening the link again does that.
    if (serialLost_[static_cast<std::size_t>(n)])
        return;
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
    // A reply that missed its window may still be on its way: it gets one more window to end
    // before this command goes out, and is dropped with whatever else arrived.
    SerialReplyState& pending = pendingReply_[static_cast<std::size_t>(n)];
    if (pending.tail || pending.overdue) {
        QByteArray late;
        WaitForReply(station_.clock, kSerialReplyWindowMs, [&] {
            late += port.readAvailable();
            return late.contains('\n') || !port.isOpen();
        });
        // Part of a line without its end: the next read drops the rest.
        pending.tail = !late.contains('\n') && (pending.tail || !late.isEmpty());
        pending.overdue = false;
    }
    port.clearInput();
    if (!port.write(commandLine(text), &fault)) {
        if (port.isOpen())
            errors_.write(fault);
        else
            markSerialLost(n, fault);
    }
    PreciseDelayMs(station_.clock, kSerialCommandPauseMs);
}

void LinkLayer::noticeSerialLoss(int n, bool wasOpen)
{
    SerialPortBinding& port = serialPort(n);
    if (wasOpen && !port.isOpen())
        markSerialLost(n, {static_cast<int>(linkerror::kSerialGone),
                           port.device() + QStringLiteral(": the device is gone")});
}

QString LinkLayer::SerialRead(int n)
{
    const bool wasOpen = serialPort(n).isOpen();
    const QString reply =
        readSerialLine(serialPort(n), pendingReply_[static_cast<std::size_t>(n)],
                       [this](const std::function<bool()>& lineEnded) {
                           WaitForReply(station_.clock, kSerialReplyWindowMs, lineEnded);
                       });
    noticeSerialLoss(n, wasOpen);
    return reply;
}

QString LinkLayer::SerialReadTimeout(int n, double seconds)
{
    Clock& clock = station_.clock;
    const bool wasOpen = serialPort(n).isOpen();
    const QString reply =
        readSerialLine(serialPort(n), pendingReply_[static_cast<std::size_t>(n)],
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
    noticeSerialLoss(n, wasOpen);
    return reply;
}

// ---- GPIB ---------------------------------------------------------------------------------

GpibBinding& LinkLayer::gpib()
{
    if (!gpib_)
        gpib_ = bindings_.gpib();
    if (!gpibChecked_) {
        gpibChecked_ = true;
        QString reason;
        gpibMissing_ = !gpib_->load(&reason);
        if (gpibMissing_)
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

bool LinkLayer::TcpConnect(const QString& ip, int port, QString* failure)
{
    TcpClientBinding& socket = tcp();
    if (socket.isConnected()) {
        tcpState_ = TcpState::Open;
        return true;
    }
    tcpAddress_ = ip + QLatin1Char(':') + QString::number(port);
    if (port < kLowestTcpPort || port > kHighestTcpPort) {
        errors_.write(
            {linkerror::kBadTcpPort, QStringLiteral("TCP/IP port %1 of %2 is outside 1 to %3")
                                         .arg(port)
                                         .arg(ip)
                                         .arg(kHighestTcpPort)});
        *failure = QStringLiteral("port %1 is outside 1 to %2").arg(port).arg(kHighestTcpPort);
        return false;
    }
    // The attempt processes events, so that Stop can end it: closing the link ends it at once.
    const Clock& clock = station_.clock;
    const double deadline = clock.monotonicMs() + kTcpConnectWindowMs;
    tcpState_ = TcpState::Connecting;
    RxBuffer_.clear();
    const auto closed = [this] { return tcpState_ != TcpState::Connecting; };
    QString refusal;
    socket.connectToHost(ip, static_cast<quint16>(port));
    while (clock.monotonicMs() < deadline) {
        WaitForReply(clock, deadline - clock.monotonicMs(),
                     [&] { return closed() || socket.isConnected() || !socket.isConnecting(); });
        if (closed()) {
            *failure = QStringLiteral("closed by the station");
            return false;
        }
        if (socket.isConnected()) {
            tcpState_ = TcpState::Open;
            return true;
        }
        if (socket.isConnecting())
            break; // the window is over
        // A load that is starting up listens soon: try again after a short pause.
        refusal = socket.failureReason();
        WaitUntil(clock, std::min(kTcpRetryPauseMs, deadline - clock.monotonicMs()), closed);
        if (closed()) {
            *failure = QStringLiteral("closed by the station");
            return false;
        }
        socket.abort();
        socket.connectToHost(ip, static_cast<quint16>(port));
    }
    socket.abort();
    tcpState_ = TcpState::Closed;
    *failure = !refusal.isEmpty()
                   ? refusal
                   : QStringLiteral("no answer within %1 s").arg(kTcpConnectWindowMs / 1000);
    return false;
}

bool LinkLayer::tcpUsable()
{
    if (tcpState_ == TcpState::Open && !tcp().isConnected()) {
        tcpState_ = TcpState::Lost;
        errors_.write({linkerror::kTcpLost, QStringLiteral("TCP/IP connection to %1 lost: %2")
                                                .arg(tcpAddress_, tcp().failureReason())});
    }
    return tcpState_ == TcpState::Open;
}

void LinkLayer::TcpSend(const QString& text)
{
    if (!tcpUsable())
        return;
    TcpClientBinding& socket = tcp();
    // Whatever is left of an earlier reply would be taken for the answer to this command.
    RxBuffer_.clear();
    socket.discardArrived();
    socket.send(commandLine(text));
}

QString LinkLayer::TcpReceive(double windowMs)
{
    if (!tcpUsable())
        return {};
    TcpClientBinding& socket = tcp();
    // A reply may come in several segments: collect up to the end of the line.
    WaitForReply(station_.clock, windowMs, [&] {
        RxBuffer_ += socket.takeArrived();
        return RxBuffer_.contains('\n') || !socket.isConnected();
    });
    if (RxBuffer_.isEmpty() && !tcpUsable())
        return {};
    const qsizetype end = RxBuffer_.indexOf('\n');
    const QByteArray line = end < 0 ? RxBuffer_ : RxBuffer_.left(end + 1);
    RxBuffer_.remove(0, line.size());
    return replyOf(line);
}

void LinkLayer::TcpClose()
{
    tcpState_ = TcpState::Closed;
    tcp().close();
    RxBuffer_.clear();
}
