// The start-up on the first tick, once and in order; then the time each second of clock time.

#include "execution/StartupTimer.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>

namespace {

QByteArray program(const QStringList& actions)
{
    QList<QStringList> steps;
    for (const QString& action : actions)
        steps << QStringList{action};
    return programIni(steps, {});
}

struct StartupFixture : StationFixture
{
    explicit StartupFixture(int steps = 12)
    {
        writeFile(path("ACL3.INI"), defaultSettingsFile());
        writeFile(programPath(), program(QStringList(steps, QStringLiteral("LoadLevel"))));
        clock.setSpeed(0);
    }
    StartupTimer timer{*station};
};

} // namespace

class StartupTimerTest : public QObject
{
    Q_OBJECT

private slots:
    void firstTick_runsTheStartUpInOrder_laterTicksOnlyShowTheTime()
    {
        StartupFixture f;
        Station& s = *f.station;
        s.run.PauseRequested = 1;
        QStringList atLayout;
        connect(&f.timer, &StartupTimer::loadLevelLayoutDue, this, [&] {
            // Grids, settings and program are in; the serial number is not yet prepared.
            atLayout << QString::number(s.form.TestStepGrid.rows())
                     << QString::number(s.settings.TcpipMode) << s.form.SNText.text()
                     << s.form.TimeText.text();
        });
        QSignalSpy finished(&f.timer, &StartupTimer::startupFinished);

        f.timer.tick();

        QCOMPARE(atLayout, QStringList({"13", "1", "", ""}));
        QCOMPARE(s.form.LoadStatusGrid.text(0, 1), QStringLiteral("TCPIP"));
        QCOMPARE(s.form.SNText.text(), QStringLiteral("202601051"));
        QCOMPARE(s.run.LogFileName, QDir(f.dir.path()).filePath("TestLog/202601051.CSV"));
        QCOMPARE(s.run.PauseRequested, 0);
        QCOMPARE(s.form.WorkLabel.text(), QStringLiteral(" "));
        QCOMPARE(s.form.TimeText.text(), QStringLiteral("2026/01/05 08:00:00"));

        // Later ticks, across midnight, leave the program and the serial number alone.
        s.form.TestStepGrid.setText(4, 1, QStringLiteral("Charge"));
        s.form.SNText.setText(QString());
        f.clock.setNow(QDateTime(QDate(2026, 1, 5), QTime(23, 59, 59)));
        f.timer.tick();
        QCOMPARE(s.form.TimeText.text(), QStringLiteral("2026/01/05 23:59:59"));
        f.clock.advance(1);
        f.timer.tick();
        QCOMPARE(s.form.TimeText.text(), QStringLiteral("2026/01/06 00:00:00"));
        QCOMPARE(atLayout.size(), 4);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(s.form.TestStepGrid.text(4, 1), QStringLiteral("Charge"));
        QCOMPARE(s.form.SNText.text(), QString());
    }

    void timer_firesAfterHalfASecondThenEverySecondOfClockTime()
    {
        StartupFixture f;
        QTimer& timer1 = f.timer.timer();
        f.clock.setSpeed(1);
        f.timer.start();
        QVERIFY(timer1.isActive());
        QCOMPARE(timer1.interval(), 500);

        // Fifty times faster: 10 ms and 20 ms of real time.
        f.clock.setSpeed(50);
        f.timer.start();
        QCOMPARE(timer1.interval(), 10);
        QSignalSpy times(&f.station->form.TimeText, &FormValue::changed);
        QTRY_VERIFY(f.timer.startupDone());
        QVERIFY(timer1.isActive());
        QCOMPARE(timer1.interval(), 20);
        QTRY_VERIFY(times.size() >= 3);

        // A clock that stands still never fires it.
        StartupFixture still;
        still.timer.start();
        QVERIFY(!still.timer.timer().isActive());
    }

    void messageDuringStartUp_doesNotStartItAgain()
    {
        // An unbalanced program shows its message from inside the first tick; the window's
        // message box runs an event loop in which Timer1 could tick again.
        StartupFixture f;
        writeFile(f.programPath(), program({"FOR", "LoadLevel"}));
        f.station->form.SNText.setText(QStringLiteral("UNIT-42")); // entered before: kept
        f.clock.setSpeed(1);
        f.timer.start();
        QSignalSpy layout(&f.timer, &StartupTimer::loadLevelLayoutDue);
        bool activeAtMessage = true;
        f.prompts.onShown = [&](const RecordingPrompts::Shown&) {
            activeAtMessage = f.timer.timer().isActive();
            f.timer.tick();
        };

        f.timer.tick();

        QVERIFY(!activeAtMessage);
        QCOMPARE(f.prompts.messages().size(), 1);
        QCOMPARE(layout.size(), 1);
        QCOMPARE(f.station->form.TestStepGrid.rows(), 4); // two steps and the appended LOOP
        QVERIFY(f.timer.timer().isActive());
        QCOMPARE(f.timer.timer().interval(), 1000);
        QCOMPARE(f.station->run.LogFileName, QDir(f.dir.path()).filePath("TestLog/UNIT-42.CSV"));
    }
};

ACL3_TEST_MAIN(StartupTimerTest)
#include "tst_startuptimer.moc"
