#include "support/SimStation.h"

#include "links/LinkLayer.h"
#include "settings/IniFile.h"

#include <QElapsedTimer>

#include <QtTest>

SimStation::SimStation(Link link, SourceKind source)
{
    Station& s = *fixture.station;
    if (link == Link::Gpib) {
        thread = std::make_unique<LoadSimulatorThread>(source);
        QString error;
        const quint16 port = sim().listenGpibBridge(0, QHostAddress::LocalHost, &error);
        if (port == 0)
            qFatal("GPIB bridge: %s", qPrintable(error));
        setGpibSimEnvironment(port);
        s.loadLink().ConnectMode = kConnectGpib;
        s.loadLink().GPIBAddress = 5;
        return;
    }
    local = std::make_unique<LoadSimulator>(source);
    QString error;
    if (link == Link::Tcp) {
        const quint16 port = local->listenTcp(0, QHostAddress::LocalHost, &error);
        if (port == 0)
            qFatal("TCP: %s", qPrintable(error));
        useTcpLoad(s, port);
        return;
    }
    const QString device = local->openPty(&error);
    if (device.isEmpty())
        qFatal("pty: %s", qPrintable(error));
    WriteIniString(s.settingsFilePath(), QStringLiteral("Serial Ports"), QStringLiteral("COM1"),
                   device);
    s.loadLink().ConnectMode = kConnectSerial;
    s.loadLink().ComPort = 1;
    s.loadLink().BaudRate = 115200;
}

SimStation::~SimStation()
{
    // The station's links close before the simulator goes.
    fixture.station.reset();
}

namespace {
const QString kSyncMark = QStringLiteral("*SYNC");

// Sends the marker when the link is open; false when there is no link to send it down.
bool sendSyncMark(Station& s)
{
    const bool open = s.links().linkOpen(s.loadInstrument());
    if (open)
        s.links().SendCommand(s.loadInstrument(), kSyncMark);
    return open;
}
} // namespace

QStringList SimStation::received()
{
    const qsizetype marks = sim().lines().count(kSyncMark);
    if (sendSyncMark(station())) {
        QElapsedTimer waited;
        waited.start();
        while (sim().lines().count(kSyncMark) == marks && waited.elapsed() < 10000)
            sim().waitForLines(static_cast<int>(sim().lines().size()) + 1, 100);
    } else {
        // The link is closed (a run ends by closing it): what was sent before the close
        // arrives before the close does, so wait until the load has heard nothing for a while.
        while (sim().waitForLines(static_cast<int>(sim().lines().size()) + 1, 300)) {
        }
    }
    QStringList lines = sim().lines();
    lines.removeAll(kSyncMark);
    return lines;
}

void SimStation::clearReceived()
{
    received();
    sim().clearLog();
}

void ScriptedLoad::sync(Station& station)
{
    const qsizetype marks = received.count(kSyncMark);
    if (!sendSyncMark(station))
        return;
    QTRY_VERIFY_WITH_TIMEOUT(received.count(kSyncMark) > marks, 10000);
    received.removeAll(kSyncMark);
}

void useTcpLoad(Station& station, quint16 port)
{
    station.loadLink().ConnectMode = kConnectTcp;
    station.form.txtIP.setText(QStringLiteral("127.0.0.1"));
    station.form.txtPort.setText(QString::number(port));
}

QStringList resetSequence(bool tcp)
{
    QStringList lines = {"CV:B 0", "CV:A 0", "CR:A 12500", "CR:B 12500", "CP:B 0",  "CP:A 0",
                         "CC:B 0", "CC:A 0", "LIN:B 0",    "LIN:A 0",    "CC AUTO", "LDON 0.8"};
    if (!tcp) // LIN goes only to a load on TCP/IP
        lines.remove(8, 2);
    return lines;
}

ScriptedLoad::ScriptedLoad()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        socket_ = server_.nextPendingConnection();
        connect(socket_, &QTcpSocket::readyRead, this, [this] {
            input_ += socket_->readAll();
            qsizetype nl;
            while ((nl = input_.indexOf('\n')) >= 0) {
                const QString line = QString::fromLatin1(input_.left(nl)).trimmed();
                input_.remove(0, nl + 1);
                received << line;
                if (line.endsWith(QLatin1Char('?')) && !replies_.empty()) {
                    socket_->write(replies_.front().toLatin1() + "\n");
                    replies_.pop_front();
                }
            }
        });
    });
}

void ScriptedLoad::script(const QStringList& replies)
{
    for (const QString& r : replies)
        replies_.push_back(r);
}
