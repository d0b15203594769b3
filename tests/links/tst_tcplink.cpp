// The TCP link on loopback: reply framing, dropped leftovers, the connect loop, a lost socket.

#include "LinkTestSupport.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

constexpr int kInstrument = 1;

// The load's side of a loopback connection: records what arrives and answers each command line
// through a script.
class LoopbackLoad : public QObject
{
public:
    LoopbackLoad()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* accepted = server.nextPendingConnection()) {
                ++connections;
                peer = accepted;
                QObject::connect(accepted, &QTcpSocket::readyRead, this, [this, accepted] {
                    const QByteArray data = accepted->readAll();
                    received += data;
                    pending += data;
                    for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
                        const QByteArray line = pending.left(end);
                        pending.remove(0, end + 1);
                        if (answer)
                            answer(accepted, line);
                    }
                });
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    QTcpSocket* peer = nullptr;
    int connections = 0;
    QByteArray received;
    QByteArray pending;
    std::function<void(QTcpSocket*, const QByteArray&)> answer;
};

// Processes events until `done` holds (or a generous real-time bound passes).
bool settle(const std::function<bool()>& done)
{
    SystemClock real;
    return WaitUntil(real, 5000, done);
}

struct TcpFixture
{
    TcpFixture()
    {
        LinkRecord& rec = f.station->LinkRecords[kInstrument];
        rec.ConnectMode = kConnectTcp;
        rec.IP = QStringLiteral("127.0.0.1");
        rec.PORT = load.port();
    }
    LinkLayer& links() { return f.station->links(); }
    bool connect()
    {
        links().LoadConnect(kInstrument);
        return links().tcpConnected() && settle([this] { return load.peer != nullptr; });
    }
    double clockMsSince(double start) const { return f.clock.monotonicMs() - start; }

    StationFixture f;
    LoopbackLoad load;
};

