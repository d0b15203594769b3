#pragma once

#include "links/ErrorLog.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The line settings of a settings text "rate,parity,data bits,stop bits" ("9600,n,8,1").
struct SerialSettings
{
    int rate = 0;
    char parity = 'n'; // n, e, o, m or s
    int dataBits = 8;  // 5 to 8
    int stopBits = 1;  // 1, 2, or 15 for one and a half
};

// Nothing when the text is not a valid settings text (a rate of 0 included).
std::optional<SerialSettings> parseSerialSettings(const QString& text);

// One serial port of the station: the operations the link layer needs and nothing more, so that
// the link layer runs against any substitute. Opening switches RTS on and the RTS/CTS handshake.
// A port whose device disappears (a USB adapter pulled out) reports the loss once through the
// loss handler and is closed from then on; nothing keeps polling it.
class SerialPortBinding
{
public:
    virtual ~SerialPortBinding() = default;

    // Device path and settings text; they take effect at the next open.
    virtual void configure(const QString& device, const QString& settings) = 0;
    virtual QString device() const = 0;

    virtual bool open(LinkFault* fault) = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;

    virtual void clearInput() = 0;
    virtual bool write(const QByteArray& bytes, LinkFault* fault) = 0;
    // Everything received and not read yet; never blocks. Data arrives while events are
    // processed.
    virtual QByteArray readAvailable() = 0;

    virtual void setLossHandler(std::function<void(const LinkFault&)> handler) = 0;
};

// A port on the system's serial devices (QSerialPort).
std::unique_ptr<SerialPortBinding> makeSystemSerialPort();
