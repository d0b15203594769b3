// The GPIB link: the exact library calls of a query, a failed open, registration, no library.

#include "links/LinkLayer.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace {

constexpr int kInstrument = 1;

// A station whose GPIB library is the fake one, scripted and recording in a fresh folder.
struct GpibFixture
{
    explicit GpibFixture(int connectMode = kConnectGpib, int address = 7)
    {
        qputenv("ACL3_GPIB_LIBRARY", FAKE_GPIB_LIBRARY);
        qputenv("FAKEGPIB_DIR", scriptDir.path().toLocal8Bit());
        station = std::make_unique<StationFixture>();
        LinkRecord& rec = station->station->LinkRecords[kInstrument];
        rec.ConnectMode = connectMode;
        rec.GPIBAddress = address;
    }

    LinkLayer& links() { return station->station->links(); }
    void script(const char* file, const QByteArray& lines)
    {
        writeFile(QDir(scriptDir.path()).filePath(QString::fromLatin1(file)), lines);
    }
    QStringList calls() const
    {
        const QByteArray text = readFile(QDir(scriptDir.path()).filePath(QStringLiteral("calls")));
        return QString::fromLatin1(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir scriptDir;
    std::unique_ptr<StationFixture> station;
};

} // namespace

class GpibLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv("ACL3_GPIB_LIBRARY"); }

    void query_opensWithRemote_writesCommand_readsTrimmedReply_data()
    {
        QTest::addColumn<int>("connectMode");
        QTest::newRow("ConnectMode 1") << 1;
        QTest::newRow("ConnectMode 5 is GPIB too") << 5;
    }
    void query_opensWithRemote_writesCommand_readsTrimmedReply()
    {
        QFETCH(int, connectMode);
        GpibFixture f(connectMode, 7);
        f.script("replies", "12.5\\r\\n\n13\\n\n7\n5\n");
        QCOMPARE(f.links().LoadConnect(kInstrument), 0);
        QCOMPARE(f.links().gpibDevice(kInstrument), 107);
        f.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(f.links().ReadReply(kInstrument), QStringLiteral("12.5"));
        QCOMPARE(f.links().ReadReply(kInstrument), QStringLiteral("13"));
        // GPIB has no two-character rule: a one-byte reply is a reply, in a long wait too.
        QCOMPARE(f.links().ReadReply(kInstrument), QStringLiteral("7"));
        f.station->clock.setSpeed(1000);
        QCOMPARE(f.links().ReadReplyTimeout(kInstrument, 30), QStringLiteral("5"));
        f.links().LinkClose(kInstrument);
        QCOMPARE(f.links().gpibDevice(kInstrument), 0);
        QCOMPARE(f.calls(), QStringList({
                                QStringLiteral("register vars -> 0"),
                                QStringLiteral("ibdev 0 7 0 11 11 1 -> 107"),
                                QStringLiteral("ibwrt 107 REMOTE"),
                                QStringLiteral("ibwrt 107 MEAS:VOLT?"),
                                QStringLiteral("ibrd 107 256 -> 6"),
                                QStringLiteral("ibrd 107 256 -> 3"),
                                QStringLiteral("ibrd 107 256 -> 1"),
                                QStringLiteral("ibrd 107 256 -> 1"),
                                QStringLiteral("ibonl 107 0"),
                            }));
        // A closed device reads nothing from the bus.
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        QCOMPARE(f.calls().size(), 9);
        QVERIFY(f.station->prompts.shown.empty());
    }

    void addressZero_sendsNothing_andReadsErrRecAtOnce()
    {
        GpibFixture f(kConnectGpib, 0);
        f.station->clock.setSpeed(0); // any wait would never end
        f.links().LoadConnect(kInstrument);
        QCOMPARE(f.links().gpibDevice(kInstrument), 0);
        f.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        QCOMPARE(f.links().ReadReplyTimeout(kInstrument, 5), kErrRec);
        f.links().LinkClose(kInstrument);
        QCOMPARE(f.calls(), QStringList());
    }

    void readThatTransfersNothing_readsOnceMore_thenErrRec()
    {
        GpibFixture f;
        f.script("replies", "\nlate\\n\n9.5\\n\n");
        f.links().LoadConnect(kInstrument);
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        // The late data went with the second read; the next reply is the next one.
        QCOMPARE(f.links().ReadReply(kInstrument), QStringLiteral("9.5"));
        const QStringList calls = f.calls().mid(3);
        QCOMPARE(calls, QStringList({QStringLiteral("ibrd 107 256 -> 0"),
                                     QStringLiteral("ibrd 107 256 -> 5"),
                                     QStringLiteral("ibrd 107 256 -> 4")}));
    }

    void failedOpen_isRetriedOnce_andRemoteFollowsOnlyASuccess_data()
    {
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<int>("device");
        QTest::addColumn<QStringList>("expected");
        const QString failed = QStringLiteral("ibdev 0 7 0 11 11 1 -> -1");
        const QString offline = QStringLiteral("ibonl -1 0");
        QTest::newRow("both fail: -1 stays, no REMOTE")
            << QByteArray("-1\n-1\n") << -1 << QStringList{failed, offline, failed};
        QTest::newRow("the retry opens")
            << QByteArray("-1\n9\n") << 9
            << QStringList{failed, offline, QStringLiteral("ibdev 0 7 0 11 11 1 -> 9"),
                           QStringLiteral("ibwrt 9 REMOTE")};
    }
    void failedOpen_isRetriedOnce_andRemoteFollowsOnlyASuccess()
    {
        QFETCH(QByteArray, answers);
        QFETCH(int, device);
        QFETCH(QStringList, expected);
        GpibFixture f;
        f.script("ibdev", answers);
        f.links().LoadConnect(kInstrument);
        QCOMPARE(f.links().gpibDevice(kInstrument), device);
        QCOMPARE(f.calls(), QStringList{QStringLiteral("register vars -> 0")} + expected);
    }

    void registration_followsTheLibrarysAnswer_data()
    {
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<QStringList>("expected");
        const QString ibdev = QStringLiteral("ibdev 0 7 0 11 11 1 -> 107");
        QTest::newRow("0 registered")
            << QByteArray("0\n") << QStringList{QStringLiteral("register vars -> 0"), ibdev};
        QTest::newRow("1 already: again")
            << QByteArray("1\n0\n")
            << QStringList{QStringLiteral("register vars -> 1"), QStringLiteral("unregister"),
                           QStringLiteral("register vars -> 0"), ibdev};
        QTest::newRow("2 failed") << QByteArray("2\n")
                                  << QStringList{QStringLiteral("register vars -> 2"),
                                                 QStringLiteral("unregister"), ibdev};
        QTest::newRow("3 failed") << QByteArray("3\n")
                                  << QStringList{QStringLiteral("register vars -> 3"),
                                                 QStringLiteral("unregister"), ibdev};
    }
    void registration_followsTheLibrarysAnswer()
    {
        QFETCH(QByteArray, answers);
        QFETCH(QStringList, expected);
        GpibFixture f;
        f.script("register", answers);
        f.links().LoadConnect(kInstrument);
        // The calls go on whatever the registration said, and it happens only once.
        f.links().SendCommand(kInstrument, QStringLiteral("*IDN?"));
        expected << QStringLiteral("ibwrt 107 REMOTE") << QStringLiteral("ibwrt 107 *IDN?");
        QCOMPARE(f.calls(), expected);
    }

    void noLibrary_everyOpenFails_withOneErrorRecord()
    {
        GpibFixture f;
        qputenv("ACL3_GPIB_LIBRARY", "/nonexistent/libnogpib.so");
        f.station->station->LinkRecords[2] = f.station->station->LinkRecords[kInstrument];
        f.links().LoadConnect(kInstrument);
        f.links().LoadConnect(2);
        f.links().LoadConnect(kInstrument);
        QCOMPARE(f.links().gpibDevice(kInstrument), -1);
        QCOMPARE(f.links().gpibDevice(2), -1);
        f.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        f.links().LinkClose(kInstrument);
        const QStringList records = errorRecords(*f.station->station);
        QCOMPARE(records.size(), 1);
        QVERIFY2(records[0].startsWith(QStringLiteral("2026/01/05 08:00:")),
                 qPrintable(records[0]));
        QVERIFY2(records[0].contains(QStringLiteral(",104,No GPIB library found (")),
                 qPrintable(records[0]));
        QVERIFY(records[0].contains(QStringLiteral("/nonexistent/libnogpib.so")));
        QCOMPARE(f.links().LastErrorRecord(), records[0]);
        QVERIFY(f.station->prompts.shown.empty());
        QCOMPARE(f.calls(), QStringList());
    }
};

ACL3_TEST_MAIN(GpibLinkTest)
#include "tst_gpiblink.moc"
