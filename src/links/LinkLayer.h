#pragma once

#include "links/ErrorLog.h"
#include "settings/LinkRecord.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class GpibBinding;
class SerialPortBinding;
class Station;
class TcpClientBinding;

// A serial reply that missed its read window: part of its line came (`tail`: the rest is still
// to come) or nothing came at all (`overdue`: the whole line may still come).
struct SerialReplyState
{
    bool tail = false;
    bool overdue = false;
};

// The text a read returns instead of a reply when none could be read.
inline const QString kErrRec = QStringLiteral("ErrRec");

// The link kind of a ConnectMode: 0 serial, 2 TCP/IP, every other value GPIB.
enum class LinkKind
{
    Serial,
    Gpib,
    Tcp
};
LinkKind linkKindOf(int connectMode);

// Where the link layer gets its ports from. The station uses the system's; other hosts of the
// link layer can put substitutes in their place.
struct LinkBindings
{
    std::function<std::unique_ptr<SerialPortBinding>()> serialPort;
    std::function<std::unique_ptr<TcpClientBinding>()> tcpClient;
    std::function<std::unique_ptr<GpibBinding>()> gpib;

    static LinkBindings system();
};

// Talks to an instrument by its number alone, whatever its link: opens and closes the link,
// sends command lines and reads reply lines with the link's time-out. A missing reply reads as
// kErrRec; a closed serial port and a lost TCP connection read as "". The link layer opens and
// reports; it tells the operator only of a serial port the user may not open ("Connect Fail!"
// with the fault and the dialout group hint). Why an open failed is connectFailure(), a link
// that went away while open is linkLost(); faults go into error records (TestLog/ErrorLog.txt).
//
// The waits for a reply and the TCP connection attempt process events (timer ticks, clicks and
// socket data are handled inside them) and sleep between events; every window is measured on
// the station's clock. Closing a link ends a wait on it at once.
class LinkLayer
{
public:
    explicit LinkLayer(Station& station);
    LinkLayer(Station& station, LinkBindings bindings);
    ~LinkLayer();
    LinkLayer(const LinkLayer&) = delete;
    LinkLayer& operator=(const LinkLayer&) = delete;

    // Opens the link of instrument n (0 to 18). Always 0: callers check the link by a query.
    int LoadConnect(int n);
    // Sends one command line (without terminator).
    void SendCommand(int n, const QString& text);
    // The reply line without its terminator, kErrRec, or "".
    QString ReadReply(int n);
    // As ReadReply, but waits up to `seconds` on every link (at least the link's own window): a
    // serial link measures across midnight too and turns the working indicator meanwhile.
    QString ReadReplyTimeout(int n, double seconds);
    void LinkClose(int n);

    // The state of the links.
    bool serialPortOpen(int n);
    bool tcpConnected() const;
    // Whether the link of instrument n is open: a connected socket, an open serial port, a GPIB
    // device.
    bool linkOpen(int n);
    // Whether the link of instrument n went away while it was open: the TCP connection closed or
    // reset by the other side, the serial device gone. Until the link is opened again or closed,
    // sends do nothing and reads return "" at once.
    bool linkLost(int n);
    // Why the last LoadConnect of instrument n did not open its link ("connection refused",
    // "no answer within 10 s", "device not found"); empty when it did.
    QString connectFailure(int n) const;
    // The address of instrument n as the operator knows it: "127.0.0.1:5025",
    // "COM1 (/dev/ttyS0)", "GPIB 5".
    QString linkAddress(int n) const;
    // How long ReadReply waits for a reply on the link of instrument n, in seconds.
    double replyWindowSeconds(int n) const;
    // GpibDevice of n: 0 none, -1 a failed open, else the library's descriptor.
    int gpibDevice(int n) const;
    // The device COM n names: key "COM<n>" of section "Serial Ports" in ACL3.INI, else
    // /dev/ttyS<n-1>; "" for n below 1.
    QString serialDeviceName(int comPort) const;

    const QString& LastErrorRecord() const { return errors_.LastErrorRecord(); }
    QString errorLogPath() const { return errors_.filePath(); }

private:
    bool validInstrument(int n);
    const LinkRecord& record(int n) const;

    void SerialOpen(int n);
    void SerialSend(int n, const QString& text);
    QString SerialRead(int n);
    QString SerialReadTimeout(int n, double seconds);
    SerialPortBinding& serialPort(int n);
    void configureSerialPort(int n);

    int GPIBConnect(int address);
    void GpibWrite(int descriptor, const QString& text);
    QString GpibRead(int descriptor);
    QString GpibReadFor(int n, double windowMs);
    void GpibOffline(int descriptor);
    GpibBinding& gpib();

    bool TcpConnect(const QString& ip, int port, QString* failure);
    void TcpSend(const QString& text);
    QString TcpReceive(double windowMs);
    void TcpClose();
    TcpClientBinding& tcp();
    // Whether the socket can be used; a connection that ended by itself is marked lost here.
    bool tcpUsable();
    void markSerialLost(int n, const LinkFault& fault);
    // A port that was open before a read and is closed after it lost its device meanwhile.
    void noticeSerialLoss(int n, bool wasOpen);

    Station& station_;
    LinkBindings bindings_;
    ErrorLog errors_;

    std::array<std::unique_ptr<SerialPortBinding>, kLinkRecordCount> serialPorts_;
    // Serial replies that missed their window and may still arrive.
    std::array<SerialReplyState, kLinkRecordCount> pendingReply_{};
    std::array<int, kLinkRecordCount> GpibDevice_{};
    std::unique_ptr<GpibBinding> gpib_;
    bool gpibChecked_ = false;
    bool gpibMissing_ = false;
    std::array<bool, kLinkRecordCount> serialLost_{};
    std::array<QString, kLinkRecordCount> connectFailure_;
    std::unique_ptr<TcpClientBinding> tcp_;
    QByteArray RxBuffer_;
    enum class TcpState
    {
        Closed, // never opened, or closed by the station
        Connecting,
        Open,
        Lost
    };
    TcpState tcpState_ = TcpState::Closed;
    QString tcpAddress_;
};
