#include "links/SerialPortBinding.h"

#include <QSerialPort>
#include <QStringList>

std::optional<SerialSettings> parseSerialSettings(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    SerialSettings s;
    bool ok = false;
    s.rate = parts[0].trimmed().toInt(&ok);
    if (!ok || s.rate <= 0)
        return std::nullopt;
    const QString parity = parts[1].trimmed().toLower();
    if (parity.size() != 1 || !QStringLiteral("neoms").contains(parity))
        return std::nullopt;
    s.parity = parity[0].toLatin1();
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = 1;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = 15;
    else if (stop == QLatin1String("2"))
        s.stopBits = 2;
    else
        return std::nullopt;
    return s;
}

namespace {

QSerialPort::Parity qtParity(char parity)
{
    switch (parity) {
    case 'e':
        return QSerialPort::EvenParity;
    case 'o':
        return QSerialPort::OddParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits qtStopBits(int stopBits)
{
    if (stopBits == 2)
        return QSerialPort::TwoStop;
    return stopBits == 15 ? QSerialPort::OneAndHalfStop : QSerialPort::OneStop;
}

class SystemSerialPort final : public SerialPortBinding
{
public:
    SystemSerialPort()
    {
        QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                         [this](QSerialPort::SerialPortError error) { onError(error); });
    }

    void configure(const QString& device, const QString& settings) override
    {
        device_ = device;
        settings_ = settings;
    }
    QString device() const override { return device_; }

    bool open(LinkFault* fault) override
    {
        if (device_.isEmpty()) {
            *fault = {linkerror::kNoSerialPort, QStringLiteral("No serial port number is set")};
            return false;
        }
        const std::optional<SerialSettings> s = parseSerialSettings(settings_);
        if (!s) {
            *fault = {linkerror::kBadSerialSettings,
                      QStringLiteral("%1: invalid settings \"%2\"").arg(device_, settings_)};
            return false;
        }
        Busy busy(busy_);
        port_.setPortName(device_);
        port_.setBaudRate(s->rate);
        port_.setDataBits(static_cast<QSerialPort::DataBits>(s->dataBits));
        port_.setParity(qtParity(s->parity));
        port_.setStopBits(qtStopBits(s->stopBits));
        port_.setFlowControl(QSerialPort::NoFlowControl);
        port_.clearError();
        if (!port_.open(QIODevice::ReadWrite)) {
            *fault = currentFault();
            port_.clearError();
            return false;
        }
        lost_ = false;
        // RTS has to be raised before the handshake takes it over. Pseudo-terminals have no
        // modem lines, so a refusal here is not a failure to open.
        port_.setRequestToSend(true);
        port_.setFlowControl(QSerialPort::HardwareControl);
        port_.clearError();
        return true;
    }

    void close() override
    {
        if (port_.isOpen())
            port_.close();
        port_.clearError();
    }

    bool isOpen() override
    {
        // A lost device is closed here, outside the port's own notification.
        if (lost_ && port_.isOpen())
            close();
        return port_.isOpen();
    }

    void clearInput() override
    {
        if (isOpen())
            port_.clear(QSerialPort::Input);
    }

    bool write(const QByteArray& bytes, LinkFault* fault) override
    {
        Busy busy(busy_);
        port_.clearError();
        const bool queued = port_.write(bytes) == bytes.size();
        port_.flush();
        if (queued && port_.error() == QSerialPort::NoError)
            return true;
        *fault = currentFault();
        port_.clearError();
        return false;
    }

    QByteArray readAvailable() override { return isOpen() ? port_.readAll() : QByteArray(); }

    void setLossHandler(std::function<void(const LinkFault&)> handler) override
    {
        lossHandler_ = std::move(handler);
    }

private:
    // Marks the port's own calls: a fault raised inside them is reported by their result, not
    // by the loss handler.
    struct Busy
    {
        explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
        ~Busy() { flag_ = false; }
        bool& flag_;
    };

    LinkFault currentFault() const
    {
        return {static_cast<int>(port_.error()),
                device_ + QStringLiteral(": ") + port_.errorString()};
    }

    // A device that went away (a USB adapter pulled out, a pseudo-terminal hung up) fails or
    // reads nothing each time it is looked at, and its notifier would fire without end: the port
    // is closed, on the next turn of the event loop since this runs inside the port's own
    // notification.
    void onError(QSerialPort::SerialPortError error)
    {
        if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || lost_ ||
            !port_.isOpen())
            return;
        lost_ = true;
        QMetaObject::invokeMethod(
            &port_,
            [this] {
                if (lost_)
                    close();
            },
            Qt::QueuedConnection);
        if (!busy_ && lossHandler_)
            lossHandler_({static_cast<int>(QSerialPort::ResourceError),
                          device_ + QStringLiteral(": the device is gone")});
    }

    QSerialPort port_;
    QString device_;
    QString settings_;
    bool lost_ = false;
    bool busy_ = false;
    std::function<void(const LinkFault&)> lossHandler_;
};

} // namespace

std::unique_ptr<SerialPortBinding> makeSystemSerialPort()
{
    return std::make_unique<SystemSerialPort>();
}
