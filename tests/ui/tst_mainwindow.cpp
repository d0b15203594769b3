// Protects the window: what it shows at start-up, opening and saving, and its layout.
#include "WindowFixture.h"
#include "station/ProgramCommands.h"
#include "support/TestMain.h"
#include "ui/StepGridEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest>

namespace {

QStringList rowTexts(const QTableView* view, int row)
{
    QStringList texts;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        texts << view->model()->index(row, c).data().toString();
    return texts;
}

QRect rectIn(const QWidget* widget, const QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void startUp_twelveStepProgram_showsThirteenRowsWithRowOneSelected()
    {
        WindowFixture f;
        f.startWith(12);
        QCOMPARE(f.station->form.TestStepGrid.rows(), 13);
        QCOMPARE(f.station->form.TestStepGrid.currentRow(), 1);
        QTableView* steps = f.grid("TestStepGrid");
        QCOMPARE(rowTexts(steps, 11).mid(0, 4), QStringList({"12", "LoadLevel", "CC", "12"}));
        QCOMPARE(steps->selectionModel()->selectedRows().size(), 1);
        QVERIFY(steps->selectionModel()->isRowSelected(0, {}));
        QCOMPARE(steps->currentIndex().row(), 0);
    }

    void window_hasTheControlsOfTheDesign()
    {
        WindowFixture f;
        f.startWith(2);
        MainWindow& w = *f.window;
        QCOMPARE(w.windowTitle(),
                 QStringLiteral("ACL3 3-Phase Control Program R1.1 - TestFile01.INI"));
        // The picture buttons, left to right; Stop and Pause wait for a run.
        int previousX = -1;
        for (const char* name : {"AddCommand", "DelCommand", "InsCommand", "MoveUpCommand",
                                 "MoveDnCommand", "SaveCommand", "OpenCommand", "ConnectCommand",
                                 "CSVCommand", "StartCommand", "StopCommand", "PauseCommand"}) {
            QToolButton* button = w.commandButton(name);
            QVERIFY2(button && button->isVisible() && !button->icon().isNull(), name);
            QVERIFY2(button->x() > previousX, name);
            QCOMPARE(button->isEnabled(),
                     strcmp(name, "StopCommand") && strcmp(name, "PauseCommand"));
            previousX = button->x();
        }
        for (const char* name : {"Check4", "Check5", "Check7", "CopyPasteGrid", "ConnectionFrame"})
            QVERIFY2(!f.find(name)->isVisibleTo(&w), name);
        QMenu* menu = f.find<QMenu>("RightPUP");
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("PASTE"));
        // Every value of the station has its control, the lists of the step editor and of the
        // grid's in-place editors included, and every control sits in its frame's layout.
        QCOMPARE(w.unboundValues(), QStringList());
        QCOMPARE(widgetsOutsideLayouts(&w), QStringList());
        // The step editor is laid over the window by hand; its own controls are in its layout.
        f.click("AddCommand");
        QCOMPARE(widgetsOutsideLayouts(f.find("SetStepFrame")), QStringList());
    }

    void open_cancelledChangesNothing_andAChosenFileIsShownAndRemembered()
    {
        WindowFixture f;
        f.startWith(12);
        GridModel& grid = f.station->form.TestStepGrid;
        grid.setCurrentCell(4, 2);
        const QByteArray settings = readFile(f.path("ACL3.INI"));
        f.prompts.scriptFileNames({QString()});
        f.click("OpenCommand");
        QCOMPARE(f.prompts.shown.back().text, f.programPath());
        QCOMPARE(f.prompts.lastFilter, QStringLiteral("INI檔(*.ini);;所有檔案(*.*)"));
        QCOMPARE(readFile(f.path("ACL3.INI")), settings);
        QCOMPARE(grid.rowTexts(12).mid(0, 4), QStringList({"12", "LoadLevel", "CC", "12"}));
        QCOMPARE(f.grid("TestStepGrid")->currentIndex().row(), 3);

        const QString other = f.path("Other.INI");
        writeFile(other, programWithSteps(3, QStringLiteral("127.0.0.2"), 6000));
        f.prompts.scriptFileNames({other});
        f.click("OpenCommand");
        QTableView* steps = f.grid("TestStepGrid");
        QCOMPARE(steps->model()->rowCount(), 3);
        QCOMPARE(steps->currentIndex().row(), 0);
        QCOMPARE(f.grid("LoadStatusGrid")->model()->index(0, 1).data().toString(),
                 QStringLiteral("127.0.0.2:6000"));
        QVERIFY(readFile(f.path("ACL3.INI")).contains("TestFileName01=" + other.toUtf8()));
        QVERIFY(f.prompts.messages().isEmpty());
    }

