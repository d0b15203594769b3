// The GPIB link: the exact library calls of a query, a failed open, registration, no library.

#include "links/LinkLayer.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QRegularExpression>
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
    // The answers of one call of the library, each ended by '|'.
    void script(const char* file, const QString& answers)
    {
        writeFile(QDir(scriptDir.path()).filePath(QString::fromLatin1(file)), answers.toLatin1());
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
        f.script("replies", QStringLiteral("12.5\r\n|13\n|7|5|"));
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
        QCOMPARE(f.calls(), QStringLiteral("register vars -> 0,ibdev 0 7 0 11 11 1 -> 107,"
                                           "ibwrt 107 REMOTE,ibwrt 107 MEAS:VOLT?,"
                                           "ibrd 107 256 -> 6,ibrd 107 256 -> 3,"
                                           "ibrd 107 256 -> 1,ibrd 107 256 -> 1,ibonl 107 0")
                                .split(u','));
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
        f.script("replies", QStringLiteral("|late\n|9.5\n|"));
        f.links().LoadConnect(kInstrument);
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        // The late data went with the second read; the next reply is the next one.
        QCOMPARE(f.links().ReadReply(kInstrument), QStringLiteral("9.5"));
        QCOMPARE(f.calls().mid(3), QStringList({QStringLiteral("ibrd 107 256 -> 0"),
                                                QStringLiteral("ibrd 107 256 -> 5"),
                                                QStringLiteral("ibrd 107 256 -> 4")}));
    }

    // The library's answers to one kind of call, and every call the station then makes.
    void libraryAnswers_decideTheCalls_data()
    {
        addColumns({"file", "answers", "expected"});
        addRows({
            "open fails twice: -1 stays, no REMOTE;ibdev;-1|-1|;register vars -> 0,"
            "ibdev 0 7 0 11 11 1 -> -1,ibonl -1 0,ibdev 0 7 0 11 11 1 -> -1,ibwrt -1 *IDN?",
            "the retry opens;ibdev;-1|9|;register vars -> 0,ibdev 0 7 0 11 11 1 -> -1,"
            "ibonl -1 0,ibdev 0 7 0 11 11 1 -> 9,ibwrt 9 REMOTE,ibwrt 9 *IDN?",
            "0 registered;register;0|;register vars -> 0,ibdev 0 7 0 11 11 1 -> 107,"
            "ibwrt 107 REMOTE,ibwrt 107 *IDN?",
            "1 already: again;register;1|0|;register vars -> 1,unregister,register vars -> 0,"
            "ibdev 0 7 0 11 11 1 -> 107,ibwrt 107 REMOTE,ibwrt 107 *IDN?",
            "2 failed;register;2|;register vars -> 2,unregister,ibdev 0 7 0 11 11 1 -> 107,"
            "ibwrt 107 REMOTE,ibwrt 107 *IDN?",
            "3 failed;register;3|;register vars -> 3,unregister,ibdev 0 7 0 11 11 1 -> 107,"
            "ibwrt 107 REMOTE,ibwrt 107 *IDN?",
        });
    }
    void libraryAnswers_decideTheCalls()
    {
        QFETCH(QString, file);
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        GpibFixture f;
        f.script(qPrintable(file), answers);
        f.links().LoadConnect(kInstrument);
        // The calls go on whatever the registration said, and it happens only once.
        f.links().SendCommand(kInstrument, QStringLiteral("*IDN?"));
        QCOMPARE(f.calls(), expected.split(u','));
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
        QCOMPARE(f.links().connectFailure(2), QStringLiteral("no GPIB library"));
        f.links().SendCommand(kInstrument, QStringLiteral("MEAS:VOLT?"));
        QCOMPARE(f.links().ReadReply(kInstrument), kErrRec);
        f.links().LinkClose(kInstrument);
        const QStringList records = errorRecords(*f.station->station);
        QCOMPARE(records.size(), 1);
        const QRegularExpression expected(QStringLiteral(
            R"(^2026/01/05 08:00:\d\d,104,No GPIB library found \(.*/nonexistent/libnogpib\.so)"));
        QVERIFY2(expected.match(records[0]).hasMatch(), qPrintable(records[0]));
        QCOMPARE(f.links().LastErrorRecord(), records[0]);
        QVERIFY(f.station->prompts.shown.empty());
        QCOMPARE(f.calls(), QStringList());
    }
};

ACL3_TEST_MAIN(GpibLinkTest)
#include "tst_gpiblink.moc"
