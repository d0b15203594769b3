// Protects editing a program: the step editor's rows, refusals and panels; the step grid's cell
// editors, their checks, copy, paste and moves.
#include "EditorFixture.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "ui/StepEditor.h"
#include "ui/StepGridEditor.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QtTest>

namespace {

// Step n of the fixture's program, a load level of value n, numbered `number`.
QStringList loadLevelRow(int n, int number = 0)
{
    return fields(
        QStringLiteral("%1|LoadLevel|CC|%2|3|0|0|0|1|NextStep|50").arg(number ? number : n).arg(n));
}

QAction* menuAction(const EditorFixture& f, const char* name)
{
    return f.window->rightMenu()->findChild<QAction*>(QString::fromLatin1(name));
}

// Right-clicks the grid and picks an entry of the menu that pops up.
void rightMenuChoose(const EditorFixture& f, int row, const char* entry)
{
    QMenu* menu = f.window->rightMenu();
    f.clickCell(row, 0, Qt::RightButton);
    QTRY_VERIFY(menu->isVisible());
    QAction* action = menuAction(f, entry);
    QVERIFY(action->isEnabled());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    QTRY_VERIFY(!menu->isVisible());
}

// Marks rows with the left button: pressed on one row, dragged to another, released there.
void markRows(const EditorFixture& f, int from, int to)
{
    QWidget* viewport = f.view()->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, f.cellCentre(from, 0));
    QTest::mouseMove(viewport, f.cellCentre(to, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, f.cellCentre(to, 0));
}

// Puts "box=text" entries (separated by spaces) into the editor's boxes, shown or not.
void enter(const EditorFixture& f, const QString& entries)
{
    for (const QString& entry : entries.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u'=', 0, 0);
        const QString text = entry.section(u'=', 1);
        if (auto* edit = f.window->findChild<QLineEdit*>(name))
            edit->setText(text);
        else
            f.combo(name)->setEditText(text);
    }
}

// Checks what the boxes of "box=text" entries show.
void expectBoxes(const EditorFixture& f, const QString& entries)
{
    for (const QString& entry : entries.split(u' ', Qt::SkipEmptyParts))
        QCOMPARE(f.editor().boxText(entry.section(u'=', 0, 0)), entry.section(u'=', 1));
}

// The action panels shown.
QStringList visibleFrames(const EditorFixture& f)
{
    QStringList shown;
    for (const QGroupBox* frame : f.find("SetStepFrame")->findChildren<QGroupBox*>())
        if (frame->isVisible())
            shown << frame->objectName();
    return shown;
}

} // namespace

class StepGridEditingTest : public QObject
{
    Q_OBJECT

private slots:
    void actionBox_aChangeRewritesTheRowOnEnterOrWhenLeft_data()
    {
        addColumns({"step", "choice", "leave", "row"});
        addRows({
            "LOOP empties columns 2 to 6;Charge|14.4|2|30|0.2|3|5|2|EndLoop|50;LOOP;Return;"
            "LOOP||||||5|2|EndLoop|50",
            "Charge turns a mode into 0;LoadLevel|CC|2|3|0|0|0|1|NextStep|50;Charge;click;"
            "Charge|0|2|3|0|0|0|1|NextStep|50",
            "DisCharge turns a number into "
            "CC;Charge|12.5|2|30|0.2|3|5|2|NextStep|;DisCharge;Return;"
            "DisCharge|CC|2|30|0.2|3|5|2|NextStep|",
            "DisCharge keeps a mode;LoadLevel|CR|2|3|0|0|0|1|NextStep|50;DisCharge;Return;"
            "DisCharge|CR|2|3|0|0|0|1|NextStep|50",
            "Suspend empties its unused columns;DisCharge|CC|2|30|0.2|3|5|2|NextStep|;Suspend;"
            "Return;Suspend|||30|||5|2|NextStep|",
            "left "
            "unchanged;Suspend|||30|||5|2|NextStep|;Suspend;click;Suspend|||30|||5|2|NextStep|",
        });
    }
    void actionBox_aChangeRewritesTheRowOnEnterOrWhenLeft()
    {
        QFETCH(QString, step);
        QFETCH(QString, choice);
        QFETCH(QString, leave);
        QFETCH(QString, row);
        EditorFixture f;
        f.setStep(2, fields(step));
        f.clickCell(2, 1);
        QComboBox* combo = f.combo("TestStepActionCombo");
        f.chooseItem(combo, choice);
        if (leave == "Return")
            QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        else
            f.clickCell(3, 3); // that cell's editor opens
        QCOMPARE(f.row(2), QStringList{"2"} + fields(row));
        QCOMPARE(f.gridEditor().openEditor(),
                 leave == "Return" ? CellEditor::None : CellEditor::TextBox);
        QVERIFY(leave != "Return" || f.view()->hasFocus());
    }

