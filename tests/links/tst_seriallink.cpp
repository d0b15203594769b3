// The serial link on a pseudo-terminal: settings, reply framing, and each failure recorded once.

#include "LinkTestSupport.h"
#include "common/Waits.h"
#include "links/LinkLayer.h"
#include "links/SerialPortBinding.h"
#include "station/RunState.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTimer>

#include <termios.h>

namespace {

constexpr int kInstrument = 1;
constexpr int kComPort = 3;

// A station whose instrument 1 is on COM3, which ACL3.INI maps to a pseudo-terminal.
struct SerialFixture
{
    SerialFixture()
    {
        writeFile(f.station->settingsFilePath(),
                  "[Serial Ports]\r\nCOM3=" + pty.slavePath().toLocal8Bit() + "\r\n");
        LinkRecord& rec = f.station->LinkRecords[kInstrument];
        rec.ConnectMode = kConnectSerial;
        rec.ComPort = kComPort;
        rec.BaudRate = 115200;
    }

    LinkLayer& links() { return f.station->links(); }
    QStringList errorRecords() { return ::errorRecords(*f.station); }
    // Opens the port and takes the "REM" it sends.
    bool connect()
    {
        links().LoadConnect(kInstrument);
        return pty.read(4) == "REM\n";
    }
    double clockMsSince(double start) const { return f.clock.monotonicMs() - start; }

    StationFixture f;
    PseudoTerminal pty;
};

// A serial port whose device this user may not open.
class DeniedSerialPort final : public SerialPortBinding
{
public:
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

private:
    QString device_;
};

} // namespace

class SerialLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void comPort_namesDeviceFromSettings_elseTtyS()
    {
        SerialFixture s;
        QCOMPARE(s.links().serialDeviceName(kComPort), s.pty.slavePath());
        QCOMPARE(s.links().serialDeviceName(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(s.links().serialDeviceName(0), QString());
    }

    void open_sendsRemOnce_thenCommandLines()
    {
        SerialFixture s;
        QVERIFY(s.pty.isValid());
        s.links().LoadConnect(kInstrument);
        QVERIFY(s.links().serialPortOpen(kInstrument));
        QCOMPARE(s.pty.readFor(200), QByteArray("REM\n"));
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.pty.readFor(200), QByteArray("MEAS:VOLT?\n"));
        // Opening again closes and reopens the port, and says REM again.
        QVERIFY(s.connect());
        QVERIFY(s.errorRecords().isEmpty());
    }

    void settingsText_isReadOrRefused()
    {
        const auto s = parseSerialSettings(QStringLiteral("115200,n,8,1"));
        QVERIFY(s);
        QCOMPARE(s->rate, 115200);
        QCOMPARE(s->parity, 'n');
        QCOMPARE(s->dataBits, 8);
        QCOMPARE(s->stopBits, 1);
        const auto odd = parseSerialSettings(QStringLiteral("4800,E,7,1.5"));
        QVERIFY(odd);
        QCOMPARE(odd->parity, 'e');
        QCOMPARE(odd->dataBits, 7);
        QCOMPARE(odd->stopBits, 15);
        for (const char* bad : {"0,n,8,1", "-9600,n,8,1", "fast,n,8,1", "9600,x,8,1", "9600,n,9,1",
                                "9600,n,8,3", "9600,n,8", ""})
            QVERIFY2(!parseSerialSettings(QString::fromLatin1(bad)), bad);
    }

    void open_setsRateNoParity8Data1Stop_andRtsCts()
    {
        SerialFixture s;
        s.f.station->LinkRecords[kInstrument].BaudRate = 9600;
        QVERIFY(s.connect());
        termios t{};
        QVERIFY(openTermios(s.pty.slavePath(), &t));
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
        QVERIFY(t.c_cflag & CRTSCTS);
        s.links().LinkClose(kInstrument);
        QVERIFY(!openTermios(s.pty.slavePath(), &t));
    }

    void reply_isTrimmed_orErrRec_data() { addReplyFramingRows(kErrRec); }
    void reply_isTrimmed_orErrRec()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, rest);
        QFETCH(QString, expected);
        SerialFixture s;
        QVERIFY(s.connect());
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.pty.read(11), QByteArray("MEAS:VOLT?\n"));
        s.pty.write(reply);
        QTimer::singleShot(20, [&] { s.pty.write(rest); });
        const double start = s.f.clock.monotonicMs();
        QCOMPARE(s.links().ReadReply(kInstrument), expected);
        // Without a line end the read takes its whole window of 0.1 s.
        if (!(reply + rest).endsWith('\n'))
            QVERIFY(s.clockMsSince(start) >= 100);
    }

    void lateRestOfACutOffReply_isNeverTheNextReply()
    {
        SerialFixture s;
        QVERIFY(s.connect());
        s.links().SendCommand(kInstrument, QStringLiteral("GLOB:MEAS:VOLT?"));
        s.pty.write("230.1,23");
        QCOMPARE(s.links().ReadReply(kInstrument), kErrRec);
        s.links().SendCommand(kInstrument, QStringLiteral("GLOB:MEAS:CURR?"));
        s.pty.write("0.2,230.3,690.6\n10,10,10,30\n");
        QCOMPARE(s.links().ReadReply(kInstrument), QStringLiteral("10,10,10,30"));
    }

    void command_clearsWhatArrivedBefore()
    {
        SerialFixture s;
        QVERIFY(s.connect());
        s.pty.write("stale\r\n");
        DelayMs(s.f.clock, 30); // the port takes it in
        s.pty.write("older\r\n");
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:POW?"));
        QCOMPARE(s.pty.read(10), QByteArray("MEAS:POW?\n"));
        s.pty.write("8.5\r\n");
        QCOMPARE(s.links().ReadReply(kInstrument), QStringLiteral("8.5"));
    }

    void closedPort_readsEmpty_notErrRec()
    {
        SerialFixture s;
        QCOMPARE(s.links().ReadReply(kInstrument), QString());
        QVERIFY(s.connect());
        s.links().LinkClose(kInstrument);
        QVERIFY(!s.links().serialPortOpen(kInstrument));
        s.pty.write("12.5\r\n");
        QCOMPARE(s.links().ReadReply(kInstrument), QString());
        QCOMPARE(s.links().ReadReplyTimeout(kInstrument, 2), QString());
    }

    void command_reopensClosedPort()
    {
        SerialFixture s;
        QVERIFY(s.connect());
        s.links().LinkClose(kInstrument);
        s.links().SendCommand(kInstrument, QStringLiteral("LOAD OFF"));
        QVERIFY(s.links().serialPortOpen(kInstrument));
        QCOMPARE(s.pty.readFor(200), QByteArray("LOAD OFF\n"));
    }

    void failedOpen_writesOneRecord_sendsNothing_andReopenFailsAlike()
    {
        SerialFixture s;
        s.f.station->LinkRecords[kInstrument].BaudRate = 0;
        s.links().LoadConnect(kInstrument);
        QVERIFY(!s.links().serialPortOpen(kInstrument));
        QStringList records = s.errorRecords();
        QCOMPARE(records.size(), 1); // no REM tried after the failed open
        const QRegularExpression format(QStringLiteral(
            R"(^2026/01/05 08:00:\d\d,102,/dev/pts/\d+: invalid settings "0,n,8,1"$)"));
        QVERIFY2(format.match(records[0]).hasMatch(), qPrintable(records[0]));
        QCOMPARE(s.links().LastErrorRecord(), records[0]);

        // SendCommand reopens with the settings the port has, fails, and sends nothing; the
        // same fault again is counted, and the count written when the link is closed.
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.errorRecords().size(), 1);
        s.links().LinkClose(kInstrument);
        records = s.errorRecords();
        QCOMPARE(records.size(), 2);
        QVERIFY2(records[1].endsWith(QStringLiteral("invalid settings \"0,n,8,1\" (2 more times "
                                                    "since 2026/01/05 08:00:00)")),
                 qPrintable(records[1]));
        QCOMPARE(s.pty.readFor(100), QByteArray());
        QVERIFY(s.f.prompts.shown.empty());
    }

    void deniedDevice_atConnect_tellsTheOperatorToJoinTheDialoutGroup()
    {
        SerialFixture s;
        LinkBindings bindings = LinkBindings::system();
        bindings.serialPort = [] { return std::make_unique<DeniedSerialPort>(); };
        LinkLayer links(*s.f.station, bindings);
        links.LoadConnect(kInstrument);
        QCOMPARE(s.f.prompts.messages().size(), 1);
        const QString shown = s.f.prompts.messages().constFirst();
        QVERIFY2(shown.startsWith(QStringLiteral("Connect Fail!\n") + s.pty.slavePath() +
                                  QStringLiteral(": Permission denied\n")),
                 qPrintable(shown));
        QVERIFY2(shown.contains(QStringLiteral("dialout group")), qPrintable(shown));
        // A command's silent reopen only records the fault.
        links.SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.f.prompts.messages().size(), 1);
    }

    void portThatCannotOpen_isRecordedWithItsName_data()
    {
        QTest::addColumn<int>("comPort");
        QTest::addColumn<QString>("record");
        QTest::newRow("no such device") << 40 << ",/dev/ttyS39: ";
        QTest::newRow("no port number") << 0 << "No serial port number is set";
    }
    void portThatCannotOpen_isRecordedWithItsName()
    {
        QFETCH(int, comPort);
        QFETCH(QString, record);
        SerialFixture s;
        s.f.station->LinkRecords[kInstrument].ComPort = comPort;
        s.links().LoadConnect(kInstrument);
        s.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?")); // tries to open it
        QVERIFY(!s.links().serialPortOpen(kInstrument));
        QCOMPARE(s.errorRecords().size(), 1);
        QVERIFY2(s.links().LastErrorRecord().contains(record),
                 qPrintable(s.links().LastErrorRecord()));
    }

    void removedDevice_readsAsClosed_withoutSpinning()
    {
        SerialFixture s;
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
        QVERIFY(!s.links().serialPortOpen(kInstrument));
    }

    void readReplyTimeout_returnsAsSoonAsTheLineEnds()
    {
        SerialFixture s;
        QVERIFY(s.connect());
        QTimer::singleShot(50, [&] { s.pty.write("OK\r\n"); });
        const double start = s.f.clock.monotonicMs();
        QCOMPARE(s.links().ReadReplyTimeout(kInstrument, 30), QStringLiteral("OK"));
        QVERIFY(s.clockMsSince(start) < 30000);
    }

    void readReplyTimeout_acrossMidnight_waitsItsFullTime_andTurnsTheIndicator()
    {
        SerialFixture s;
        QVERIFY(s.connect());
        // The clock stands still and moves a quarter second per tick of a fast timer.
        s.f.clock.setSpeed(0);
        s.f.clock.setNow(QDateTime(QDate(2026, 1, 5), QTime(23, 59, 58)));
        int ticks = 0;
        QTimer stepper;
        QObject::connect(&stepper, &QTimer::timeout, [&] {
            if (++ticks > 200)
                s.f.clock.setSpeed(1e6); // a broken wait still ends
            else
                s.f.clock.advance(0.25);
        });
        stepper.start(1);
        QSet<QString> shown;
        QObject::connect(&s.f.station->form.WorkLabel, &FormValue::changed,
                         [&](const QVariant& v) { shown.insert(v.toString()); });

        const double start = s.f.clock.monotonicMs();
        QCOMPARE(s.links().ReadReplyTimeout(kInstrument, 4), kErrRec);
        const double waited = s.clockMsSince(start);
        stepper.stop();
        QVERIFY2(waited >= 4000 && waited <= 4500, qPrintable(QString::number(waited)));
        QCOMPARE(s.f.clock.now().date(), QDate(2026, 1, 6));
        QCOMPARE(shown, QSet<QString>({WorkText[0], WorkText[1], WorkText[2], WorkText[3]}));
    }

    void errorRecord_createsTestLog_andAFailedWriteStopsNothing()
    {
        SerialFixture s;
        QDir(s.f.station->testLogDir()).removeRecursively();
        s.f.station->LinkRecords[kInstrument].BaudRate = 0;
        s.links().LoadConnect(kInstrument);
        QCOMPARE(s.errorRecords().size(), 1);

        // TestLog is a file now: records cannot be written, the link goes on regardless.
        QDir(s.f.station->testLogDir()).removeRecursively();
        writeFile(s.f.station->testLogDir(), "not a folder");
        s.links().ReadReply(99);
        QVERIFY(s.links().LastErrorRecord().endsWith(
            QStringLiteral(",101,Instrument number 99 is outside 0 to 18")));
        s.f.station->LinkRecords[kInstrument].BaudRate = 9600;
        QVERIFY(s.connect());
        QVERIFY(s.links().serialPortOpen(kInstrument));
    }

    void instrumentOutsideTable_readsErrRec_andIsRecorded()
    {
        SerialFixture s;
        QCOMPARE(s.links().LoadConnect(-1), 0);
        s.links().SendCommand(19, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(s.links().ReadReply(19), kErrRec);
        QCOMPARE(s.links().ReadReplyTimeout(25, 1), kErrRec);
        s.links().LinkClose(19);
        const QStringList records = s.errorRecords();
        QCOMPARE(records.size(), 5);
        QVERIFY(
            records[0].endsWith(QStringLiteral(",101,Instrument number -1 is outside 0 to 18")));
        QVERIFY(
            records[3].endsWith(QStringLiteral(",101,Instrument number 25 is outside 0 to 18")));
    }
};

ACL3_TEST_MAIN(SerialLinkTest)
#include "tst_seriallink.moc"
