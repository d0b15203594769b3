#include "settings/LinkRecord.h"

QString linkTypeName(int connectMode)
{
    switch (connectMode) {
    case kConnectSerial:
        return QStringLiteral("RS232");
    case kConnectGpib:
        return QStringLiteral("GPIB");
    case kConnectTcp:
        return QStringLiteral("TCPIP");
    default:
        return {};
    }
}
