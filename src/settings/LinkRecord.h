#pragma once

#include <QString>

#include <array>

// Link kinds of LinkRecord::ConnectMode. The link layer treats every value other than serial and
// TCP/IP as GPIB.
enum ConnectModeValue : int
{
    kConnectSerial = 0,
    kConnectGpib = 1,
    kConnectTcp = 2,
};

// The link parameters of one instrument.
struct LinkRecord
{
    int ConnectMode = kConnectTcp;
    int ComPort = 0;
    int BaudRate = 0;
    int GPIBAddress = 0;
    int ID = 0;           // RS-485 unit address: stored and shown, no command carries it
    int MSCount = 0;      // units in a master/slave group: stored only
    int RS232toRS485 = 0; // stored and shown only
    QString IP;
    int PORT = 0;
};

// Instrument numbers 0 to 18; load channel i uses instrument i + 1. One load channel is served.
inline constexpr int kLinkRecordCount = 19;
inline constexpr int kLoadChannelCount = 9;
inline constexpr int kServedLoadChannels = 1;
using LinkRecordTable = std::array<LinkRecord, kLinkRecordCount>;

// The load's address on a lab network until a program file names another. Tests and demos never
// use it: they talk to loopback only.
inline const QString kDefaultLoadIp = QStringLiteral("192.168.10.100");
inline constexpr int kDefaultLoadPort = 4001;

// A TCP port is a whole number from 1 to 65535. The files keep the port as the text the operator
// typed; a text that is no port is refused where the port is used, with a message that quotes it.
inline constexpr int kLowestTcpPort = 1;
inline constexpr int kHighestTcpPort = 65535;
// Whether a port text is a port; the message quotes the text and says what is wrong.
bool checkPortText(const QString& text, QString* message = nullptr);
// The port a text names, 0 when it names none.
int portOf(const QString& text);

// The link type names shown in the load status grid ("TCPIP", "RS232", "GPIB"); empty for other
// values.
QString linkTypeName(int connectMode);