    void textBox_minutesAndSecondsAreStoredAsMinutes_andScrollingCommits()
    {
        EditorFixture f(60);
        f.clickCell(2, 4);
        QLineEdit* input = f.box("TestStepInputText");
        QCOMPARE(input->selectedText(), QStringLiteral("3"));
        QCOMPARE(input->toolTip(), QStringLiteral("180 Second"));
        QCOMPARE(input->geometry(), f.view()->visualRect(f.grid().indexOf(2, 4)));
        QTest::keyClicks(input, "1:30");
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(f.grid().text(2, 4), QStringLiteral("1.5000"));
        QVERIFY(!input->isVisible());
        f.clickCell(2, 8);
        QCOMPARE(input->toolTip(), QString());
        // A pulse load's times are milliseconds.
        f.setStep(2, fields("PlusLoad|20|5|100|250|1|3|10|NextStep|"));
        f.clickCell(2, 5);
        QCOMPARE(input->toolTip(), QStringLiteral("0.25 Second"));
        f.clickCell(2, 3);
        QTest::keyClicks(input, "7.5");
        f.view()->verticalScrollBar()->setValue(f.view()->verticalScrollBar()->value() + 5);
        QCOMPARE(f.grid().text(2, 3), QStringLiteral("7.5"));
        QVERIFY(!input->isVisible());
    }

