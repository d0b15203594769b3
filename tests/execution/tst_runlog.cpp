// The run's CSV log byte for byte, the kept earlier log, the record list and the plot's series;
// the start-up on the first tick, once and in order, then the time each second of clock time.

#include "execution/RunLog.h"
#include "execution/StartupTimer.h"
#include "series/SeriesStore.h"
#include "station/StationFolder.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QDir>

#include <QSignalSpy>
#include <cmath>

namespace {

const QByteArray kHeader = "No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,CurrentB,"
                           "CurrentC,PowerA,PowerB,PowerC,TotalTime,StepMode\r\n";

// A station in the middle of a run at 10:00:05, started at 10:00:00.
struct RunningStation : StationFixture
{
    RunningStation()
    {
        s.settings.SaveLogFileFlag = 1;
        clock.setSpeed(0);
        clock.setNow(QDateTime(QDate(2026, 5, 4), QTime(10, 0, 5)));
        s.run.TestStartText = QStringLiteral("2026/05/04 10:00:00");
        s.run.RecordNo = 1;
        s.run.CurrentStep = 1;
        s.run.LogFileName = QDir(s.testLogDir()).filePath(QStringLiteral("SN42.CSV"));
        s.StepTable[1].LoadModeVolt = QStringLiteral("CC");
        const QStringList values = {"230.1",  "229.9", "230", "10",    "10.5",
                                    " 9.75 ", "2301",  "Err", "ErrRec"};
        for (int i = 0; i < 9; ++i)
            s.form.grdPhase3.setText(i % 3 + 1, i / 3 + 1, values[i]);
    }
    Station& s = *station;
};

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

class RunLogTest : public QObject
{
    Q_OBJECT

private slots:
    void log_writesHeaderAndRecordsByteForByte()
    {
        RunningStation f;
        Station& s = f.s;
        RunLog log(s);
        QVERIFY(log.open());
        log.RecordResult();
        // Inside a FOR loop the Loop1 field is the loop's remaining-pass cell.
        s.form.TestStepGrid.setRows(4);
        s.form.TestStepGrid.setText(2, 5, QStringLiteral("3"));
        s.run.ForRow = 2;
        // Read while the log is still open: nothing waits in a buffer.
        QVERIFY(readFile(s.run.LogFileName).endsWith(",CC\r\n"));
        f.clock.advance(100 * 3600); // 100 hours later
        log.RecordResult();
        log.close();
        // "Err" and "ErrRec" were not measured: empty fields, never 0.
        QCOMPARE(readFile(s.run.LogFileName),
                 kHeader + "1,2,,10:00:05,230.1,229.9,230,10,10.5,9.75,2301,,,00:00:05,CC\r\n"
                           "2,2,3,14:00:05,230.1,229.9,230,10,10.5,9.75,2301,,,100:00:05,CC\r\n");
        QCOMPARE(s.run.RecordNo, 3);
        QCOMPARE(s.run.UnmeasuredValues, 4);
        QVERIFY(f.prompts.shown.empty());
    }

    void log_createsTestLogAndKeepsAnOldLogUnderADatedName()
    {
        RunningStation f;
        Station& s = f.s;
        QVERIFY(!QFileInfo::exists(s.testLogDir()));
        RunLog log(s);
        QVERIFY(log.open());
        log.WriteLogRecord();
        log.close();
        const QByteArray first = readFile(s.run.LogFileName);

        f.clock.setNow(QDateTime(QDate(2026, 5, 4), QTime(11, 30, 0)));
        QVERIFY(log.open());
        const QString kept =
            QDir(s.testLogDir()).filePath(QStringLiteral("SN42_20260504-113000.CSV"));
        QCOMPARE(log.keptPreviousLog(), kept);
        QCOMPARE(readFile(kept), first);
        QCOMPARE(readFile(s.run.LogFileName), kHeader);

        // A third run in the same second keeps the second log too.
        log.close();
        QVERIFY(log.open());
        QCOMPARE(log.keptPreviousLog(),
                 QDir(s.testLogDir()).filePath(QStringLiteral("SN42_20260504-113000-2.CSV")));
        QCOMPARE(readFile(kept), first);
    }

