// Protects the window (start-up, opening and saving, layout, the grids' widths, colours and
// scrolling), its connection panel, and the real message box and file dialogs.
#include "WindowFixture.h"
#include "settings/IniFile.h"
#include "station/ProgramCommands.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "ui/GridView.h"
#include "ui/StepGridEditor.h"
#include "ui/WidgetPrompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

QRect rectIn(const QWidget* widget, const QWidget* window)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

// The Load1 Option section and the ConnectMode of ACL3.INI as the files hold them now.
QString stored(const QString& file, const QString& section, const QString& key)
{
    IniFile ini(file);
    ini.load();
    return ini.read(section, key, QStringLiteral("<missing>"));
}

// A step-grid-like model: one fixed row of headers, one fixed column, `rows` rows in all.
void shape(GridModel& model, int rows)
{
    model.beginBulkUpdate();
    model.setCols(4);
    model.setRows(rows);
    model.setFixed(1, 1);
    model.setRowTexts(0, {"Step", "Action Mode", "Hidden", "Value"});
    for (int r = 1; r < rows; ++r)
        model.setRowTexts(r, {QString::number(r), "LoadLevel", "x", "1"});
    model.endBulkUpdate();
    model.setColWidth(0, 1000);
    model.setColWidth(1, 2000);
    model.setColWidth(2, 0);
    model.setColWidth(3, 1440);
}

// The colour painted in a cell, taken away from its text and its grid lines.
QColor paintedColour(QTableView& view, int row, int col)
{
    const QImage image = view.viewport()->grab().toImage();
    const QRect cell = view.visualRect(view.model()->index(row, col));
    return image.pixelColor(cell.right() - 3, cell.center().y());
}

struct GridUnderTest
{
    GridUnderTest(int rows = 50)
    {
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        shape(model, rows);
        binding = new GridViewBinding(view, model);
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    GridModel model{QStringLiteral("TestStepGrid")};
    QTableView view;
    GridViewBinding* binding = nullptr;
};

// Runs `answer` on the first modal dialog that opens, from the dialog's own event loop.
void whenModalOpens(const std::function<void(QWidget*)>& answer)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        poll->stop();
        poll->deleteLater();
        answer(modal);
    });
    poll->start(10);
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private:
    // A started window on a TCP/IP load at 127.0.0.1:5025, with the panel opened.
    static void openPanel(WindowFixture& f)
    {
        f.startWith(3);
        f.click("ConnectCommand");
        QVERIFY(f.find("ConnectionFrame")->isVisible());
    }

    static QString statusAddress(const WindowFixture& f)
    {
        return f.grid("LoadStatusGrid")->model()->index(0, 1).data().toString();
    }