    void inPlaceValues_getTheStepEditorsChecks_data()
    {
        // The message is empty when the value is taken; the cell is what it holds afterwards.
        addColumns({"step", "col", "typed", "message", "cell"});
        addRows({
            "abc for a CR value;LoadLevel|CR|50|3||||1||50;3;abc;"
            "Load Value must be a number, not \"abc\" !;50",
            "dwell 999999;LoadLevel|CC|5|3||||1||50;4;999999;Dwell Time must 0 ~ 86400 !;3",
            "minutes in the measure time;LoadLevel|CC|5|3||||1||50;8;0:30;"
            "Measure Time must be a number, not \"0:30\" !;1",
            "frequency 441;LoadLevel|CC|5|3||||1||50;10;441;Frequency must 40 ~ 440!;50",
            "CC value 6;LoadLevel|CC|5|3||||1||50;3;6;;6",
            "mode CR over a value of 0;LoadLevel|CC|0|3;2;CR;"
            "Load Level must 0.533 ~ 10666(ohm) !;CC",
            "loop count 2.5;FOR||||2;5;2.5;Loop Times must be a whole number 1 ~ 32767 !;2",
            "cycle count held in its limits;PlusLoad|20|5|100|250|1|3|10|NextStep;7;5000;;2400",
        });
    }
    void inPlaceValues_getTheStepEditorsChecks()
    {
        QFETCH(QString, step);
        QFETCH(QString, col);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, cell);
        EditorFixture f;
        f.setStep(2, fields(step));
        f.gridEditor().openCellEditor(2, col.toInt());
        if (f.gridEditor().openEditor() == CellEditor::TextBox)
            f.box("TestStepInputText")->setText(typed);
        else
            f.combo("TestStepModeCombo")->setEditText(typed);
        QCOMPARE(f.gridEditor().commit(), message.isEmpty());
        QCOMPARE(f.prompts.messages(), message.isEmpty() ? QStringList() : QStringList{message});
        for (const auto& shown : f.prompts.shown)
            QCOMPARE(shown.title, QStringLiteral("Warning!"));
        QCOMPARE(f.grid().text(2, col.toInt()), cell);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
    }

    void escape_abandonsTheEdit()
    {
        EditorFixture f;
        f.clickCell(2, 3);
        QTest::keyClicks(f.box("TestStepInputText"), "99");
        QTest::keyClick(f.box("TestStepInputText"), Qt::Key_Escape);
        QCOMPARE(f.grid().text(2, 3), QStringLiteral("2"));
        QVERIFY(!f.box("TestStepInputText")->isVisible());
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);

        // The drop-down editor: the keys reach whatever has the focus, as the operator's do.
        f.clickCell(2, 1);
        f.chooseItem(f.combo("TestStepActionCombo"), "FOR");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(f.row(2), loadLevelRow(2));
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        // Nothing is written later either, when the focus moves on.
        f.find("SNText")->setFocus();
        QCOMPARE(f.row(2), loadLevelRow(2));
        // An empty action cell gets "Charge" as the box opens over it; Escape takes it back.
        f.setStep(3, fields("|||||||||"));
        f.clickCell(3, 1);
        QCOMPARE(f.grid().text(3, 1), QStringLiteral("Charge"));
        QCOMPARE(f.combo("TestStepActionCombo")->geometry(),
                 f.view()->visualRect(f.grid().indexOf(3, 1)));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(f.grid().text(3, 1), QString());
    }

    void modeAndGotoBoxes_emptyCellsGetTheirFirstChoice_andCvIsRefused()
    {
        EditorFixture f;
        f.grid().setText(2, 2, QString());
        f.clickCell(2, 2);
        QComboBox* mode = f.combo("TestStepModeCombo");
        QCOMPARE(f.grid().text(2, 2), QStringLiteral("CC"));
        f.chooseItem(mode, "CR");
        f.pickItem(mode, "CV");
        QCOMPARE(f.prompts.messages(), QStringList({"並聯不可使用CV模式, 請重新選擇模式"}));
        QCOMPARE(mode->currentText(), QStringLiteral("CC"));
        // The message box did not close the editor; Enter writes what it shows.
        QTest::keyClick(mode->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.grid().text(2, 2), QStringLiteral("CC"));

        // The go-to column is hidden in the grid; its editor opens all the same.
        f.setStep(3, fields("Suspend|||1|0|||1||"));
        f.gridEditor().openCellEditor(3, 9);
        QCOMPARE(f.grid().text(3, 9), QStringLiteral("NextStep"));
        f.combo("GotoCombo")->setEditText(QStringLiteral("EndLoop"));
        f.gridEditor().commit();
        QCOMPARE(f.grid().text(3, 9), QStringLiteral("EndLoop"));
    }

    void rowCommands_data()
    {
        // Steps of the program, the operator's actions, then the values (column 3) of the grid's
        // steps, its current row ("-": not checked) and the values in the copy buffer.
        addColumns({"steps", "script", "values", "current", "copied"});
        addRows({
            "delete renumbers;4;cell:2 DelCommand;1 3 4;3;",
            "insert numbers the new step as its row;5;cell:3 InsCommand OKCommand;1 2 * 3 4 5;3;",
            "add appends after the last step;5;cell:2 AddCommand OKCommand;1 2 3 4 5 *;6;",
            "the last step is not deleted;1;number:1:7 cell:1 DelCommand;1;1;",
            "move up, not past the first;3;cell:3 MoveUpCommand MoveUpCommand MoveUpCommand;3 1 "
            "2;1;",
            "move down, not past the last;3;cell:1 MoveDnCommand MoveDnCommand MoveDnCommand;2 3 "
            "1;3;",
            "paste on the last row takes the rows as they are now;5;mark:2:3 menu:3:COPY "
            "value:2:22 "
            "cell:5 menu:5:PASTE;1 22 3 4 5 22 3;7;2 3",
            "paste on row 1 takes the rows as copied, the right button keeps the current row;5;"
            "mark:2:3 menu:3:COPY value:2:22 cell:5 menu:5:PASTE cell:1 menu:4:PASTE;"
            "1 2 3 22 3 4 5 22 3;3;2 3",
            "marking upwards;6;mark:5:2 menu:2:COPY;1 2 3 4 5 6;-;2 3 4 5",
            "a range with the header row is not copied;6;rows:3:0;1 2 3 4 5 6;-;",
            "shift-click extends the marked range;8;mark:2:4 shift:6 menu:6:COPY;1 2 3 4 5 6 7 8;-;"
            "2 3 4 5 6",
            "copied rows deleted since the copy;5;mark:4:5 menu:5:COPY cell:5 DelCommand cell:4 "
            "DelCommand cell:3 DelCommand cell:2 menu:2:PASTE;1 2 4 5;-;4 5",
            "a move writes the open editor first;5;edit:2:8 MoveDnCommand;1 3 8 4 5;3;",
            "Add writes the open editor first;5;edit:2:9 AddCommand;1 9 3 4 5;2;",
            "a program loaded under an open editor keeps its cells;5;edit:2:10 reload;1 2 3 4 5;-;",
        });
    }
    void rowCommands()
    {
        QFETCH(QString, steps);
        QFETCH(QString, script);
        QFETCH(QString, values);
        QFETCH(QString, current);
        QFETCH(QString, copied);
        EditorFixture f(steps.toInt());
        QVERIFY(!menuAction(f, "PASTE")->isEnabled());
        for (const QString& op : script.split(u' ')) {
            const QStringList a = op.split(u':');
            const int row = a.value(1).toInt();
            if (a[0] == "cell")
                f.clickCell(row, 0);
            else if (a[0] == "shift")
                QTest::mouseClick(f.view()->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                                  f.cellCentre(row, 3));
            else if (a[0] == "mark")
                markRows(f, row, a[2].toInt());
            else if (a[0] == "rows") {
                f.gridEditor().rows().markPressed(row);
                f.gridEditor().rows().markReleased(a[2].toInt());
                f.gridEditor().copyRows();
            } else if (a[0] == "menu")
                rightMenuChoose(f, row, qPrintable(a[2]));
            else if (a[0] == "value" || a[0] == "number")
                f.grid().setText(row, a[0] == "value" ? 3 : 0, a[2]);
            else if (a[0] == "edit") {
                f.clickCell(row, 3);
                QTest::keyClicks(f.box("TestStepInputText"), a[2]);
            } else if (a[0] == "reload") {
                f.grid().beginBulkUpdate();
                f.grid().endBulkUpdate();
            } else
                f.click(a[0]);
        }
        const QStringList expected = values.split(u' ');
        QCOMPARE(f.grid().rows(), expected.size() + 1);
        for (int r = 1; r <= expected.size(); ++r) {
            QCOMPARE(f.grid().text(r, 0), QString::number(r));
            if (expected[r - 1] != "*") // "*": a step the editor wrote
                QCOMPARE(f.row(r), loadLevelRow(expected[r - 1].toInt(), r));
        }
        if (current != "-")
            QCOMPARE(f.grid().currentRow(), current.toInt());
        const GridModel& buffer = f.station->form.CopyPasteGrid;
        QStringList inBuffer;
        for (int r = 1; r < buffer.rows(); ++r)
            inBuffer << buffer.text(r, 3);
        QCOMPARE(inBuffer.join(u' '), copied);
        QCOMPARE(menuAction(f, "PASTE")->isEnabled(), !copied.isEmpty());
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
    }

    void open_modifyShowsTheStepsPanel_andCancelChangesNothing()
    {
        EditorFixture f;
        auto* frame = f.find<QGroupBox>("SetStepFrame");
        for (int col : {3, 1}) { // only the step number opens it
            f.doubleClickCell(3, col);
            QVERIFY(!frame->isVisible());
            f.gridEditor().abandon();
        }
        f.click("AddCommand");
        QCOMPARE(visibleFrames(f), QStringList({"RampOnFrame"}));
        f.setStep(4, fields("Charge|14.4|2|30|0.2|3|5|2|EndLoop|"));
        f.doubleClickCell(4, 0);
        QCOMPARE(frame->title(), QStringLiteral("Modify Channel - 1 Step - 4"));
        QCOMPARE(visibleFrames(f), QStringList({"ChargeFrame"}));
        f.typeInto(f.box("ChargeCurrentText"), "9");
        const QStringList before = f.row(4);
        f.click("CancelCommand");
        QVERIFY(!frame->isVisible());
        QCOMPARE(f.row(4), before);
        QCOMPARE(f.grid().rows(), 6);
    }

    void chooseAction_showsOnlyItsPanel_andAppliesItsResets()
    {
        EditorFixture f;
        f.click("AddCommand");
        QComboBox* action = f.combo("SetStepActionCombo");
        for (const QString pair : {"CP-Charge:CPCharge", "LOOP2:Loop", "RAMP_OFF:RampOff"}) {
            f.chooseItem(action, pair.section(u':', 0, 0).replace(u'_', u' '));
            QCOMPARE(visibleFrames(f), QStringList{pair.section(u':', 1) + "Frame"});
        }

        // DisCharge: the mode only when empty, the go-to always. OverDisCharge: CC whatever it
        // held, its go-to left alone. RAMP OFF's mode and Suspend's and Charge's go-to reset.
        enter(f, "DisChargeModeCombo=CR DisChargeGotoCombo=EndLoop OverDisChargeModeCombo=CP "
                 "OverDisChargeGotoCombo=Continue RampOffCombo=XX SuspendGotoCombo=XX "
                 "ChargeGotoCombo=XX");
        for (const char* name : {"DisCharge", "OverDisCharge", "RAMP OFF", "Suspend", "Charge"})
            f.chooseItem(action, name);
        expectBoxes(f,
                    "DisChargeModeCombo=CR DisChargeGotoCombo=NextStep OverDisChargeModeCombo=CC "
                    "OverDisChargeGotoCombo=Continue RampOffCombo=CC SuspendGotoCombo=NextStep "
                    "ChargeGotoCombo=NextStep");
        f.combo("DisChargeModeCombo")->setEditText(QString());
        f.chooseItem(action, "DisCharge");
        expectBoxes(f, "DisChargeModeCombo=CC");
    }

    void ok_writesTheRowOfTheChosenPanel_data()
    {
        addColumns({"action", "entries", "row"});
        // OK holds the pulse times in their limits.
        addRows({
            "LoadLevel;LoadLevel;cmbLoadLevel=CR txtLoadValue=25.50 txtLoadLevelStopTime=12 "
            "txtLoadLevelMeasTime=2 txtFrequency=50;LoadLevel|CR|25.5|12||||2||50",
            "RAMP ON;RAMP ON;RampOnCombo=CP RampOnCurrentText=7 RampOnStopTimeText=4 "
            "RampOnMeasTimeText=0.5 RampOnGotoCombo=EndLoop;RAMP ON|CP|7|4||||0.5||",
            "Charge;Charge;ChargeVoltageText=14.40 ChargeCurrentText=2 ChargeStopTimeText=30 "
            "ChargeStopCurrentText=0.2 ChargeStableTimeText=3 ChargeStopAHText=5 "
            "ChargeMeasTimeText=2 ChargeGotoCombo=EndLoop;Charge|14.4|2|30|0.2|3|5|2|EndLoop|",
            "CP-Charge;CP-Charge;CPChargePowerText=100 CPChargeCurrentText=15 "
            "CPChargeStopTimeText=20 CPChargeStopCurrentText=0.5 CPChargeStableTimeText=2 "
            "CPChargeStopAHText=4 CPChargeMeasTimeText=3;CP-Charge|100|15|20|0.5|2|4|3||",
            "DisCharge, 12.50 stored as 12.5;DisCharge;DisChargeModeCombo=CR "
            "DisChargeCurrentText=8 DisChargeStopTimeText=45 DisChargeStopVoltageText=12.50 "
            "DisChargeStableTimeText=2 DisChargeStopAHText=6 DisChargeMeasTimeText=1 "
            "DisChargeGotoCombo=Continue;DisCharge|CR|8|45|12.5|2|6|1|Continue|",
            "OverDisCharge;OverDisCharge;OverDisChargeModeCombo=CP OverDisChargeCurrentText=3 "
            "OverDisChargeStopTimeText=60 OverDisChargePSVText=13.8 OverDisChargeStableTimeText=4 "
            "OverDisChargeStopAHText=2 OverDisChargeMeasTimeText=5 "
            "OverDisChargeGotoCombo=EndLoop2;OverDisCharge|CP|3|60|13.8|4|2|5|EndLoop2|",
            "Suspend, 12.50 stored as typed;Suspend;SuspendTimeText=10 "
            "SuspendStopVoltageText=12.50 SuspendMeasTimeText=2 SuspendGotoCombo=EndLoop;"
            "Suspend|||10|12.50|||2|EndLoop|",
            "FOR;FOR;ForTimesText=03;FOR||||3|||||",
            "ACIR;ACIR;ACIRModeCombo=CC ACIRCurrentText=1.5 ACIRFrequencyText=1 "
            "ACIRRiseFallText=25 ACIRStableTimeText=2 ACIRStopAHText=3 ACIRMeasTimeText=4;"
            "ACIR|CC|1.5|1|25|2|3|4||",
            "DCIRLow;DCIRLow;DCIRLowModeCombo=CV DCIRLowCurrentText=2 DCIRLowStopTimeText=5 "
            "DCIRLowStopVoltageText=3.2 DCIRLowStableTimeText=7 DCIRLowStopAHText=8 "
            "DCIRLowMeasTimeText=9;DCIRLow|CV|2|5|3.2|7|8|9||",
            "PlusLoad;PlusLoad;PlusLoadHighCurrentText=20 PlusLoadLowCurrentText=5 "
            "PlusLoadTHighText=100 PlusLoadTLowText=200 PlusLoadStopVoltageText=10.5 "
            "PlusLoadCycleCountText=50 PlusLoadStartTimeText=15 PlusLoadGotoCombo=NextStep;"
            "PlusLoad|20|5|100|200|10.5|50|15|NextStep|",
            "PlusLoad held in its limits;PlusLoad;PlusLoadTHighText=0.01 PlusLoadTLowText=10000 "
            "PlusLoadCycleCountText=2401;PlusLoad|0|0|0.05|9999|1|2400|10||",
            "PlusLoad at its limits;PlusLoad;PlusLoadTHighText=0.050 PlusLoadTLowText=9999 "
            "PlusLoadCycleCountText=0;PlusLoad|0|0|0.05|9999|1|1|10||",
        });
    }
    void ok_writesTheRowOfTheChosenPanel()
    {
        QFETCH(QString, action);
        QFETCH(QString, entries);
        QFETCH(QString, row);
        EditorFixture f(2);
        f.addWith(action);
        enter(f, entries);
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), QStringList());
        QCOMPARE(f.row(3), QStringList{"3"} + fields(row));
        QCOMPARE(f.grid().currentRow(), 3);
        QVERIFY(!f.find("SetStepFrame")->isVisible());
    }

    // A go-to step number is no choice of its box: the box shows it all the same.
    void modify_showsTheRowAndWritesItBack_keepingTheFrequencyOfOtherActions()
    {
        EditorFixture f;
        f.setStep(2, fields("DisCharge|CR|8|45|12.5|2|6|1|5|77"));
        f.setStep(3, fields("LoadLevel|CP|900|20||||2||400"));
        f.doubleClickCell(2, 0);
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("Ohm"));
        f.typeInto(f.box("DisChargeCurrentText"), "9.0");
        f.click("OKCommand");
        QCOMPARE(f.row(2), QStringList{"2"} + fields("DisCharge|CR|9|45|12.5|2|6|1|5|77"));
        QCOMPARE(f.grid().rows(), 6);

        f.doubleClickCell(3, 0);
        QCOMPARE(f.box("txtFrequency")->text(), QStringLiteral("400"));
        f.click("OKCommand");
        QCOMPARE(f.row(3), QStringList{"3"} + fields("LoadLevel|CP|900|20||||2||400"));
        QVERIFY(f.prompts.messages().isEmpty());
    }

    void ok_refusedValues_data()
    {
        // The messages separated by "|" (none: accepted), and the box texts afterwards.
        addColumns({"action", "entries", "messages", "after"});
        addRows({
            "text for a number;Charge;ChargeCurrentText=abc;"
            "Charge Current must be a number, not \"abc\" !;",
            "empty box;Suspend;SuspendMeasTimeText=;Meas Time must be a number !;",
            "hidden load level of 200 A blocks a Charge;Charge;txtLoadValue=200;"
            "Load Level must 0 ~ 112.5(A) !;txtLoadValue=0",
            "discharge below the least resistance;DisCharge;DisChargeModeCombo=CR "
            "DisChargeCurrentText=0.3;Load Level must 0.533 ~ 10666(ohm) !;",
            "loop count 0;FOR;ForTimesText=0;Loop Times must be a whole number 1 ~ 32767 !;",
            "CC 112.5 passes;LoadLevel;txtLoadValue=112.5;;txtLoadValue=112.5",
            "LINCC 112.6;LoadLevel;cmbLoadLevel=LINCC txtLoadValue=112.6;"
            "Load Level must 0 ~ 112.5(A) !;txtLoadValue=0",
            "CR dwell not checked;LoadLevel;cmbLoadLevel=CR txtLoadValue=100 "
            "txtLoadLevelStopTime=90000;;txtLoadLevelStopTime=90000",
            "CR 0.5;LoadLevel;cmbLoadLevel=CR txtLoadValue=0.5;"
            "Load Level must 0.533 ~ 10666(ohm) !;txtLoadValue=0.533",
            "unknown mode;LoadLevel;cmbLoadLevel=LoadLevel;Load Mode ERROR !;"
            "cmbLoadLevel=LoadLevel",
            "every check, in order;LoadLevel;txtLoadValue=-1 txtLoadLevelStopTime=86401 "
            "txtLoadLevelMeasTime=0 txtFrequency=441;Load Level must 0 ~ 112.5(A) !|"
            "Dwell Time must 0 ~ 86400 !|Load Level Meas Time must 0.1 ~ 86400 !|"
            "Frequency must 40 ~ 440!;txtLoadValue=0 txtLoadLevelStopTime=0.1 "
            "txtLoadLevelMeasTime=0.1 txtFrequency=40",
            "frequency 40 and dwell 86400 pass;LoadLevel;txtFrequency=40 "
            "txtLoadLevelStopTime=86400;;txtFrequency=40",
        });
    }
    void ok_refusedValues()
    {
        QFETCH(QString, action);
        QFETCH(QString, entries);
        QFETCH(QString, messages);
        QFETCH(QString, after);
        EditorFixture f(2);
        f.addWith(action);
        enter(f, entries);
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), messages.split(u'|', Qt::SkipEmptyParts));
        for (const auto& shown : f.prompts.shown)
            QCOMPARE(shown.title, QStringLiteral("Warning!"));
        expectBoxes(f, after);
        // A refusal leaves the editor open and the grid as it was.
        QCOMPARE(f.grid().rows(), messages.isEmpty() ? 4 : 3);
        QCOMPARE(f.find("SetStepFrame")->isVisible(), !messages.isEmpty());
        if (action == "LoadLevel" && !messages.isEmpty() && !after.startsWith("cmbLoadLevel"))
            QVERIFY(f.box("txtLoadValue")->hasFocus());
    }

    void ok_with1500Steps_refusesTheStep_andTakesThe1500th()
    {
        EditorFixture f(2);
        GridModel& grid = f.grid();
        grid.setRows(1501);
        for (int r = 1; r <= 1500; ++r)
            grid.setRowTexts(r, {QString::number(r), "LOOP"});
        f.click("AddCommand");
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), QStringList({"Test Step too much, Please check it."}));
        QVERIFY(grid.rows() == 1501 && f.find("SetStepFrame")->isVisible());
        grid.removeGridRow(1500);
        f.click("OKCommand");
        QCOMPARE(grid.text(1500, 1), QStringLiteral("LoadLevel"));
    }

    void timeBox_leftForOk_turnsMinutesAndSecondsIntoMinutes()
    {
        EditorFixture f;
        f.addWith("DisCharge");
        f.typeInto(f.box("DisChargeStopTimeText"), "2:15");
        QTest::mouseClick(f.find("OKCommand"), Qt::LeftButton);
        QCOMPARE(f.grid().text(6, 4), QStringLiteral("2.25"));
    }

    void unitLabels_followTheModeBoxes_andCvIsRefusedWithLoadsInParallel()
    {
        EditorFixture f;
        f.click("AddCommand");
        // One load alone may discharge in CV; two in parallel may not, picked or typed.
        f.station->ConnectedLoadCount = 1;
        f.chooseItem(f.combo("SetStepActionCombo"), "DisCharge");
        QComboBox* mode = f.combo("DisChargeModeCombo");
        f.chooseItem(mode, "CV");
        f.chooseItem(mode, "CP");
        f.station->ConnectedLoadCount = 2;
        f.pickItem(mode, "CV");
        QCOMPARE(f.prompts.messages(), QStringList({"並聯不可使用CV模式, 請重新選擇模式"}));
        QCOMPARE(mode->currentText(), QStringLiteral("CC"));
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("A"));
        // A step that holds CV still shows what it holds.
        f.click("CancelCommand");
        f.setStep(2, fields("DisCharge|CV|8|45|12|2|6|1|NextStep|"));
        f.doubleClickCell(2, 0);
        QCOMPARE(mode->currentText(), QStringLiteral("CV"));
        QCOMPARE(f.prompts.messages().size(), 1);
    }

    void showLoadLevelLayout_followsTheConnectionKind()
    {
        for (const QString mode : {"2", "0", "1"}) { // TCP/IP, serial, GPIB
            EditorFixture f(2, mode);
            f.click("AddCommand");
            QCOMPARE(f.find("txtFrequency")->isVisible(), mode == "2");
            QCOMPARE(f.find("RampOnCurrentText")->isVisible(), mode != "2");
            f.chooseItem(f.combo("SetStepActionCombo"), "RAMP ON"); // the same layout
            QCOMPARE(f.find("txtFrequency")->isVisible(), mode == "2");
        }
    }
};

ACL3_WIDGET_TEST_MAIN(StepGridEditingTest)
#include "tst_stepediting.moc"