    void log_thatCannotBeCreatedRefusesWithThePath()
    {
        RunningStation f;
        Station& s = f.s;
        writeFile(s.testLogDir(), "a file where the folder should be");
        RunLog log(s);
        QVERIFY(!log.open());
        QCOMPARE(f.prompts.messages().size(), 1);
        QVERIFY2(f.prompts.messages()[0].contains(QDir::toNativeSeparators(s.run.LogFileName)),
                 qPrintable(f.prompts.messages()[0]));
        log.WriteLogRecord(); // nothing open: nothing written, no count
        QCOMPARE(s.run.RecordNo, 1);
    }

    void serialNumber_refusesNamesOutsideTestLog_data()
    {
        addColumns({"sn", "accepted"});
        addRows({"plain;SN-2026_001;yes", "dot;A1.2;yes", "chinese;電池01;yes", "slash;../x;no",
                 "backslash;a\\b;no", "dotdot;a..b;no", "tab;a\tb;no", "colon;C:x;no",
                 "star;a*;no"});
    }
    void serialNumber_refusesNamesOutsideTestLog()
    {
        QFETCH(QString, sn);
        QFETCH(QString, accepted);
        QString message;
        QCOMPARE(checkSerialNumber(sn, &message), accepted == QLatin1String("yes"));
        if (accepted == QLatin1String("no"))
            QVERIFY2(message.contains(sn), qPrintable(message));
    }

    void recordList_takesTheRecordsWithoutALog_andKeepsTheMostRecent()
    {
        RunningStation f;
        Station& s = f.s;
        s.settings.SaveLogFileFlag = 0;
        s.run.StepStartText = QStringLiteral("2026/05/04 10:00:03");
        s.form.VoltageText.setText(QStringLiteral("230.0000"));
        s.form.CurrentText.setText(QStringLiteral("0.0000"));
        s.form.AHText.setText(QStringLiteral("0.50000000"));
        RunLog log(s);
        log.RecordResult();
        s.form.CurrentText.setText(QStringLiteral("30.0000"));
        log.RecordResult();
        const GridModel& list = s.form.RecordList;
        QCOMPARE(list.rows(), 3);
        // Phases B and C of the power were not measured: no total power is shown.
        QCOMPARE(list.rowTexts(1), QStringList({"1", "2", "", "", "00:00:02", "230.0000", "0.0000",
                                                "", "0", "0", "00:00:05"}));
        QCOMPARE(list.text(2, 9), QStringLiteral("0.50000000"));
        QVERIFY(!QFileInfo::exists(s.run.LogFileName));
        // A long run keeps the most recent records.
        constexpr int kRecords = RunLog::kRecordListCapacity + 250;
        for (int i = 2; i < kRecords; ++i)
            log.RecordResult();
        const int kept = list.rows() - 1;
        QVERIFY2(kept >= RunLog::kRecordListCapacity && kept < kRecords - 100,
                 qPrintable(QString::number(kept)));
        QCOMPARE(list.text(1, 0), QString::number(kRecords - kept + 1));
        QCOMPARE(list.text(list.rows() - 1, 0), QString::number(kRecords));
        QCOMPARE(list.topRow(), list.rows() - 1);
    }

    void seriesStore_getsEveryRecordWithGapsWhereNothingWasMeasured()
    {
        // Without a CSV log; with one, the log viewer's test compares a whole run.
        RunningStation f;
        Station& s = f.s;
        s.settings.SaveLogFileFlag = 0;
        s.run.ForRow = 2;
        s.form.TestStepGrid.setRows(3);
        s.form.TestStepGrid.setText(2, 5, QStringLiteral("4"));
        RunLog log(s);
        SeriesStore store;
        log.setSeriesStore(&store);
        log.RecordResult();
        f.clock.advance(0.25);
        s.form.grdPhase3.setText(1, 1, QStringLiteral("231"));
        log.RecordResult();
        QCOMPARE(store.size(), 2);
        QCOMPARE(store.value(5, 0), 9.75);
        QVERIFY(std::isnan(store.value(7, 0))); // "Err"
        QVERIFY(std::isnan(store.value(8, 0))); // "ErrRec"
        QCOMPARE(store.value(0, 1), 231.0);
        QCOMPARE(store.time(1), 0.25);
        QCOMPARE(store.markAt(1)->loop1, QStringLiteral("4"));
        // Start numbers the next run's records from 1 again: a new series.
        s.run.RecordNo = 1;
        log.RecordResult();
        QCOMPARE(store.size(), 1);
    }

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

ACL3_TEST_MAIN(RunLogTest)
#include "tst_runlog.moc"