private slots:
    void window_everyValueHasItsControl_inItsFrameLayout()
    {
        WindowFixture f;
        f.startWith(2);
        MainWindow& w = *f.window;
        // Stop and Pause wait for a run; the hidden options and buffers stay hidden.
        QVERIFY(f.find("StartCommand")->isEnabled() && !f.find("StopCommand")->isEnabled());
        QVERIFY(!f.find("PauseCommand")->isEnabled());
        for (const char* name : {"Check4", "Check5", "Check7", "CopyPasteGrid", "ConnectionFrame"})
            QVERIFY2(!f.find(name)->isVisibleTo(&w), name);
        // The lists of the step editor and of the grid's in-place editors included.
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
        // Cancelled, the grid keeps its program and its current cell.
        f.station->form.TestStepGrid.setCurrentCell(4, 2);
        f.prompts.scriptFileNames({QString()});
        f.click("OpenCommand");
        QCOMPARE(f.grid("TestStepGrid")->model()->rowCount(), 12);
        QCOMPARE(f.grid("TestStepGrid")->currentIndex().row(), 3);

        const QString other = f.path("Other.INI");
        writeFile(other, programWithSteps(3, QStringLiteral("127.0.0.2"), 6000));
        f.prompts.scriptFileNames({other});
        f.click("OpenCommand");
        QTableView* steps = f.grid("TestStepGrid");
        QCOMPARE(steps->model()->rowCount(), 3);
        QCOMPARE(steps->currentIndex().row(), 0);
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.2:6000"));
        QVERIFY(readFile(f.path("ACL3.INI")).contains("TestFileName01=" + other.toUtf8()));
        QVERIFY(f.prompts.messages().isEmpty());
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
        if (save) {
            QVERIFY(readFile(f.programPath())
                        .contains("[Step2]\r\nActionMode=LoadLevel\r\nLoadModeVolt=CC\r\n"
                                  "CurrentValue=7.5\r\n"));
        }
        QCOMPARE(f.window->windowTitle().endsWith('*'), !save);
        if (answer == int(PromptAnswer::Cancel)) {
            f.click("OpenCommand"); // asks the same first, and Cancel opens nothing
            QCOMPARE(f.prompts.shown.back().kind, QStringLiteral("question"));
        }
    }

    void formValuesAndTheRecordList_showInTheWindow()
    {
        WindowFixture f;
        f.startWith(1);
        StationForm& form = f.station->form;
        form.Frame2Caption.setText(QStringLiteral("Channel - 1  Pause"));
        QCOMPARE(f.find<QGroupBox>("Frame2")->title(), QStringLiteral("Channel - 1  Pause"));
        for (FormValue* option : form.Option1) // the station may clear all option buttons
            option->setFlag(false);
        QVERIFY(!f.find<QRadioButton>("Option1_2")->isChecked());
        // Frame 2's colours follow their values; the controls inside keep their text colour.
        auto* frame = f.find<QGroupBox>("Frame2");
        const QColor text = frame->palette().color(QPalette::WindowText);
        form.Frame2BackColor.setColor(gridcolors::Orange);
        form.Frame2ForeColor.setColor(gridcolors::Red);
        QCOMPARE(frame->palette().color(QPalette::Window), gridcolors::Orange);
        QCOMPARE(frame->palette().color(QPalette::WindowText), gridcolors::Red);
        QCOMPARE(f.find<QLabel>("Label4")->palette().color(QPalette::WindowText), text);

        // The first record brings the list up; the CSV button toggles it.
        QTableView* list = f.window->recordList();
        GridModel& records = f.station->form.RecordList;
        records.setFixed(1, 0); // the header row is no record
        records.setRows(1);
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

        const QStringList names =
            QStringLiteral("Label4 SNText Combo1 WorkLabel LoadCountLabel TestStepGrid grdPhase3 "
                           "VoltageText CurrentText PowerText ResText KWHText AHText Loop1Text "
                           "Loop2Text TimeText Check1 Check2 Check3 LoadStatusGrid RunStatus "
                           "AddCommand DelCommand InsCommand MoveUpCommand MoveDnCommand "
                           "SaveCommand OpenCommand ConnectCommand CSVCommand StartCommand "
                           "StopCommand PauseCommand")
                .split(u' ');
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

        // The step grid and the plot below it share the spare height of a larger window.
        const int heightAt1280 = steps->height() + f.find("TrendPlot")->height();
        const QSize phaseAt1280 = f.grid("grdPhase3")->size();
        w.resize(1280, 1000);
        QTRY_COMPARE(steps->height() + f.find("TrendPlot")->height(), heightAt1280 + 200);
        QCOMPARE(f.grid("grdPhase3")->size(), phaseAt1280);

        // The connection panel opens whole inside the window.
        w.resize(1280, 800);
        QTRY_COMPARE(steps->height() + f.find("TrendPlot")->height(), heightAt1280);
        f.click("ConnectCommand");
        QWidget* panel = f.find("ConnectionFrame");
        QVERIFY(inside.contains(rectIn(panel, &w)));
        QVERIFY(panel->height() >= panel->minimumSizeHint().height());
    }

    void opening_showsTheStoredLinkNotTheCancelledEdits()
    {
        WindowFixture f;
        openPanel(f);
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_1")->currentText(), QStringLiteral("07"));
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));

        auto* ip = f.find<QLineEdit>("txtIP");
        ip->selectAll();
        QTest::keyClicks(ip, "127.0.0.9");
        f.find<QLineEdit>("txtPort")->setText(QStringLiteral("6001"));
        f.find<QComboBox>("LoadComPortCombo_0")->setCurrentIndex(9);
        f.find<QRadioButton>("Option1_2")->click();
        f.click("ConnectCancelCommand");
        QVERIFY(!f.find("ConnectionFrame")->isVisible());
        // Cancel stores nothing and leaves the typing in the boxes until the panel opens again.
        QCOMPARE(stored(f.programPath(), "Load1 Option", "IP"), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.station->loadLink().IP, QStringLiteral("127.0.0.1"));
        QCOMPARE(ip->text(), QStringLiteral("127.0.0.9"));
        f.click("ConnectCommand");
        QCOMPARE(ip->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), QStringLiteral("5025"));
        QCOMPARE(f.find<QComboBox>("LoadComPortCombo_0")->currentText(), QStringLiteral("03"));
        QVERIFY(f.find<QRadioButton>("Option1_0")->isChecked());
        // After OK the status row shows the address alone, and the port again when reopened.
        f.prompts.scriptFileNames({QString()});
        f.click("ConnectOKCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1"));
        f.click("ConnectCommand");
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
    }

    void ok_storesBothFilesBeforeTheSaveDialog()
    {
        WindowFixture f;
        openPanel(f);
        f.find<QRadioButton>("Option1_1")->click();
        f.find<QComboBox>("LoadComPortCombo_0")->setCurrentText(QStringLiteral("05"));
        f.find<QComboBox>("LoadBaudRateCombo_0")->setCurrentText(QStringLiteral("115200"));
        f.find<QLineEdit>("txtIP")->setText(QStringLiteral("127.0.0.3"));
        f.find<QCheckBox>("LoadCheck_0")->click(); // the serial run skips the load unticked

        QStringList atDialog;
        f.prompts.onShown = [&](const RecordingPrompts::Shown& shown) {
            if (shown.kind != QLatin1String("save"))
                return;
            atDialog << stored(f.path("ACL3.INI"), "ACL3", "ConnectMode");
            for (const char* key :
                 {"ComPort", "BaudRate", "LoadCheck", "IP", "Port", "RS232toRS485"})
                atDialog << stored(f.programPath(), "Load1 Option", key);
            // The panel is closed before the dialog asks.
            atDialog << (f.find("ConnectionFrame")->isVisible() ? "open" : "closed");
        };
        f.prompts.scriptFileNames({QString()});

        f.click("ConnectOKCommand");

        QCOMPARE(atDialog,
                 QStringList({"0", "05", "115200", "0", "127.0.0.3", "5025", "0", "closed"}));
        QCOMPARE(f.prompts.shown.size(), std::size_t(1));
        QCOMPARE(f.prompts.shown.front().text, f.programPath());
        QCOMPARE(f.station->loadLink().ComPort, 5);
        QCOMPARE(f.grid("LoadStatusGrid")->model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("RS232"));
        QCOMPARE(statusAddress(f), QStringLiteral("5"));
    }

    void ok_refusesAPortThatIsNotAWholeNumberFrom1To65535_data()
    {
        addColumns({"port", "accepted"});
        addRows({"0;0;", "65536;65536;", "-5;-5;", "4001.5;4001.5;", "4001a;4001a;", "empty;;",
                 "1;1;yes", "65535;65535;yes"});
    }
    void ok_refusesAPortThatIsNotAWholeNumberFrom1To65535()
    {
        QFETCH(QString, port);
        QFETCH(QString, accepted);
        WindowFixture f;
        openPanel(f);
        const QByteArray settings = readFile(f.path("ACL3.INI"));
        const QByteArray program = readFile(f.programPath());
        f.find<QRadioButton>("Option1_1")->click();
        f.find<QLineEdit>("txtPort")->setText(port);
        f.prompts.scriptFileNames({QString()});

        f.click("ConnectOKCommand");

        if (!accepted.isEmpty()) {
            QCOMPARE(f.prompts.messages(), QStringList());
            QCOMPARE(stored(f.programPath(), "Load1 Option", "Port"), port);
            QCOMPARE(f.station->loadLink().PORT, port.toInt());
            return;
        }
        const QString message = f.prompts.messages().value(0);
        QVERIFY2(message.contains("TCP port") && message.contains("1 to 65535") &&
                     message.contains('"' + port + '"') && message.contains("Nothing was stored"),
                 qPrintable(message));
        QCOMPARE(readFile(f.path("ACL3.INI")), settings);
        QCOMPARE(readFile(f.programPath()), program);
        QCOMPARE(f.station->loadLink().ConnectMode, int(kConnectTcp));
        QCOMPARE(statusAddress(f), QStringLiteral("127.0.0.1:5025"));
        // The panel stays open with the operator's entries, to be corrected.
        QVERIFY(f.find("ConnectionFrame")->isVisible());
        QCOMPARE(f.find<QLineEdit>("txtPort")->text(), port);
    }

    void widthsAreTwips_zeroHidesTheColumn_andTheHeaderIsTheFixedRow()
    {
        GridUnderTest g;
        const int dpi = g.view.logicalDpiX();
        QCOMPARE(g.view.columnWidth(3), dpi); // 1440 twips are an inch
        QVERIFY(g.view.isColumnHidden(2));
        g.model.setColWidth(2, 720);
        QCOMPARE(g.view.columnWidth(2), qRound(dpi / 2.0));
        g.model.setColWidth(1, 0);
        QVERIFY(g.view.isColumnHidden(1));
        // The header is the first fixed row, hidden without one.
        QVERIFY(g.view.horizontalHeader()->isVisible());
        QVERIFY(g.view.verticalHeader()->isHidden());
        QCOMPARE(g.view.model()->index(0, 1).data().toString(), QStringLiteral("LoadLevel"));
        g.model.setText(0, 1, QStringLiteral("Action"));
        QCOMPARE(g.view.model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("Action"));
        g.model.setFixed(0, 1);
        QVERIFY(g.view.horizontalHeader()->isHidden());
        QCOMPARE(g.view.model()->index(0, 1).data().toString(), QStringLiteral("Action"));
    }

    void cellColours_arePainted_andFixedColumnsLookLikeHeaders()
    {
        GridUnderTest g;
        g.model.setBackColor(3, 1, gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 2, 1), gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 4, 1), g.view.palette().color(QPalette::Base));
        // Fixed columns look like headers unless the cell has a colour of its own.
        QCOMPARE(paintedColour(g.view, 4, 0), g.view.palette().color(QPalette::Button));
        g.model.setBackColor(5, 0, gridcolors::Green);
        QCOMPARE(paintedColour(g.view, 4, 0), gridcolors::Green);
    }

    void currentCellAndTopRow_followTheView_andTheOperatorsClickAndScrollingMoveThem()
    {
        GridUnderTest g;
        g.model.setTopRow(30);
        QCOMPARE(g.view.rowAt(0), 29);
        g.view.verticalScrollBar()->setValue(0);
        QCOMPARE(g.model.topRow(), 1);
        const QRect cell = g.view.visualRect(g.view.model()->index(2, 1));
        QTest::mouseClick(g.view.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(g.model.currentRow(), 3);
        QCOMPARE(g.model.currentCol(), 1);

        // A new program resets the grid: the view keeps showing the model's current cell.
        shape(g.model, 13);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(2, 1));
        QVERIFY(g.view.selectionModel()->isRowSelected(2, {}));
        // Removing rows above it leaves the model's row number current, as a grid does.
        g.model.removeGridRow(1);
        QCOMPARE(g.model.currentRow(), 3);
        QCOMPARE(g.view.currentIndex().row(), 2);
        // A grid without highlighting (the status grid) still follows the current cell.
        g.view.setSelectionMode(QAbstractItemView::NoSelection);
        g.model.setCurrentCell(1, 2);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(0, 2));
        QVERIFY(!g.view.selectionModel()->hasSelection());
    }

    void message_showsTheTextWithItsTitleOrTheProgramsOwn_data()
    {
        addColumns({"title", "shownTitle"});
        addRows({"own title;Warning!;Warning!", "no title;;ACL3"});
    }
    void message_showsTheTextWithItsTitleOrTheProgramsOwn()
    {
        QFETCH(QString, title);
        QFETCH(QString, shownTitle);
        QWidget parent;
        WidgetPrompts prompts;
        prompts.setParentWidget(&parent);
        QStringList seen;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box && box->parentWidget() == &parent && box->buttons().size() == 1);
            seen << box->windowTitle() << box->text();
            box->button(QMessageBox::Ok)->click();
        });
        prompts.message(QStringLiteral("Load Level must 0 ~ 112.5(A) !"), title);
        QCOMPARE(seen, QStringList({shownTitle, "Load Level must 0 ~ 112.5(A) !"}));
    }
};

ACL3_WIDGET_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
