// The serial (pseudo-terminal), TCP (loopback) and GPIB (fake library) links, byte and call exact.

#include "LinkPeers.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "links/SerialPortBinding.h"
#include "station/RunState.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <termios.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

constexpr int kInstrument = 1;
constexpr int kComPort = 3;

// A station whose instrument 1 is on COM3, which ACL3.INI maps to a pseudo-terminal, on a
// loopback load, or at GPIB address 7 of the fake library, scripted and recording in a folder.
struct LinkFixture
{
    explicit LinkFixture(int connectMode = kConnectSerial)
    {
        load.listen(QHostAddress::LocalHost);
        QObject::connect(&load, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* accepted = load.nextPendingConnection()) {
                peer = accepted;
                QObject::connect(accepted, &QTcpSocket::readyRead,
                                 [this, accepted] { received += accepted->readAll(); });
            }
        });
        qputenv("ACL3_GPIB_LIBRARY", FAKE_GPIB_LIBRARY);
        qputenv("FAKEGPIB_DIR", gpibDir.path().toLocal8Bit());
        writeFile(f.station->settingsFilePath(),
                  "[Serial Ports]\r\nCOM3=" + pty.slavePath().toLocal8Bit() + "\r\n");
        LinkRecord& rec = record();
        rec.ConnectMode = connectMode;
        rec.ComPort = kComPort;
        rec.BaudRate = 115200;
        rec.IP = QStringLiteral("127.0.0.1");
        rec.PORT = load.serverPort();
        rec.GPIBAddress = 7;
    }

    LinkRecord& record() { return f.station->LinkRecords[kInstrument]; }
    bool tcp() { return record().ConnectMode == kConnectTcp; }
    LinkLayer& links() { return own ? *own : f.station->links(); }
    QStringList errorRecords() { return ::errorRecords(*f.station); }
    // Opens the link; a serial port says "REM" first.
    bool connect()
    {
        links().LoadConnect(kInstrument);
        if (tcp())
            return links().tcpConnected() && QTest::qWaitFor([this] { return peer != nullptr; });
        return sent(4) == "REM\n";
    }
    // The next `bytes` bytes the instrument got (fewer when no more come).
    QByteArray sent(qsizetype bytes)
    {
        if (!tcp())
            return pty.read(static_cast<int>(bytes));
        (void)QTest::qWaitFor([&] { return received.size() >= bytes; }); // fewer: compared
        const QByteArray got = received.left(bytes);
        received.remove(0, bytes);
        return got;
    }
    // The instrument writes `bytes`; they reach the station's side before this returns.
    void reply(const QByteArray& bytes)
    {
        if (!tcp())
            return pty.write(bytes);
        peer->write(bytes);
        peer->waitForBytesWritten(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    double clockMsSince(double start) const { return f.clock.monotonicMs() - start; }
    // The answers of one call of the fake GPIB library, each ended by '|'.
    void script(const char* file, const QString& answers)
    {
        writeFile(QDir(gpibDir.path()).filePath(QString::fromLatin1(file)), answers.toLatin1());
    }
    QStringList calls() const
    {
        const QByteArray text = readFile(QDir(gpibDir.path()).filePath(QStringLiteral("calls")));
        return QString::fromLatin1(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // The instrument's ends outlive the station, which closes its links first.
    PseudoTerminal pty;
    QTcpServer load; // the load's side of a loopback connection: the last one, what arrived
    QTcpSocket* peer = nullptr;
    QByteArray received;
    QTemporaryDir gpibDir;
    StationFixture f;
    std::unique_ptr<LinkLayer> own;
};

// A serial port whose device this user may not open.
struct DeniedSerialPort final : public SerialPortBinding
{
    void configure(const QString& device, const QString&) override { device_ = device; }
    QString device() const override { return device_; }
    bool open(LinkFault* fault) override
    {
        *fault = {QSerialPort::PermissionError, device_ + QStringLiteral(": Permission denied")};
        return false;
    }
    void close() override {}
    bool isOpen() override { return false; }
    void clearInput() override {}
    bool write(const QByteArray&, LinkFault*) override { return false; }
    QByteArray readAvailable() override { return {}; }
    void setLossHandler(std::function<void(const LinkFault&)>) override {}
    QString device_;
};

} // namespace

class LinksTest : public QObject
{
    Q_OBJECT

private slots:
    void open_setsRateNoParity8Data1Stop_andRtsCts()
    {
        LinkFixture s;
        s.record().BaudRate = 9600;
        QVERIFY(s.connect());
        termios t{}; // the master reads the settings its slave was given
        QVERIFY(::tcgetattr(s.pty.masterFd(), &t) == 0);
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
        QVERIFY(t.c_cflag & CRTSCTS);
    }

    void reply_isTheTrimmedLine_orErrRec_data()
    {
        addColumns({"reply", "rest", "overSerial", "overTcp"}); // rest: written 20 ms later
        // TCP takes what came when its window ends; serial has no reply then.
        addRows({"CR LF;12.5\r\n;;12.5;12.5", "LF;12.5\n;;12.5;12.5",
                 "no terminator;12.5;;ErrRec;12.5", "one character;7;;ErrRec;ErrRec",
                 "one character and LF;7\n;;7;7", "nothing;;;ErrRec;ErrRec",
                 "in two pieces;3.1;25\r\n;3.125;3.125", "CR inside stays;A\rB\n;;A\rB;A\rB"});
    }
    void reply_isTheTrimmedLine_orErrRec()
    {
        QFETCH(QString, reply);
        QFETCH(QString, rest);
        QFETCH(QString, overSerial);
        QFETCH(QString, overTcp);
        for (const bool tcp : {false, true}) {
            LinkFixture t(tcp ? kConnectTcp : kConnectSerial);
            t.f.clock.setSpeed(tcp ? 200 : 1); // the 10 s TCP window passes in 50 ms
            QVERIFY(t.connect());
            t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
            QCOMPARE(t.sent(11), QByteArray("MEAS:VOLT?\n"));
            t.reply(reply.toLatin1());
            QTimer::singleShot(20, &t.load, [&] { t.reply(rest.toLatin1()); });
            const double start = t.f.clock.monotonicMs();
            QCOMPARE(t.links().ReadReply(kInstrument), tcp ? overTcp : overSerial);
            // Without a line end the read takes its whole window.
            if (!(reply + rest).endsWith(u'\n'))
                QVERIFY(t.clockMsSince(start) >= (tcp ? 10000 : 100));
        }
    }

    void leftovers_andTheRestOfACutOffLine_areDroppedWhenTheNextCommandGoes()
    {
        for (const bool tcp : {false, true}) {
            LinkFixture t(tcp ? kConnectTcp : kConnectSerial);
            QVERIFY(t.connect());
            if (tcp) {
                t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
                t.reply("1.5\r\nextra\r\n");
                QCOMPARE(t.links().ReadReply(kInstrument), QStringLiteral("1.5"));
            }
            t.reply("stale\r\n");
            DelayMs(t.f.clock, 30); // the station takes it in
            t.reply("unread\r\n");  // reaches the station while it processes no events
            t.links().SendCommand(kInstrument, QStringLiteral("MEAS:POW?"));
            t.reply("8.5\r\n");
            QCOMPARE(t.links().ReadReply(kInstrument), QStringLiteral("8.5"));
            const QByteArray commands(tcp ? "MEAS:VOLT?\nMEAS:POW?\n" : "MEAS:POW?\n");
            QCOMPARE(t.sent(commands.size()), commands);
        }
        // The late rest of a serial line cut off by its window is never the next reply, nor does
        // it take the next reply with it when the rest is only the line end.
        for (const char* rest : {"0.2,230.3,690.6\n", "\n"}) {
            LinkFixture s;
            QVERIFY(s.connect());
            s.links().SendCommand(kInstrument, QStringLiteral("GLOB:MEAS:VOLT?"));
            s.pty.write("230.1,23");
            QCOMPARE(s.links().ReadReply(kInstrument), kErrRec);
            s.links().SendCommand(kInstrument, QStringLiteral("GLOB:MEAS:CURR?"));
            s.pty.write(QByteArray(rest) + "10,10,10,30\n");
            QCOMPARE(s.links().ReadReply(kInstrument), QStringLiteral("10,10,10,30"));
        }
    }

    void replyTimeout_waitsAtLeastTheLinksWindow_andEndsWithTheLine_data()
    {
        // The clock's speed, when "OK" comes (real ms, -1 never), the wait given, the least and
        // the most it may take on the clock (ms), and the result.
        addColumns({"link", "times", "expected"});
        addRows({"serial, a line ends the wait;serial;1 50 30 0 29000;OK",
                 "serial, its full time across midnight;serial;0 -1 4 4000 4500;ErrRec",
                 "TCP keeps its 10 s for a shorter time;TCP;200 -1 1 10000 60000;ErrRec",
                 // A pulse-load result after a sequence of 15 s: past the 10 s window.
                 "TCP waits longer when told;TCP;10 1500 30 10000 29000;OK"});
    }
    void replyTimeout_waitsAtLeastTheLinksWindow_andEndsWithTheLine()
    {
        QFETCH(QString, link);
        QFETCH(QString, times);
        QFETCH(QString, expected);
        const QStringList n = times.split(u' ');
        LinkFixture t(link == QLatin1String("TCP") ? kConnectTcp : kConnectSerial);
        QVERIFY(t.connect());
        t.links().SendCommand(kInstrument, QStringLiteral("DYNC ON"));
        t.f.clock.setSpeed(n[0].toDouble());
        // At speed 0 the clock stands before midnight and moves 0.25 s per tick of a fast timer.
        QTimer stepper;
        QObject::connect(&stepper, &QTimer::timeout, [&] { t.f.clock.advance(0.25); });
        if (n[0] == QLatin1String("0")) {
            t.f.clock.setNow(QDateTime(QDate(2026, 1, 5), QTime(23, 59, 58)));
            stepper.start(1);
        }
        if (n[1].toInt() >= 0)
            QTimer::singleShot(n[1].toInt(), &t.load, [&] { t.reply("OK\r\n"); });
        const double start = t.f.clock.monotonicMs();
        QCOMPARE(t.links().ReadReplyTimeout(kInstrument, n[2].toDouble()), expected);
        const double waited = t.clockMsSince(start);
        QVERIFY2(waited >= n[3].toDouble() && waited <= n[4].toDouble(),
                 qPrintable(QString::number(waited)));
    }

    void failedConnect_isRecordedOnce_andSendsNothing_data()
    {
        // The error log after the connect, two commands and the close; the prompts shown.
        addColumns({"link", "fault", "failure", "records", "prompt"});
        addRows({
            R"(settings refused;serial;BaudRate=0;/dev/pts/N: invalid settings "0,n,8,1";)"
            R"(^2026/01/05 08:00:\d\d,102,/dev/pts/\d+: invalid settings "0,n,8,1"\n)"
            R"([^\n]*,102,[^\n]*"0,n,8,1" \(2 more times since 2026/01/05 08:00:00\)$;^$)",
            R"(no such device;serial;ComPort=40;device not found;)"
            R"(^[^\n]*,/dev/ttyS39: [^\n]*\n[^\n]*\(2 more times since [^\n]*$;^$)",
            R"(no port number;serial;ComPort=0;no serial port set;)"
            R"(^[^\n]*,No serial port number is set\n[^\n]*\(1 more times since [^\n]*$;^$)",
            R"(not in dialout;serial;denied;permission denied;)"
            R"(^[^\n]*,/dev/pts/\d+: Permission denied\n[^\n]*\(2 more times since [^\n]*$;)"
            R"(^Connect Fail!\n/dev/pts/\d+: Permission denied\n[^|]*dialout group[^|]*$)",
            R"(nothing listens;TCP;PORT=free;connection refused;^$;^$)",
            R"(port out of range;TCP;PORT=70000;port 70000 is outside 1 to 65535;)"
            R"(^[^\n]*,105,TCP/IP port 70000 of 127.0.0.1 is outside 1 to 65535$;^$)",
        });
    }
    void failedConnect_isRecordedOnce_andSendsNothing()
    {
        QFETCH(QString, link);
        QFETCH(QString, fault);
        QFETCH(QString, failure);
        QFETCH(QString, records);
        QFETCH(QString, prompt);
        LinkFixture t(link == QLatin1String("TCP") ? kConnectTcp : kConnectSerial);
        const int value =
            fault.endsWith(QLatin1String("=free")) ? stationPort() : fault.section(u'=', 1).toInt();
        if (fault.startsWith(QLatin1String("BaudRate=")))
            t.record().BaudRate = value;
        else if (fault.startsWith(QLatin1String("ComPort=")))
            t.record().ComPort = value;
        else if (fault.startsWith(QLatin1String("PORT=")))
            t.record().PORT = value;
        if (fault == QLatin1String("denied")) {
            LinkBindings bindings = LinkBindings::system();
            bindings.serialPort = [] { return std::make_unique<DeniedSerialPort>(); };
            t.own = std::make_unique<LinkLayer>(*t.f.station, bindings);
        }
        // No time passes unless the connect loop is meant to take its 10 s.
        const bool refused = fault == QLatin1String("PORT=free");
        t.f.clock.setSpeed(refused ? 200 : 0);
        const double start = t.f.clock.monotonicMs();
        t.links().LoadConnect(kInstrument);
        QVERIFY(t.clockMsSince(start) >= (refused ? 10000 : 0) && t.clockMsSince(start) < 60000);
        QCOMPARE(t.links().connectFailure(kInstrument),
                 failure.replace(QLatin1String("/dev/pts/N"), t.pty.slavePath()));
        // A command's silent reopen of a serial port fails alike: counted, not written again.
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        t.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QVERIFY(!t.links().linkOpen(kInstrument));
        t.links().LinkClose(kInstrument);
        const auto matches = [](const QString& pattern, const QString& text) {
            return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
                .match(text)
                .hasMatch();
        };
        const QString log = t.errorRecords().join(u'\n');
        QVERIFY2(matches(records, log), qPrintable(log));
        QVERIFY2(matches(prompt, t.f.prompts.messages().join(u'|')), qPrintable(prompt));
        QCOMPARE(t.pty.readFor(50), QByteArray());
    }

    void removedSerialDevice_readsAsClosed_withoutSpinning()
    {
        LinkFixture s;
        QVERIFY(s.connect());
        s.pty.hangUp();
        // The first wait notices the loss, records it and closes the port.
        const double start = s.f.clock.monotonicMs();
        QCOMPARE(s.links().ReadReplyTimeout(kInstrument, 5), QString());
        QVERIFY2(s.clockMsSince(start) < 4000, "the read ends when the device goes");
        QVERIFY(!s.links().serialPortOpen(kInstrument));
        QCOMPARE(s.errorRecords().size(), 1);
        QVERIFY(s.links().LastErrorRecord().contains(s.pty.slavePath()));
        QCOMPARE(s.links().ReadReply(kInstrument), QString());

        // Nothing keeps polling the dead device while the station waits.
        const double cpuBefore = threadCpuSeconds();
        DelayMs(s.f.clock, 500);
        QVERIFY2(threadCpuSeconds() - cpuBefore < 0.25, "a lost port must not keep the CPU busy");

        // A lost device is not tried again on each command: nothing more is recorded.
        QVERIFY(s.links().linkLost(kInstrument));
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.errorRecords().size(), 1);
    }

    void commandOpensTheClosedPort_andAFailedRecordWriteStopsNothing()
    {
        LinkFixture s;
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?")); // reopens: no REM
        QCOMPARE(s.pty.read(11), QByteArray("MEAS:VOLT?\n"));
        QDir(s.f.station->testLogDir()).removeRecursively(); // the first record makes it again
        s.links().ReadReply(99);
        QCOMPARE(s.errorRecords().size(), 1);
        // TestLog is a file now: records cannot be written, the link goes on regardless.
        QDir(s.f.station->testLogDir()).removeRecursively();
        writeFile(s.f.station->testLogDir(), "not a folder");
        s.links().ReadReply(99);
        QVERIFY(s.links().LastErrorRecord().endsWith(
            QStringLiteral(",101,Instrument number 99 is outside 0 to 18")));
        QVERIFY(s.connect());
    }

    void tcpConnect_retriesUntilTheLoadListens_andLinkCloseEndsIt()
    {
        LinkFixture t(kConnectTcp);
        // The load comes up 300 ms late: the connect loop tries again meanwhile.
        t.load.close();
        QTimer::singleShot(300, &t.load, [&] {
            t.load.listen(QHostAddress::LocalHost, static_cast<quint16>(t.record().PORT));
        });
        QVERIFY(t.connect());
        QTcpSocket* first = t.peer;
        t.links().LinkClose(kInstrument);
        QVERIFY(!t.links().tcpConnected());
        QVERIFY(
            QTest::qWaitFor([&] { return first->state() == QAbstractSocket::UnconnectedState; }));
    }

    void gpib_libraryAnswers_decideTheCallsAndTheReplies_data()
    {
        // The fake library's script ("file=answers"), the replies read (the last in a long wait)
        // and every call the station makes up to the close.
        addColumns({"mode", "address", "script", "replies", "calls"});
        // OPEN n: the library opened address 7 as n; QUERY n: REMOTE, then the command to n.
        addRows({
            "ConnectMode 1;1;7;replies=12.5\r\n|7|5|;12.5,7,5;register vars -> 0,OPEN 107,"
            "QUERY 107,ibrd 107 256 -> 6,ibrd 107 256 -> 1,ibrd 107 256 -> 1,ibonl 107 0",
            "ConnectMode 5 is GPIB too;5;7;replies=13\n|;13;register vars -> 0,OPEN 107,"
            "QUERY 107,ibrd 107 256 -> 3,ibonl 107 0",
            "address 0 sends nothing;1;0;;ErrRec,ErrRec;",
            "a read of nothing reads once more;1;7;replies=|late\n|9.5\n|;ErrRec,9.5;"
            "register vars -> 0,OPEN 107,QUERY 107,ibrd 107 256 -> 0,ibrd 107 256 -> 5,"
            "ibrd 107 256 -> 4,ibonl 107 0",
            "open fails twice: no REMOTE;1;7;ibdev=-1|-1|;;register vars -> 0,OPEN -1,"
            "ibonl -1 0,OPEN -1,ibwrt -1 MEAS:VOLT?,ibonl -1 0",
            "the retry opens;1;7;ibdev=-1|9|;;register vars -> 0,OPEN -1,ibonl -1 0,OPEN 9,"
            "QUERY 9,ibonl 9 0",
            "1 registered already: again;1;7;register=1|0|;;register vars -> 1,unregister,"
            "register vars -> 0,OPEN 107,QUERY 107,ibonl 107 0",
            "2 failed;1;7;register=2|;;register vars -> 2,unregister,OPEN 107,QUERY 107,ibonl 107 "
            "0",
            "3 failed;1;7;register=3|;;register vars -> 3,unregister,OPEN 107,QUERY 107,ibonl 107 "
            "0",
        });
    }
    void gpib_libraryAnswers_decideTheCallsAndTheReplies()
    {
        QFETCH(QString, mode);
        QFETCH(QString, address);
        QFETCH(QString, script);
        QFETCH(QString, replies);
        QFETCH(QString, calls);
        LinkFixture f(mode.toInt());
        f.record().GPIBAddress = address.toInt();
        if (script.startsWith(QLatin1String("library="))) {
            qputenv("ACL3_GPIB_LIBRARY", script.section(u'=', 1).toLocal8Bit());
            f.links().LoadConnect(kInstrument); // the next open fails alike, unrecorded
        } else if (!script.isEmpty())
            f.script(qPrintable(script.section(u'=', 0, 0)), script.section(u'=', 1));
        f.links().LoadConnect(kInstrument);
        f.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        const QStringList expected = replies.split(u',', Qt::SkipEmptyParts);
        QStringList read;
        while (read.size() + 1 < expected.size())
            read << f.links().ReadReply(kInstrument);
        // GPIB has no two-character rule: a one-byte reply is a reply, in a long wait too.
        f.f.clock.setSpeed(1000);
        if (!expected.isEmpty())
            read << f.links().ReadReplyTimeout(kInstrument, 30);
        QCOMPARE(read, expected);
        f.links().LinkClose(kInstrument);
        // A closed device reads nothing from the bus.
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        calls.replace(QRegularExpression(QStringLiteral("OPEN (-?\\d+)")),
                      QStringLiteral("ibdev 0 7 0 11 11 1 -> \\1"));
        calls.replace(QRegularExpression(QStringLiteral("QUERY (\\d+)")),
                      QStringLiteral("ibwrt \\1 REMOTE,ibwrt \\1 MEAS:VOLT?"));
        QCOMPARE(f.calls(), calls.split(u',', Qt::SkipEmptyParts));
        QVERIFY(f.f.prompts.shown.empty());
        const QStringList missing = f.errorRecords().filter(QStringLiteral(",104,"));
        QCOMPARE(missing.size(), script.startsWith(QLatin1String("library=")) ? 1 : 0);
    }
};

ACL3_TEST_MAIN(LinksTest)
#include "tst_links.moc"