// A loopback port where nothing listens.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TcpLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void query_sendsLine_andReadsReply_data() { addReplyFramingRows(QStringLiteral("12.5")); }
    void query_sendsLine_andReadsReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, rest);
        QFETCH(QString, expected);
        TcpFixture t;
        t.f.clock.setSpeed(200); // the 10 s window of an unended reply passes in 50 ms
        t.load.answer = [&](QTcpSocket* peer, const QByteArray&) {
            peer->write(reply);
            peer->flush();
            QTimer::singleShot(20, peer, [peer, rest] { peer->write(rest); });
        };
        QVERIFY(t.connect());
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().ReadReply(kInstrument), expected);
        QCOMPARE(t.load.received, QByteArray("MEAS:VOLT?\n"));
        if (!(reply + rest).endsWith('\n'))
            QVERIFY(t.clockMsSince(start) >= 10000);
        QVERIFY(t.f.prompts.shown.empty());
    }

    void leftoverData_isDroppedWhenTheNextCommandGoes()
    {
        TcpFixture t;
        t.load.answer = [](QTcpSocket* peer, const QByteArray& line) {
            if (line == "MEAS:VOLT?") {
                peer->write("1.5\r\nextra\r\n");
                peer->flush();
                QTimer::singleShot(20, peer, [peer] { peer->write("late\r\n"); });
            } else {
                peer->write("3.5\r\n");
            }
        };
        QVERIFY(t.connect());
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(t.links().ReadReply(kInstrument), QStringLiteral("1.5"));
        DelayMs(t.f.clock, 100); // "late" arrives meanwhile
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:CURR?"));
        QCOMPARE(t.links().ReadReply(kInstrument), QStringLiteral("3.5"));

        // Data that reached the station's socket while it processed no events goes too.
        t.load.peer->write("junk\r\n");
        QVERIFY(t.load.peer->waitForBytesWritten(1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:POW?"));
        QCOMPARE(t.links().ReadReply(kInstrument), QStringLiteral("3.5"));
        QCOMPARE(t.load.received, QByteArray("MEAS:VOLT?\nMEAS:CURR?\nMEAS:POW?\n"));
    }

    void noReply_waitsTenSeconds_thenErrRec()
    {
        TcpFixture t;
        t.f.clock.setSpeed(200);
        QVERIFY(t.connect());
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().ReadReplyTimeout(kInstrument, 1), kErrRec); // TCP keeps its 10 s
        QVERIFY(t.clockMsSince(start) >= 10000);
    }

    void replyLongerThanTheWindow_isAwaitedForTheGivenTime()
    {
        // A pulse-load result after a sequence of 15 s: past the 10 s window, within its own.
        TcpFixture t;
        t.f.clock.setSpeed(10);
        t.load.answer = [](QTcpSocket* peer, const QByteArray&) {
            QTimer::singleShot(1500, peer, [peer] { peer->write("NG,11.2,20\n"); });
        };
        QVERIFY(t.connect());
        t.links().SendCommand(kInstrument, QStringLiteral("DYNC ON"));
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().ReadReplyTimeout(kInstrument, 30), QStringLiteral("NG,11.2,20"));
        QVERIFY(t.clockMsSince(start) >= 10000);
        QVERIFY(t.clockMsSince(start) < 30000);
    }

    void connectWhereNothingListens_givesUpWithConnectFail()
    {
        TcpFixture t;
        t.f.station->LinkRecords[kInstrument].PORT = freePort();
        t.f.clock.setSpeed(200);
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().LoadConnect(kInstrument), 0);
        QVERIFY(t.clockMsSince(start) >= 10000);
        QVERIFY2(t.clockMsSince(start) < 60000, "gives up after about ten seconds");
        QVERIFY(!t.links().tcpConnected());
        QCOMPARE(t.links().connectFailure(kInstrument), QStringLiteral("connection refused"));
        QVERIFY(t.f.prompts.shown.empty()); // the link layer reports; the run tells
    }

    void connectToAPortOutsideTheRange_failsAtOnce_withARecord()
    {
        TcpFixture t;
        t.f.station->LinkRecords[kInstrument].PORT = 70000;
        t.f.clock.setSpeed(0); // no time passes: nothing is tried
        t.links().LoadConnect(kInstrument);
        QCOMPARE(t.links().connectFailure(kInstrument),
                 QStringLiteral("port 70000 is outside 1 to 65535"));
        QVERIFY2(t.links().LastErrorRecord().endsWith(
                     QStringLiteral(",105,TCP/IP port 70000 of 127.0.0.1 is outside 1 to 65535")),
                 qPrintable(t.links().LastErrorRecord()));
        QCOMPARE(t.load.connections, 0);
    }

    void connect_retriesUntilTheLoadListens()
    {
        TcpFixture t;
        const quint16 port = freePort();
        t.f.station->LinkRecords[kInstrument].PORT = port;
        // The load comes up 300 ms late, in another thread: the connect loop runs no events.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        std::thread late([listener, port] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const int on = 1;
            ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(port);
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                ::listen(listener, 4);
        });
        t.links().LoadConnect(kInstrument);
        late.join();
        QVERIFY(t.links().tcpConnected());
        QVERIFY(t.f.prompts.shown.empty());
        t.links().LinkClose(kInstrument);
        ::close(listener);
    }

    void loadConnect_onConnectedSocket_doesNothing()
    {
        TcpFixture t;
        QVERIFY(t.connect());
        t.links().LoadConnect(kInstrument);
        t.links().LoadConnect(kInstrument);
        DelayMs(t.f.clock, 100);
        QCOMPARE(t.load.connections, 1);
        QCOMPARE(t.load.peer->state(), QAbstractSocket::ConnectedState);
        QVERIFY(t.f.prompts.shown.empty());
    }

    void droppedSocket_isLostAndEndsTheReplyWait_data()
    {
        QTest::addColumn<bool>("duringTheWait");
        QTest::newRow("before the command") << false;
        QTest::newRow("during the reply wait") << true;
    }
    void droppedSocket_isLostAndEndsTheReplyWait()
    {
        QFETCH(bool, duringTheWait);
        TcpFixture t;
        if (duringTheWait)
            t.load.answer = [](QTcpSocket* peer, const QByteArray&) { peer->abort(); };
        QVERIFY(t.connect());
        if (!duringTheWait) {
            t.load.peer->close();
            QVERIFY(settle([&] { return !t.links().tcpConnected(); }));
        }
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().ReadReply(kInstrument), QString());
        QVERIFY2(t.clockMsSince(start) < 10000, "a dropped socket ends the wait");
        QVERIFY(t.links().linkLost(kInstrument));
        QVERIFY2(t.links().LastErrorRecord().contains(",106,TCP/IP connection to 127.0.0.1:"),
                 qPrintable(t.links().LastErrorRecord()));
        QVERIFY(t.f.prompts.shown.empty());
        // Opening the link again ends the loss.
        QVERIFY(t.connect());
        QVERIFY(!t.links().linkLost(kInstrument));
    }

    void linkClose_closesTheSocket_andTheNextConnectOpensAnew()
    {
        TcpFixture t;
        QVERIFY(t.connect());
        QTcpSocket* first = t.load.peer;
        t.links().LinkClose(kInstrument);
        QVERIFY(!t.links().tcpConnected());
        QVERIFY(settle([&] { return first->state() == QAbstractSocket::UnconnectedState; }));
        QVERIFY(t.connect());
        QVERIFY(settle([&] { return t.load.connections == 2; }));
        t.links().SendCommand(kInstrument, QStringLiteral("SYST:REM"));
        QVERIFY(settle([&] { return t.load.received == "SYST:REM\n"; }));
    }
};

ACL3_TEST_MAIN(TcpLinkTest)
#include "tst_tcplink.moc"
