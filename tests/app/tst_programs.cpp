// Every program answers --version and --help at once, without a display: a lab PC's
// installer and the manual pages ask them where no window can open.

#include "Version.h"
#include "support/TestMain.h"

#include <QProcess>

class ProgramsTest : public QObject
{
    Q_OBJECT

private slots:
    void versionAndHelp_needNoDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("answerStart");
        const std::pair<const char*, const char*> programs[] = {
            {"acl3", ACL3_WINDOW_PATH},
            {"acl3-run", ACL3_RUN_PATH},
            {"acl3-loadsim", ACL3_LOADSIM_PATH},
            {"acl3-report", ACL3_REPORT_PATH},
        };
        for (const auto& [name, path] : programs) {
            const QString version = QLatin1String(name) + QStringLiteral(" " ACL3_VERSION "\n");
            QTest::addRow("%s --version", name) << path << "--version" << version;
            QTest::addRow("%s -v", name) << path << "-v" << version;
            QTest::addRow("%s --help", name) << path << "--help"
                                             << "Usage: " + QString(path);
        }
    }
    void versionAndHelp_needNoDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, answerStart);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(QLatin1String(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {option});
        QVERIFY(process.waitForFinished(10000));
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        QVERIFY2(out.startsWith(answerStart), qPrintable(out + process.readAllStandardError()));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }
};

ACL3_TEST_MAIN(ProgramsTest)
#include "tst_programs.moc"
