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
// kErrRec; a closed serial port and a lost TCP connection read as "". Link problems show
// "Connect Fail!" and "Lost Connect!" through the station's prompts; serial faults and a missing
// GPIB library go into error records (TestLog/ErrorLog.txt), and a serial port the user may not
// open also shows "Connect Fail!" with the fault and the dialout group hint.
//
// The waits for a reply process events (timer ticks, clicks and socket data are handled inside
// them) and sleep between events; every window is measured on the station's clock.
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

    bool TcpConnect(const QString& ip, int port);
    void TcpSend(const QString& text);
    QString TcpReceive(double windowMs);
    void TcpClose();
    TcpClientBinding& tcp();

    Station& station_;
    LinkBindings bindings_;
    ErrorLog errors_;

    std::array<std::unique_ptr<SerialPortBinding>, kLinkRecordCount> serialPorts_;
    // Serial replies that missed their window and may still arrive.
    std::array<SerialReplyState, kLinkRecordCount> pendingReply_{};
    std::array<int, kLinkRecordCount> GpibDevice_{};
    std::unique_ptr<GpibBinding> gpib_;
    bool gpibChecked_ = false;
    std::unique_ptr<TcpClientBinding> tcp_;
    QByteArray RxBuffer_;
    bool tcpClosedByStation_ = false;
};
