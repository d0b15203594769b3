// Protects editing the step grid in place: the cell editors, their checks, copy, paste and moves.
#include "EditorFixture.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "ui/StepEditor.h"
#include "ui/StepGridEditor.h"

#include <QAction>
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

} // namespace

class StepGridEditingTest : public QObject
{
    Q_OBJECT

private slots:
    void actionBox_opensOverTheCell_andAChangeRewritesTheRowWhenLeft()
    {
        EditorFixture f;
        // An empty action cell gets "Charge" as the box opens.
        f.grid().insertGridRow(6);
        f.grid().setText(6, 0, "6");
        f.clickCell(6, 1);
        QCOMPARE(f.grid().text(6, 1), QStringLiteral("Charge"));
        QComboBox* combo = f.combo("TestStepActionCombo");
        QCOMPARE(combo->geometry(), f.view()->visualRect(f.grid().indexOf(6, 1)));
        QVERIFY(combo->hasFocus() || combo->isAncestorOf(QApplication::focusWidget()));

        // LOOP empties columns 2 to 6 on Enter.
        f.setStep(2, fields("Charge|14.4|2|30|0.2|3|5|2|EndLoop|50"));
        f.clickCell(2, 1);
        f.chooseItem(combo, "LOOP");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.row(2), fields("2|LOOP||||||5|2|EndLoop|50"));
        QVERIFY(f.view()->hasFocus());
        // Charge turns a mode name into 0 when another cell is clicked; that cell opens.
        f.clickCell(3, 1);
        f.chooseItem(combo, "Charge");
        f.clickCell(4, 3);
        QCOMPARE(f.row(3).mid(0, 5), QStringList({"3", "Charge", "0", "3", "3"}));
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::TextBox);
        QCOMPARE(f.box("TestStepInputText")->text(), QStringLiteral("4"));
        // DisCharge keeps a mode and turns anything else into CC; Suspend empties its unused
        // columns.
        f.setStep(5, fields("Charge|12.5|2|30|0.2|3|5|2|NextStep|"));
        f.clickCell(5, 1);
        f.chooseItem(combo, "DisCharge");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Enter);
        QCOMPARE(f.grid().text(5, 2), QStringLiteral("CC"));
        f.clickCell(5, 1);
        f.chooseItem(combo, "Suspend");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.row(5), fields("5|Suspend|||30|||5|2|NextStep|"));
        // Left unchanged, the box changes nothing.
        f.clickCell(5, 1);
        f.clickCell(4, 0);
        QCOMPARE(f.row(5), fields("5|Suspend|||30|||5|2|NextStep|"));
    }

    void textBox_minutesAndSecondsAreStoredAsMinutes_andTheTipGivesSeconds()
    {
        EditorFixture f;
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
    }

    void inPlaceValues_getTheStepEditorsChecks_data()
    {
        // The message is empty when the value is taken; the cell is what it holds afterwards.
        addColumns({"step", "col", "typed", "message", "cell"});
        addRows({
            "abc for a CR value;LoadLevel|CR|50|3||||1||50;3;abc;"
            "Load Value must be a number, not \"abc\" !;50",
            "CR value 0;LoadLevel|CR|50|3||||1||50;3;0;Load Level must 0.533 ~ 10666(ohm) !;50",
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
        // An empty action cell got "Charge" when the box opened; Escape takes it back.
        f.setStep(3, fields("|||||||||"));
        f.clickCell(3, 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(f.grid().text(3, 1), QString());
    }

    void draggingOrShiftClicking_marksAndHighlightsTheRange()
    {
        EditorFixture f(8);
        QItemSelectionModel* selection = f.view()->selectionModel();
        markRows(f, 2, 4);
        QCOMPARE(selection->selectedRows().size(), 3);
        QTest::mouseClick(f.view()->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          f.cellCentre(6, 3));
        QCOMPARE(selection->selectedRows().size(), 5);
        QVERIFY(selection->isRowSelected(1, {}) && selection->isRowSelected(5, {}));
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        rightMenuChoose(f, 6, "COPY");
        QCOMPARE(f.station->form.CopyPasteGrid.rows(), 6);
    }

    void cellsWithoutAnEditor_openNothing()
    {
        EditorFixture f;
        f.setStep(2, fields("LOOP|||||||||"));
        for (int col : {0, 2, 3, 4, 5, 8, 10}) {
            f.clickCell(2, col);
            QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        }
        QCOMPARE(f.row(2), fields("2|LOOP|||||||||"));
        // A load level has no loop count.
        f.clickCell(3, 5);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        f.clickCell(3, 10);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::TextBox);
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

    void scrollingTheGrid_commitsTheEdit()
    {
        EditorFixture f(60);
        f.clickCell(2, 3);
        QTest::keyClicks(f.box("TestStepInputText"), "7.5");
        QScrollBar* bar = f.view()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->value() + 5);
        QCOMPARE(f.grid().text(2, 3), QStringLiteral("7.5"));
        QVERIFY(!f.box("TestStepInputText")->isVisible());
    }

    void delete_removesTheCurrentStepAndRenumbers_butKeepsTheLastStep()
    {
        EditorFixture f(4);
        f.clickCell(2, 0);
        f.click("DelCommand");
        QCOMPARE(f.grid().rows(), 4);
        QCOMPARE(f.row(1), loadLevelRow(1));
        QCOMPARE(f.row(2), loadLevelRow(3, 2));
        QCOMPARE(f.row(3), loadLevelRow(4, 3));
        QCOMPARE(f.grid().currentRow(), 3);

        EditorFixture one(1);
        one.grid().setText(1, 0, "7");
        one.clickCell(1, 0);
        one.click("DelCommand");
        QCOMPARE(one.grid().rows(), 2);
        QCOMPARE(one.row(1), loadLevelRow(1));
    }

    void moveUpAndDown_swapStepsAndKeepTheNumbers()
    {
        EditorFixture f(3);
        f.clickCell(3, 0);
        f.click("MoveUpCommand");
        QCOMPARE(f.row(2), loadLevelRow(3, 2));
        QCOMPARE(f.row(3), loadLevelRow(2, 3));
        f.click("MoveUpCommand");
        QCOMPARE(f.row(1), loadLevelRow(3, 1));
        // The first step cannot go up, the last cannot go down.
        f.click("MoveUpCommand");
        QCOMPARE(f.row(1), loadLevelRow(3, 1));
        QCOMPARE(f.grid().currentRow(), 1);
        f.click("MoveDnCommand");
        QCOMPARE(f.row(2), loadLevelRow(3, 2));
        QCOMPARE(f.grid().currentRow(), 2);
        f.click("MoveDnCommand");
        f.click("MoveDnCommand");
        QCOMPARE(f.row(3), loadLevelRow(3, 3));
        QCOMPARE(f.grid().currentRow(), 3);
    }

    void copyRowsTwoToThree_pasteOnTheLastRowAndOnRowOne()
    {
        EditorFixture f;
        QVERIFY(!menuAction(f, "PASTE")->isEnabled());
        markRows(f, 2, 3);
        rightMenuChoose(f, 3, "COPY");
        const GridModel& buffer = f.station->form.CopyPasteGrid;
        QCOMPARE(buffer.rows(), 3);
        QCOMPARE(buffer.rowTexts(2), loadLevelRow(3, 2));
        QVERIFY(menuAction(f, "PASTE")->isEnabled());

        // Row 2 changes after the copy: the last row pastes rows 2 and 3 as they are now.
        f.grid().setText(2, 3, "22");
        f.clickCell(5, 0);
        rightMenuChoose(f, 5, "PASTE");
        QCOMPARE(f.grid().rows(), 8);
        QStringList changed = loadLevelRow(2);
        changed[0] = "6";
        changed[3] = "22";
        QCOMPARE(f.row(6), changed);
        QCOMPARE(f.row(7), loadLevelRow(3, 7));
        QCOMPARE(f.grid().currentRow(), 7);

        // Row 1 pastes the rows as they were copied, below itself, and renumbers the rest. The
        // right button opens the menu without moving the current row.
        f.clickCell(1, 0);
        rightMenuChoose(f, 4, "PASTE");
        QCOMPARE(f.grid().rows(), 10);
        QCOMPARE(f.row(3), loadLevelRow(3));
        changed[0] = "4"; // the edited row 2, moved down
        QCOMPARE(f.row(4), changed);
        QCOMPARE(f.row(5), loadLevelRow(3, 5));
        QCOMPARE(f.row(9), loadLevelRow(3, 9));
        QCOMPARE(f.grid().currentRow(), 3);
    }

    void marking_upwardsCopiesTheRange_andARangeWithTheHeaderRowIsNotCopied()
    {
        EditorFixture f(6);
        markRows(f, 5, 2);
        rightMenuChoose(f, 2, "COPY");
        const GridModel& buffer = f.station->form.CopyPasteGrid;
        QCOMPARE(buffer.rows(), 5);
        for (int k = 1; k <= 4; ++k)
            QCOMPARE(buffer.rowTexts(k), loadLevelRow(k + 1, k));
        QCOMPARE(buffer.text(0, 2), QStringLiteral("Mode / Volt"));

        StepGridRows& rows = f.gridEditor().rows();
        rows.markPressed(3);
        rows.markReleased(0);
        f.gridEditor().copyRows();
        QCOMPARE(buffer.rows(), 5);
        QCOMPARE(buffer.rowTexts(1), loadLevelRow(2, 1));
    }

    void paste_copiedRowsDeletedSinceTheCopy_appendsTheRowsAsCopied()
    {
        EditorFixture f(5);
        markRows(f, 4, 5);
        rightMenuChoose(f, 5, "COPY");
        for (int i = 0; i < 3; ++i) {
            f.clickCell(f.grid().rows() - 1, 0);
            f.click("DelCommand");
        }
        QCOMPARE(f.grid().rows(), 3);
        f.clickCell(2, 0);
        rightMenuChoose(f, 2, "PASTE");
        QCOMPARE(f.grid().rows(), 5);
        QCOMPARE(f.row(3), loadLevelRow(4, 3));
        QCOMPARE(f.row(4), loadLevelRow(5, 4));
    }

    void doubleClick_onTheStepNumberOpensTheEditor_elsewhereNot()
    {
        EditorFixture f;
        QWidget* frame = f.find("SetStepFrame");
        for (int col : {3, 1}) {
            f.doubleClickCell(3, col);
            QVERIFY(!frame->isVisible());
            f.gridEditor().abandon();
        }
        f.doubleClickCell(4, 0);
        QVERIFY(frame->isVisible());
        QCOMPARE(f.editor().editRow(), 4);
        QCOMPARE(f.box("txtLoadValue")->text(), QStringLiteral("4"));
    }

    void rowCommands_writeAnOpenEditorFirst()
    {
        EditorFixture f;
        f.clickCell(2, 3);
        QTest::keyClicks(f.box("TestStepInputText"), "8");
        f.click("MoveDnCommand");
        QCOMPARE(f.grid().text(3, 3), QStringLiteral("8"));
        QVERIFY(!f.box("TestStepInputText")->isVisible());

        f.clickCell(2, 3);
        QTest::keyClicks(f.box("TestStepInputText"), "9");
        f.click("AddCommand");
        QCOMPARE(f.grid().text(2, 3), QStringLiteral("9"));

        // A program loaded under an open editor leaves its cells alone.
        f.clickCell(2, 3);
        QTest::keyClicks(f.box("TestStepInputText"), "10");
        f.station->form.TestStepGrid.beginBulkUpdate();
        f.station->form.TestStepGrid.endBulkUpdate();
        QVERIFY(!f.box("TestStepInputText")->isVisible());
        QCOMPARE(f.grid().text(2, 3), QStringLiteral("9"));
    }
};

ACL3_WIDGET_TEST_MAIN(StepGridEditingTest)
#include "tst_stepgridediting.moc"
