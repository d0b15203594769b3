// Protects the window's Start, Stop, Pause and Check buttons, the estimate and closing a run.
#include "WindowFixture.h"
#include "execution/RunControl.h"
#include "loadsim/LoadSimulator.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "testprogram/TestProgramFile.h"
#include "ui/RunBinding.h"
#include "ui/StepGridEditor.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>

namespace {

// The window on a program of `steps` ("a|b|c"), run against the simulated load over TCP.
struct Bench : WindowFixture
{
    explicit Bench(const QStringList& steps = {"LoadLevel|CC|1|3||||1||50",
                                               "LoadLevel|CC|2|3||||1||50"})
    {
        port = sim.listenTcp();
        station->sessionLink = Station::SessionLink{QStringLiteral("127.0.0.1"), port};
        clock.setSpeed(20);
        writeSettings();
        writeFile(programPath(), programFile(steps));
        run = std::make_unique<RunControl>(*station);
        new RunBinding(*window, *run);
        startUp();
    }
    QString estimate() const
    {
        QApplication::processEvents(); // the check runs once the edits of the moment are in
        return find<QLabel>(QStringLiteral("ProgramEstimate"))->text();
    }
    LoadSimulator sim;
    quint16 port = 0;
    std::unique_ptr<RunControl> run;
};

} // namespace

class RunButtonsTest : public QObject
{
    Q_OBJECT

private slots:
    void startThenStopPauseOrClose_switchTheLoadOff_data()
    {
        addColumns({"end"});
        addRows({"Stop;StopCommand", "Pause;PauseCommand", "closing the window;close"});
    }
    void startThenStopPauseOrClose_switchTheLoadOff()
    {
        QFETCH(QString, end);
        Bench b;
        QSignalSpy ended(b.run.get(), &RunControl::runEnded);
        // Start runs the pre-run phase before it returns; its first step hands over at once.
        b.click(QStringLiteral("StartCommand"));
        QVERIFY(b.run->isRunning() && !b.find<QWidget>("StartCommand")->isEnabled());
        QVERIFY(b.find<QWidget>("StopCommand")->isEnabled());
        QVERIFY(b.sim.lines().contains(QStringLiteral("MEAS:VOLT?")));
        QCOMPARE(b.grid("LoadStatusGrid")->model()->index(0, 2).data().toString(),
                 QStringLiteral("Connect OK"));
        if (end == "close") {
            b.window->close();
            QVERIFY(!b.run->isRunning() && !b.run->runTimer().isActive());
            QVERIFY(!b.run->log().isOpen());
        } else {
            b.click(end);
            QVERIFY(b.find<QWidget>("StartCommand")->isEnabled());
            QVERIFY(!b.find<QWidget>("PauseCommand")->isEnabled());
        }
        if (end == "PauseCommand") {
            QVERIFY(b.run->isPaused());
            QVERIFY(b.station->form.Frame2Caption.text().endsWith(QStringLiteral("  Pause")));
        }
        if (end == "StopCommand") {
            // Every record of the run reached the window's plot.
            QVERIFY(b.station->run.RecordNo > 1);
            QCOMPARE(b.window->runSeries().size(), b.station->run.RecordNo - 1);
            QCOMPARE(ended.size(), 1);
            QCOMPARE(ended.first().first().value<RunEnd>(), RunEnd::Stopped);
        }
        QTRY_COMPARE(b.sim.lines().last(), QStringLiteral("LOAD OFF"));
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

    void check_listsTheFindings_andChoosingOneSelectsItsStep()
    {
        Bench b({"LoadLevel|CC|1|3||||1||50", "LoadLevel|CR|0|3||||1||50",
                 "DisCharge|CC|5|3600|0|0|0|1|NextStep"});
        b.click(QStringLiteral("CheckCommand"));
        QVERIFY(b.find<QWidget>("CheckFrame")->isVisible());
        QCOMPARE(b.find<QLabel>("CheckCaption")->text(),
                 "Program check: 1 error, 1 warning (choose one to see its step)");
        QTableView* list = b.grid(QStringLiteral("ProgramFindings"));
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(list->model()->index(0, 2).data().toString(),
                 "Step 2, Value \"0\": Load Level must 0.533 ~ 10666(ohm) !");

        const QRect second = list->visualRect(list->model()->index(1, 2));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(b.station->form.TestStepGrid.currentRow(), 3);
        QCOMPARE(b.station->form.TestStepGrid.currentCol(), 4); // the dwell time
        QTableView* steps = b.window->stepGrid();
        QCOMPARE(steps->currentIndex().row(), 2);
        QVERIFY(steps->selectionModel()->isRowSelected(2, {}));
    }

    void estimate_followsEveryEditAndLoad()
    {
        // Measured at 1, 2 and 3 s each, and once more as Start switches the first one on.
        Bench b({"LoadLevel|CC|1|3||||1||50", "LoadLevel|CC|2|3||||1||50"});
        QCOMPARE(b.estimate(), QStringLiteral("Estimated run time 00:00:06, about 7 records"));
        b.station->form.TestStepGrid.setText(2, 4, QStringLiteral("10"));
        b.station->form.TestStepGrid.setText(2, 3, QStringLiteral("abc"));
        QCOMPARE(b.estimate(),
                 "Estimated run time 00:00:13, about 14 records; 1 error, 0 warnings");
        QVERIFY(LoadTestProgram(*b.station));
        QCOMPARE(b.estimate(), QStringLiteral("Estimated run time 00:00:06, about 7 records"));
    }

    void start_refusesErrors_andAsksAboutWarnings_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("runs");
        QTest::newRow("error") << "LoadLevel|CR|0|3||||1||50" << int(PromptAnswer::Yes) << false;
        const QString warning = QStringLiteral("Suspend|||3|0|||1|EndLoop");
        QTest::newRow("warning, No") << warning << int(PromptAnswer::No) << false;
        QTest::newRow("warning, Yes") << warning << int(PromptAnswer::Yes) << true;
    }
    void start_refusesErrors_andAsksAboutWarnings()
    {
        QFETCH(QString, step);
        QFETCH(int, answer);
        QFETCH(bool, runs);
        Bench b({"LoadLevel|CC|1|3||||1||50", step});
        b.prompts.scriptAnswers({PromptAnswer(answer)});
        b.click(QStringLiteral("StartCommand"));
        QCOMPARE(b.run->isRunning(), runs);
        QCOMPARE(b.sim.lines().isEmpty(), !runs);
        QCOMPARE(b.find<QWidget>("CheckFrame")->isVisible(), !runs);
        const RecordingPrompts::Shown& shown = b.prompts.shown.back();
        if (step.startsWith(QLatin1String("LoadLevel"))) {
            QCOMPARE(shown.kind, QStringLiteral("message"));
            QCOMPARE(shown.text, "The test was not started: the program check found 1 error.\n"
                                 "Step 2, Value \"0\": Load Level must 0.533 ~ 10666(ohm) !");
        } else {
            QCOMPARE(shown.kind, QStringLiteral("question"));
            QVERIFY2(shown.text.startsWith("The program check found 1 warning:\nStep 2, Go To") &&
                         shown.text.endsWith("\n\nStart anyway?"),
                     qPrintable(shown.text));
        }
        if (runs)
            b.run->StopCommand();
    }
};

ACL3_WIDGET_TEST_MAIN(RunButtonsTest)
#include "tst_runbuttons.moc"
