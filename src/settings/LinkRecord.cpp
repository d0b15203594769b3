#include "settings/LinkRecord.h"

#include "common/NumberText.h"

bool checkPortText(const QString& text, QString* message)
{
    const double value = parseNumber(text);
    if (isWholeNumberText(text) && value >= kLowestTcpPort && value <= kHighestTcpPort)
        return true;
    if (message)
        *message = QStringLiteral("The load's TCP port \"%1\" is not a whole number from %2 to %3.")
                       .arg(text)
                       .arg(kLowestTcpPort)
                       .arg(kHighestTcpPort);
    return false;
}

int portOf(const QString& text)
{
    return checkPortText(text) ? roundToInt(parseNumber(text)) : 0;
}

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
