// Protects the window's Start, Stop and Pause buttons and its closing, against the simulated load.
#include "WindowFixture.h"
#include "execution/RunControl.h"
#include "loadsim/LoadSimulator.h"
#include "support/TestMain.h"
#include "ui/RunBinding.h"
#include "ui/StepGridEditor.h"

#include <QLineEdit>

#include <QSignalSpy>

class RunButtonsTest : public QObject
{
    Q_OBJECT

private:
    struct Bench : WindowFixture
    {
        Bench()
        {
            port = sim.listenTcp();
            station->sessionLink = Station::SessionLink{QStringLiteral("127.0.0.1"), port};
            clock.setSpeed(20);
            writeSettings();
            writeProgram(2); // load levels of 3 s
            run = std::make_unique<RunControl>(*station);
            new RunBinding(*window, *run);
            startUp();
        }
        LoadSimulator sim;
        quint16 port = 0;
        std::unique_ptr<RunControl> run;
    };

private slots:
    void startAndStop_runAndSwitchTheLoadOff()
    {
        Bench b;
        QSignalSpy ended(b.run.get(), &RunControl::runEnded);
        // Start runs the pre-run phase before it returns; its first step hands over at once.
        b.click(QStringLiteral("StartCommand"));
        QVERIFY(b.run->isRunning());
        QVERIFY(!b.find<QWidget>("StartCommand")->isEnabled());
        QVERIFY(b.find<QWidget>("StopCommand")->isEnabled());
        QVERIFY(b.sim.lines().contains(QStringLiteral("MEAS:VOLT?")));
        QCOMPARE(b.grid("LoadStatusGrid")->model()->index(0, 2).data().toString(),
                 QStringLiteral("Connect OK"));
        b.click(QStringLiteral("StopCommand"));
        // Every record of the run reached the window's plot.
        QVERIFY(b.station->run.RecordNo > 1);
        QCOMPARE(b.window->runSeries().size(), b.station->run.RecordNo - 1);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.first().first().value<RunEnd>(), RunEnd::Stopped);
        QTRY_COMPARE(b.sim.lines().last(), QStringLiteral("LOAD OFF"));
        QVERIFY(b.find<QWidget>("StartCommand")->isEnabled());
        QVERIFY(!b.find<QWidget>("PauseCommand")->isEnabled());
    }

    void editedValue_isSavedByStartAndIsWhatTheLoadGets_data()
    {
        QTest::addColumn<bool>("saved");
        QTest::newRow("saved") << true;
        QTest::newRow("save cancelled") << false;
    }
    void editedValue_isSavedByStartAndIsWhatTheLoadGets()
    {
        QFETCH(bool, saved);
        Bench b;
        QSignalSpy ended(b.run.get(), &RunControl::runEnded);
        // Step 2 from 2 A to 6 A in place, still open when Start is pressed.
        b.window->stepGridEditor()->openCellEditor(2, 3);
        b.find<QLineEdit>("TestStepInputText")->setText(QStringLiteral("6"));
        b.prompts.scriptFileNames({saved ? b.programPath() : QString()});
        b.click(QStringLiteral("StartCommand"));
        QVERIFY(!b.prompts.shown.empty());
        QCOMPARE(b.prompts.shown.back().text, b.programPath()); // the dialog proposed it
        QCOMPARE(b.station->form.TestStepGrid.text(2, 3), QStringLiteral("6"));
        QCOMPARE(b.window->windowTitle().endsWith(QLatin1Char('*')), !saved);
        if (!saved) {
            QCOMPARE(ended.first().first().value<RunEnd>(), RunEnd::Refused);
            QVERIFY(b.sim.lines().isEmpty());
            return;
        }
        // While it runs nothing is selected over the running row.
        QTableView* steps = b.window->stepGrid();
        QVERIFY(!steps->selectionModel()->hasSelection());
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        QVERIFY2(b.sim.lines().contains(QStringLiteral("CC:A 6")),
                 qPrintable(b.sim.lines().join('|')));
        QCOMPARE(b.station->form.TestStepGrid.text(2, 3), QStringLiteral("6"));
        QVERIFY(steps->selectionModel()->hasSelection());
    }

    void pause_switchesOffAndEnablesStart()
    {
        Bench b;
        b.click(QStringLiteral("StartCommand"));
        b.click(QStringLiteral("PauseCommand"));
        QVERIFY(b.run->isPaused());
        QVERIFY(b.find<QWidget>("StartCommand")->isEnabled());
        QVERIFY(!b.find<QWidget>("PauseCommand")->isEnabled());
        QTRY_COMPARE(b.sim.lines().last(), QStringLiteral("LOAD OFF"));
        QVERIFY(b.station->form.Frame2Caption.text().endsWith(QStringLiteral("  Pause")));
    }

    void closingTheWindow_haltsTheRun()
    {
        Bench b;
        b.click(QStringLiteral("StartCommand"));
        QVERIFY(b.run->isRunning());
        b.window->close();
        QVERIFY(!b.run->isRunning());
        QVERIFY(!b.run->runTimer().isActive());
        QVERIFY(!b.run->log().isOpen());
        QTRY_COMPARE(b.sim.lines().last(), QStringLiteral("LOAD OFF"));
    }
};

ACL3_WIDGET_TEST_MAIN(RunButtonsTest)
#include "tst_runbuttons.moc"
