// The acl3-loadsim program: its help, its refusals, and a run over its links with a log file.

#include "LineClient.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {
const QString kProgram = QStringLiteral(ACL3_LOADSIM_PROGRAM);

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runToEnd(const QStringList& arguments)
{
    QProcess process;
    process.start(kProgram, arguments);
    process.waitForFinished(10000);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// The next line the running program prints, without its LF.
QString nextLine(QProcess& process)
{
    while (!process.canReadLine() && process.waitForReadyRead(5000)) {
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}
} // namespace

class LoadSimCliTest : public QObject
{
    Q_OBJECT

private slots:
    void help_isPrintedAndExitsWithZero()
    {
        const Run run = runToEnd({"--help"});
        QCOMPARE(run.exitCode, 0);
        for (const char* text :
             {"--gpib-bridge <[ADDR:]PORT>", "--fault-count <N>", "ACL3_GPIBSIM"})
            QVERIFY2(run.out.contains(QLatin1String(text)), text);
    }

    void badOptions_areRefusedWithAClearMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no transport") << QStringList{} << "no transport";
        QTest::newRow("port too big") << QStringList{"--tcp", "70000"} << "port from 0 to 65535";
        QTest::newRow("bad address")
            << QStringList{"--tcp", "nowhere:5025"} << "\"nowhere\" is not an IPv4 address";
        QTest::newRow("source") << QStringList{"--serial", "--source", "solar"}
                                << "neither ac nor battery";
        QTest::newRow("speed") << QStringList{"--serial", "--speed", "0"}
                               << "--speed: must be above 0";
        QTest::newRow("number") << QStringList{"--serial", "--capacity", "lots"}
                                << "--capacity: \"lots\" is not a number";
        QTest::newRow("battery") << QStringList{"--serial", "--full-volts", "2"}
                                 << "full voltage must be above its empty voltage";
        QTest::newRow("delay") << QStringList{"--serial", "--delay", "-5"}
                               << "--delay: \"-5\" is not a whole number";
        QTest::newRow("two forms") << QStringList{"--serial", "--no-reply", "--garbage"}
                                   << "--no-reply, --garbage exclude each other";
        QTest::newRow("log") << QStringList{"--serial", "--log", "/no/such/dir/sim.log"}
                             << "cannot write the log file /no/such/dir/sim.log";
        QTest::newRow("after drop") << QStringList{"--serial", "--after-drop", "later"}
                                    << "--after-drop: \"later\" is none of accept, refuse, silent";
        QTest::newRow("argument") << QStringList{"--serial", "extra"} << "unexpected argument";
    }

    void badOptions_areRefusedWithAClearMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run run = runToEnd(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("acl3-loadsim: ") && run.err.contains(message),
                 qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }

    void aRun_servesItsLinksWithTheGivenSourceFaultsAndLog()
    {
        QTemporaryDir dir;
        const QString logPath = dir.filePath("sim.log");
        QProcess process;
        process.start(kProgram,
                      {"--tcp", "0", "--serial", "--gpib-bridge", "127.0.0.1:0", "--source",
                       "battery", "--full-volts", "12.6", "--empty-volts", "10", "--single-field",
                       "--fault-only", "GLOB:MEAS:VOLT?", "--log", logPath});
        QVERIFY(process.waitForStarted());
        const QRegularExpressionMatch tcp =
            QRegularExpression("^tcp: 127\\.0\\.0\\.1:(\\d+)$").match(nextLine(process));
        QVERIFY(tcp.hasMatch());
        const QRegularExpressionMatch serial =
            QRegularExpression("^serial: (/dev/\\S+)$").match(nextLine(process));
        QVERIFY(serial.hasMatch());
        QVERIFY(QRegularExpression("^gpib-bridge: 127\\.0\\.0\\.1:\\d+$")
                    .match(nextLine(process))
                    .hasMatch());
        QVERIFY(nextLine(process).contains("libacl3gpibsim.so ACL3_GPIBSIM=127.0.0.1:"));

        auto overTcp = LineClient::tcp(static_cast<quint16>(tcp.captured(1).toUInt()));
        QCOMPARE(overTcp->query("MEAS:VOLT?"), QByteArray("12.600"));
        QCOMPARE(overTcp->query("GLOB:MEAS:VOLT?"), QByteArray("12.600"));
        QCOMPARE(overTcp->query("GLOB:MEAS:CURR?"), QByteArray("0.000,0.000,0.000,0.000"));
        overTcp->send("XYZZY 1");
        QCOMPARE(overTcp->query("MODE?"), QByteArray("CC"));
        auto overPty = LineClient::device(serial.captured(1));
        QCOMPARE(overPty->query("GLOB:MEAS:POW?"), QByteArray("0.000,0.000,0.000,0.000"));

        process.terminate();
        QVERIFY(process.waitForFinished(5000));
        QVERIFY(QString::fromLocal8Bit(process.readAllStandardError())
                    .contains("tcp XYZZY 1   (unknown, ignored)"));
        QStringList logged;
        for (const QString& record :
             QString::fromLatin1(readFile(logPath)).split('\n', Qt::SkipEmptyParts)) {
            const QStringList fields = record.split('\t');
            QCOMPARE(fields.size(), 3);
            logged << fields[1] + ' ' + fields[2];
        }
        QCOMPARE(logged,
                 (QStringList{"tcp MEAS:VOLT?", "tcp GLOB:MEAS:VOLT?", "tcp GLOB:MEAS:CURR?",
                              "tcp XYZZY 1", "tcp MODE?", "serial GLOB:MEAS:POW?"}));
    }
};

ACL3_TEST_MAIN(LoadSimCliTest)
#include "tst_loadsim_cli.moc"
