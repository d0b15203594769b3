#include "WindowFixture.h"
#include "execution/RunControl.h"
#include "loadsim/LoadSimulator.h"
#include "support/TestMain.h"
#include "testprogram/TestProgramFile.h"
#include "ui/RunBinding.h"

#include <QLabel>

// The Check button, the estimate in the status bar and the check before Start.
class CheckPanelTest : public QObject
{
    Q_OBJECT

private:
    struct Bench : WindowFixture
    {
        explicit Bench(const QStringList& steps)
        {
            port = sim.listenTcp();
            station->sessionLink = Station::SessionLink{QStringLiteral("127.0.0.1"), port};
            clock.setSpeed(20);
            writeSettings();
            QStringList lines = {"[TestStep Option]",
                                 QStringLiteral("TotalStepCount=%1").arg(steps.size())};
            for (int n = 0; n < steps.size(); ++n) {
                lines << QStringLiteral("[Step%1]").arg(n + 1);
                const QStringList f = steps[n].split(QLatin1Char('|'));
                for (int k = 0; k < TestStep::kFieldCount; ++k)
                    lines << kStepFieldKeys[k] + QLatin1Char('=') + f.value(k);
            }
            writeFile(programPath(), crlfLines(lines));
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

private slots:
    void check_listsTheFindings_andChoosingOneSelectsItsStep()
    {
        Bench b({"LoadLevel|CC|1|3||||1||50", "LoadLevel|CR|0|3||||1||50",
                 "DisCharge|CC|5|3600|0|0|0|1|NextStep"});
        QVERIFY(!b.find<QWidget>("CheckFrame")->isVisible());
        b.click(QStringLiteral("CheckCommand"));
        QVERIFY(b.find<QWidget>("CheckFrame")->isVisible());
        QCOMPARE(b.find<QLabel>("CheckCaption")->text(),
                 "Program check: 1 error, 1 warning (choose one to see its step)");
        QTableView* list = b.grid(QStringLiteral("ProgramFindings"));
        QCOMPARE(list->model()->rowCount(), 2);
        const auto cell = [&](int row, int col) {
            return list->model()->index(row, col).data().toString();
        };
        QCOMPARE(cell(0, 0), QStringLiteral("Error"));
        QCOMPARE(cell(0, 1), QStringLiteral("2"));
        QCOMPARE(cell(0, 2), "Step 2, Value \"0\": Load Level must 0.533 ~ 10666(ohm) !");
        QCOMPARE(cell(1, 0), QStringLiteral("Warning"));
        QCOMPARE(cell(1, 1), QStringLiteral("3"));

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
        QCOMPARE(b.estimate(), QStringLiteral("Estimated run time 00:00:13, about 14 records"));
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

ACL3_WIDGET_TEST_MAIN(CheckPanelTest)
#include "tst_checkpanel.moc"