    void save_writesTheGridToTheChosenFile()
    {
        WindowFixture f;
        f.startWith(12);
        f.station->form.TestStepGrid.setText(5, 3, QStringLiteral("7.5"));
        const QString copy = f.path("Copy.INI");
        f.prompts.scriptFileNames({copy});

        f.click("SaveCommand");

        QCOMPARE(f.prompts.shown.back().text, f.programPath());
        const QByteArray saved = readFile(copy);
        QVERIFY(saved.contains("TotalStepCount=12"));
        QVERIFY(saved.contains("[Step5]\r\nActionMode=LoadLevel\r\nLoadModeVolt=CC\r\n"
                               "CurrentValue=7.5\r\n"));
        QCOMPARE(f.station->settings.TestFileName, copy);
    }

    void unsavedEdits_markTheTitle_andAreAskedAboutOnClosingAndOpening_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("answer");
        QTest::newRow("cell, Save") << "cell" << int(PromptAnswer::Save);
        QTest::newRow("delete, Discard") << "delete" << int(PromptAnswer::Discard);
        QTest::newRow("move, Cancel") << "move" << int(PromptAnswer::Cancel);
        QTest::newRow("loop repair, Cancel") << "repair" << int(PromptAnswer::Cancel);
    }
    void unsavedEdits_markTheTitle_andAreAskedAboutOnClosingAndOpening()
    {
        QFETCH(QString, edit);
        QFETCH(int, answer);
        WindowFixture f;
        f.writeSettings();
        if (edit == "repair")
            writeFile(f.programPath(), crlfLines({"[TestStep Option]", "TotalStepCount=1",
                                                  "[Step1]", "ActionMode=FOR", "StopValue=2"}));
        else
            f.writeProgram(3);
        f.startUp();
        QCOMPARE(f.window->windowTitle().endsWith(QLatin1Char('*')), edit == "repair");
        f.station->form.TestStepGrid.setCurrentCell(2, 0);
        if (edit == "cell") {
            f.window->stepGridEditor()->openCellEditor(2, 3);
            f.find<QLineEdit>("TestStepInputText")->setText("7.5");
            f.window->stepGridEditor()->commit();
        } else if (edit != "repair") {
            f.click(edit == "delete" ? "DelCommand" : "MoveDnCommand");
        }
        QVERIFY(f.window->windowTitle().endsWith(QStringLiteral(" - TestFile01.INI*")));
        const QByteArray before = readFile(f.programPath());
        f.prompts.scriptAnswers({PromptAnswer(answer)});
        f.prompts.scriptFileNames({f.programPath()});
        f.prompts.shown.clear();

        const bool save = answer == int(PromptAnswer::Save);
        QCOMPARE(f.window->close(), answer != int(PromptAnswer::Cancel));
        QCOMPARE(f.prompts.shown.size(), save ? 2u : 1u); // the question, then the dialog
        QCOMPARE(f.prompts.shown.front().kind, QStringLiteral("question"));
        QCOMPARE(readFile(f.programPath()) != before, save);
        QCOMPARE(f.window->windowTitle().endsWith('*'), !save);
        if (answer == int(PromptAnswer::Cancel)) {
            f.click("OpenCommand"); // asks the same first, and Cancel opens nothing
            QCOMPARE(f.prompts.shown.back().kind, QStringLiteral("question"));
        }
    }

    void formValues_showInTheirControlsAndTakeTheOperatorsEdits()
    {
        WindowFixture f;
        f.startWith(1);
        StationForm& form = f.station->form;
        auto* sn = f.find<QLineEdit>("SNText");
        form.SNText.setText(QStringLiteral("A100"));
        QTest::keyClicks(sn, "-7");
        QCOMPARE(form.SNText.text(), QStringLiteral("A100-7"));
        form.RunStatus.setText(QStringLiteral("Step 3"));
        QCOMPARE(f.find<QLabel>("RunStatus")->text(), QStringLiteral("Step 3"));
        form.Frame2Caption.setText(QStringLiteral("Channel - 1  Pause"));
        QCOMPARE(f.find<QGroupBox>("Frame2")->title(), QStringLiteral("Channel - 1  Pause"));
        // Option buttons: the operator's choice clears the others; the station may clear all.
        f.find<QRadioButton>("Option1_1")->click();
        QCOMPARE(QList<bool>({form.Option1[0]->flag(), form.Option1[1]->flag()}),
                 QList<bool>({false, true}));
        for (FormValue* option : form.Option1)
            option->setFlag(false);
        QVERIFY(!f.find<QRadioButton>("Option1_1")->isChecked());
        form.enabled(QStringLiteral("SNText")).setFlag(false);
        QVERIFY(!sn->isEnabled());
        // Check1 to 3 stay ticked when clicked; the program decides the hidden options.
        auto* check = f.find<QCheckBox>("Check2");
        QTest::mouseClick(check, Qt::LeftButton, {}, check->rect().center());
        QVERIFY(check->isChecked() && form.Check2.flag());
        form.Check4.setFlag(false);
        QVERIFY(!f.find<QCheckBox>("Check4")->isChecked());
        // Frame 2's colours follow their values; the controls inside keep their text colour.
        auto* frame = f.find<QGroupBox>("Frame2");
        const QColor text = frame->palette().color(QPalette::WindowText);
        form.Frame2BackColor.setColor(gridcolors::Orange);
        form.Frame2ForeColor.setColor(gridcolors::Red);
        QCOMPARE(frame->palette().color(QPalette::Window), gridcolors::Orange);
        QCOMPARE(frame->palette().color(QPalette::WindowText), gridcolors::Red);
        QCOMPARE(f.find<QLabel>("Label4")->palette().color(QPalette::WindowText), text);
        form.Frame2ForeColor.setColor(gridcolors::System);
        QCOMPARE(frame->palette().color(QPalette::WindowText), text);
    }

    void csvCommand_togglesTheRecordList()
    {
        WindowFixture f;
        f.startWith(1);
        QTableView* list = f.window->recordList();
        // The first record brings the list up.
        GridModel& records = f.station->form.RecordList;
        records.setFixed(1, 0);
        records.setCols(3);
        records.setRows(1);
        records.setRowTexts(0, {"No.", "Step", "Loop1"});
        QVERIFY(!list->isVisible());
        records.insertGridRow(1);
        QVERIFY(list->isVisible());
        f.click("CSVCommand");
        QVERIFY(!list->isVisible());
        f.click("CSVCommand");
        QVERIFY(list->isVisible());
        records.setRows(1);
        QVERIFY(!list->isVisible());
    }

    void layout_at1280x800_nothingOverlapsOrIsCutOff()
    {
        WindowFixture f;
        f.writeSettings();
        f.writeProgram(40);
        f.window->resize(MainWindow::kDefaultWidth, MainWindow::kDefaultHeight);
        f.startUp();
        MainWindow& w = *f.window;
        QCOMPARE(w.size(), QSize(1280, 800));
        // The status grid grew a row at start-up: wait until the layouts have followed.
        QTRY_VERIFY(f.find("Frame5")->height() >= f.find("Frame5")->minimumSizeHint().height());

        QStringList names = QStringLiteral("Label4 SNText Combo1 WorkLabel LoadCountLabel "
                                           "TestStepGrid grdPhase3 VoltageText CurrentText "
                                           "PowerText ResText KWHText AHText Loop1Text Loop2Text "
                                           "TimeText Check1 Check2 Check3 LoadStatusGrid RunStatus")
                                .split(u' ');
        for (const char* name : {"AddCommand", "DelCommand", "InsCommand", "MoveUpCommand",
                                 "MoveDnCommand", "SaveCommand", "OpenCommand", "ConnectCommand",
                                 "CSVCommand", "StartCommand", "StopCommand", "PauseCommand"})
            names << QString::fromLatin1(name);
        const QRect inside = w.rect();
        QList<QRect> rects;
        for (const QString& name : names) {
            QWidget* widget = f.find(name);
            QVERIFY2(widget && widget->isVisible(), qPrintable(name));
            const QRect r = rectIn(widget, &w);
            QVERIFY2(inside.contains(r), qPrintable(name));
            // A grid is whole when its cells are (below); other controls need their least size.
            const QSize least = widget->minimumSizeHint();
            QVERIFY2(qobject_cast<QTableView*>(widget) ||
                         (r.width() >= least.width() && r.height() >= least.height()),
                     qPrintable(name));
            for (int i = 0; i < rects.size(); ++i)
                QVERIFY2(!rects[i].intersects(r), qPrintable(name + " overlaps " + names[i]));
            rects << r;
        }
        // The frames on the right hold their controls whole.
        QVERIFY(rectIn(f.find("Frame4"), &w).contains(rectIn(f.find("TimeText"), &w)));
        QVERIFY(rectIn(f.find("Frame5"), &w).contains(rectIn(f.find("LoadStatusGrid"), &w)));

        // Every column of every grid is seen whole: no sideways scrolling.
        QTableView* steps = f.grid("TestStepGrid");
        QCOMPARE(steps->horizontalScrollBar()->maximum(), 0);
        for (const char* name : {"grdPhase3", "LoadStatusGrid"}) {
            QTableView* view = f.grid(name);
            const int last = view->model()->columnCount() - 1;
            QVERIFY2(view->columnViewportPosition(last) + view->columnWidth(last) <=
                         view->viewport()->width(),
                     name);
            QVERIFY2(view->rowViewportPosition(view->model()->rowCount() - 1) +
                             view->rowHeight(view->model()->rowCount() - 1) <=
                         view->viewport()->height(),
                     name);
        }

        // The step grid and the plot below it share the spare space of a larger window; the
        // right side keeps its size.
        const QSize stepsAt1280 = steps->size();
        QWidget* plot = f.find("TrendPlot");
        const int plotAt1280 = plot->height();
        const QSize phaseAt1280 = f.grid("grdPhase3")->size();
        w.resize(1600, 1000);
        QTRY_COMPARE(w.size(), QSize(1600, 1000));
        QTRY_COMPARE(steps->width(), stepsAt1280.width() + 320);
        QVERIFY(steps->height() > stepsAt1280.height() && plot->height() > plotAt1280);
        QCOMPARE(steps->height() + plot->height(), stepsAt1280.height() + plotAt1280 + 200);
        QCOMPARE(f.grid("grdPhase3")->size(), phaseAt1280);

        // The connection panel opens whole inside the window.
        w.resize(1280, 800);
        QTRY_COMPARE(steps->size(), stepsAt1280);
        f.click("ConnectCommand");
        QWidget* panel = f.find("ConnectionFrame");
        QVERIFY(inside.contains(rectIn(panel, &w)));
        QVERIFY(panel->height() >= panel->minimumSizeHint().height());
    }
};

ACL3_WIDGET_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
