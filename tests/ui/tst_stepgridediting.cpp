#include "EditorFixture.h"
#include "support/TestMain.h"
#include "ui/StepEditor.h"
#include "ui/StepGridEditor.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QtTest>

namespace {

// Step n of the fixture's program: a load level of value n.
QStringList loadLevelRow(int n)
{
    return {QString::number(n), "LoadLevel", "CC", QString::number(n), "3", "0", "0", "0", "1",
            "NextStep",         "50"};
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
    void clickOnAnEmptyActionCell_writesChargeAndOpensTheActionBoxOverIt()
    {
        EditorFixture f;
        f.grid().insertGridRow(6);
        f.grid().setText(6, 0, "6");
        f.clickCell(6, 1);
        QCOMPARE(f.grid().text(6, 1), QStringLiteral("Charge"));
        QComboBox* combo = f.combo("TestStepActionCombo");
        QVERIFY(combo->isVisible());
        QCOMPARE(combo->currentText(), QStringLiteral("Charge"));
        QCOMPARE(combo->geometry(), f.view()->visualRect(f.grid().indexOf(6, 1)));
        QVERIFY(combo->hasFocus() || combo->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(combo->count(), 16);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::ActionCombo);
    }

    void actionChangedToLoop_emptiesColumnsTwoToSix()
    {
        EditorFixture f;
        f.setStep(2, {"Charge", "14.4", "2", "30", "0.2", "3", "5", "2", "EndLoop", "50"});
        f.clickCell(2, 1);
        f.chooseItem(f.combo("TestStepActionCombo"), "LOOP");
        QTest::keyClick(f.combo("TestStepActionCombo")->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.row(2),
                 QStringList({"2", "LOOP", "", "", "", "", "", "5", "2", "EndLoop", "50"}));
        QVERIFY(!f.combo("TestStepActionCombo")->isVisible());
        QVERIFY(f.view()->hasFocus());
    }

    void actionChangedToCharge_turnsAModeNameIntoZero_whenTheOperatorLeaves()
    {
        EditorFixture f;
        f.clickCell(3, 1);
        f.chooseItem(f.combo("TestStepActionCombo"), "Charge");
        // Clicking another cell leaves the box: the row is written, the clicked cell opens.
        f.clickCell(4, 3);
        QCOMPARE(f.row(3).mid(0, 5), QStringList({"3", "Charge", "0", "3", "3"}));
        QVERIFY(!f.combo("TestStepActionCombo")->isVisible());
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::TextBox);
        QCOMPARE(f.box("TestStepInputText")->text(), QStringLiteral("4"));

        // "DisCharge" keeps a mode and turns anything else into "CC"; "Suspend" empties its
        // unused columns.
        f.setStep(5, {"Charge", "12.5", "2", "30", "0.2", "3", "5", "2", "NextStep", ""});
        f.clickCell(5, 1);
        f.chooseItem(f.combo("TestStepActionCombo"), "DisCharge");
        QTest::keyClick(f.combo("TestStepActionCombo")->lineEdit(), Qt::Key_Enter);
        QCOMPARE(f.grid().text(5, 2), QStringLiteral("CC"));
        f.clickCell(5, 1);
        f.chooseItem(f.combo("TestStepActionCombo"), "Suspend");
        QTest::keyClick(f.combo("TestStepActionCombo")->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.row(5),
                 QStringList({"5", "Suspend", "", "", "30", "", "", "5", "2", "NextStep", ""}));
    }

    void dwellCell_minutesAndSecondsTyped_areStoredAsMinutes()
    {
        EditorFixture f;
        f.clickCell(2, 4);
        QLineEdit* input = f.box("TestStepInputText");
        QVERIFY(input->isVisible());
        QCOMPARE(input->text(), QStringLiteral("3"));
        QCOMPARE(input->selectedText(), QStringLiteral("3"));
        QCOMPARE(input->toolTip(), QStringLiteral("180 Second"));
        QCOMPARE(input->geometry(), f.view()->visualRect(f.grid().indexOf(2, 4)));
        QTest::keyClicks(input, "1:30");
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(f.grid().text(2, 4), QStringLiteral("1.5000"));
        QVERIFY(!input->isVisible());
        f.clickCell(2, 8);
        QCOMPARE(input->toolTip(), QString());
    }

    void inPlaceValues_getTheStepEditorsChecks_data()
    {
        QTest::addColumn<QStringList>("step");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<QString>("cell");    // the cell afterwards
        const QStringList cr = {"LoadLevel", "CR", "50", "3", "", "", "", "1", "", "50"};
        const QStringList cc = {"LoadLevel", "CC", "5", "3", "", "", "", "1", "", "50"};
        QTest::newRow("abc for a CR value") << cr << 3 << "abc"
                                            << "Load Value must be a number, not \"abc\" !"
                                            << "50";
        QTest::newRow("CR value 0") << cr << 3 << "0"
                                    << "Load Level must 0.533 ~ 10666(ohm) !"
                                    << "50";
        QTest::newRow("dwell 999999") << cc << 4 << "999999"
                                      << "Dwell Time must 0 ~ 86400 !"
                                      << "3";
        QTest::newRow("minutes in the measure time")
            << cc << 8 << "0:30"
            << "Measure Time must be a number, not \"0:30\" !"
            << "1";
        QTest::newRow("frequency 441") << cc << 10 << "441"
                                       << "Frequency must 40 ~ 440!"
                                       << "50";
        QTest::newRow("CC value 6") << cc << 3 << "6"
                                    << ""
                                    << "6";
        QTest::newRow("mode CR over a value of 0")
            << QStringList{"LoadLevel", "CC", "0", "3"} << 2 << "CR"
            << "Load Level must 0.533 ~ 10666(ohm) !"
            << "CC";
        QTest::newRow("loop count 2.5") << QStringList{"FOR", "", "", "", "2"} << 5 << "2.5"
                                        << "Loop Times must be a whole number 1 ~ 32767 !"
                                        << "2";
        QTest::newRow("cycle count held in its limits")
            << QStringList{"PlusLoad", "20", "5", "100", "250", "1", "3", "10", "NextStep"} << 7
            << "5000"
            << ""
            << "2400";
    }
    void inPlaceValues_getTheStepEditorsChecks()
    {
        QFETCH(QStringList, step);
        QFETCH(int, col);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, cell);
        EditorFixture f;
        f.setStep(2, step);
        f.gridEditor().openCellEditor(2, col);
        if (f.gridEditor().openEditor() == CellEditor::TextBox)
            f.box("TestStepInputText")->setText(typed);
        else
            f.combo("TestStepModeCombo")->setEditText(typed);
        QCOMPARE(f.gridEditor().commit(), message.isEmpty());
        QCOMPARE(f.prompts.messages(), message.isEmpty() ? QStringList() : QStringList{message});
        for (const auto& shown : f.prompts.shown)
            QCOMPARE(shown.title, QStringLiteral("Warning!"));
        QCOMPARE(f.grid().text(2, col), cell);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
    }

    void pulseLoadTimes_tipInSeconds()
    {
        EditorFixture f;
        f.setStep(2, {"PlusLoad", "20", "5", "100", "250", "1", "3", "10", "NextStep", ""});
        f.clickCell(2, 4);
        QCOMPARE(f.box("TestStepInputText")->toolTip(), QStringLiteral("0.1 Second"));
        f.clickCell(2, 5);
        QCOMPARE(f.box("TestStepInputText")->toolTip(), QStringLiteral("0.25 Second"));
        f.clickCell(2, 2);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::TextBox);
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
        f.setStep(3, {"", "", "", "", "", "", "", "", "", ""});
        f.clickCell(3, 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(f.grid().text(3, 1), QString());
    }

    void actionBoxLeftUnchanged_changesNothingInTheRow()
    {
        EditorFixture f;
        const QStringList suspend = {"Suspend", "", "", "1", "0", "", "", "1", "NextStep", ""};
        f.setStep(2, suspend);
        f.clickCell(2, 1);
        f.clickCell(4, 0);
        QCOMPARE(f.row(2), QStringList{"2"} + suspend);
        QVERIFY(!f.combo("TestStepActionCombo")->isVisible());
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
        QCOMPARE(f.gridEditor().rows().CopyStartRow, 2);
        QCOMPARE(f.gridEditor().rows().CopyEndRow, 6);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        rightMenuChoose(f, 6, "COPY");
        QCOMPARE(f.station->form.CopyPasteGrid.rows(), 6);
    }

    void cellsWithoutAnEditor_openNothing()
    {
        EditorFixture f;
        f.setStep(2, {"LOOP", "", "", "", "", "", "", "", "", ""});
        for (int col : {0, 2, 3, 4, 5, 8, 10}) {
            f.clickCell(2, col);
            QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        }
        QCOMPARE(f.row(2), QStringList({"2", "LOOP", "", "", "", "", "", "", "", "", ""}));
        // A load level has no loop count.
        f.clickCell(3, 5);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::None);
        f.clickCell(3, 10);
        QCOMPARE(f.gridEditor().openEditor(), CellEditor::TextBox);
    }

    void modeBox_emptyCellGetsCC_andCvIsRefused()
    {
        EditorFixture f;
        f.grid().setText(2, 2, QString());
        f.clickCell(2, 2);
        QComboBox* mode = f.combo("TestStepModeCombo");
        QVERIFY(mode->isVisible());
        QCOMPARE(f.grid().text(2, 2), QStringLiteral("CC"));
        QCOMPARE(mode->count(), 5);
        f.chooseItem(mode, "CR");
        QVERIFY(f.prompts.messages().isEmpty());
        f.pickItem(mode, "CV");
        QCOMPARE(f.prompts.messages(), QStringList({"並聯不可使用CV模式, 請重新選擇模式"}));
        QCOMPARE(mode->currentText(), QStringLiteral("CC"));
        // The message box did not close the editor; Enter writes what it shows.
        QVERIFY(mode->isVisible());
        QTest::keyClick(mode->lineEdit(), Qt::Key_Return);
        QCOMPARE(f.grid().text(2, 2), QStringLiteral("CC"));
    }

    void gotoBox_emptyCellGetsNextStep()
    {
        EditorFixture f;
        // The go-to column is hidden in the grid; its editor opens all the same.
        f.setStep(2, {"Suspend", "", "", "1", "0", "", "", "1", "", ""});
        f.gridEditor().openCellEditor(2, 9);
        QCOMPARE(f.grid().text(2, 9), QStringLiteral("NextStep"));
        QVERIFY(f.combo("GotoCombo")->isVisible());
        QCOMPARE(f.combo("GotoCombo")->currentText(), QStringLiteral("NextStep"));
        f.combo("GotoCombo")->setEditText(QStringLiteral("EndLoop"));
        f.gridEditor().commit();
        QCOMPARE(f.grid().text(2, 9), QStringLiteral("EndLoop"));
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
        QCOMPARE(f.row(2).mid(0, 4), QStringList({"2", "LoadLevel", "CC", "3"}));
        QCOMPARE(f.row(3).mid(0, 4), QStringList({"3", "LoadLevel", "CC", "4"}));
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
        QCOMPARE(f.row(2), QStringList({"2"}) + loadLevelRow(3).mid(1));
        QCOMPARE(f.row(3), QStringList({"3"}) + loadLevelRow(2).mid(1));
        QCOMPARE(f.grid().currentRow(), 2);
        f.click("MoveUpCommand");
        QCOMPARE(f.row(1), QStringList({"1"}) + loadLevelRow(3).mid(1));
        QCOMPARE(f.grid().currentRow(), 1);
        // The first step cannot go up, the last cannot go down.
        f.click("MoveUpCommand");
        QCOMPARE(f.row(1), QStringList({"1"}) + loadLevelRow(3).mid(1));
        f.click("MoveDnCommand");
        QCOMPARE(f.row(2), QStringList({"2"}) + loadLevelRow(3).mid(1));
        QCOMPARE(f.grid().currentRow(), 2);
        f.click("MoveDnCommand");
        QCOMPARE(f.grid().currentRow(), 3);
        const QStringList last = f.row(3);
        f.click("MoveDnCommand");
        QCOMPARE(f.row(3), last);
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
        QCOMPARE(buffer.rowTexts(1), QStringList({"1"}) + loadLevelRow(2).mid(1));
        QCOMPARE(buffer.rowTexts(2), QStringList({"2"}) + loadLevelRow(3).mid(1));
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
        QCOMPARE(f.row(7), QStringList({"7"}) + loadLevelRow(3).mid(1));
        QCOMPARE(f.grid().currentRow(), 7);

        // Row 1 pastes the rows as they were copied, below itself, and renumbers the rest. The
        // right button opens the menu without moving the current row.
        f.clickCell(1, 0);
        rightMenuChoose(f, 4, "PASTE");
        QCOMPARE(f.grid().rows(), 10);
        QCOMPARE(f.row(1), loadLevelRow(1));
        QCOMPARE(f.row(2), loadLevelRow(2));
        QCOMPARE(f.row(3), loadLevelRow(3));
        QCOMPARE(f.row(4).mid(0, 4), QStringList({"4", "LoadLevel", "CC", "22"}));
        QCOMPARE(f.row(5).mid(0, 4), QStringList({"5", "LoadLevel", "CC", "3"}));
        for (int r = 1; r < f.grid().rows(); ++r)
            QCOMPARE(f.grid().text(r, 0), QString::number(r));
        QCOMPARE(f.grid().text(9, 3), QStringLiteral("3"));
        QCOMPARE(f.grid().currentRow(), 3);
    }

    void markingFromRowFiveUpToRowTwo_copiesRowsTwoToFive()
    {
        EditorFixture f(6);
        markRows(f, 5, 2);
        QCOMPARE(f.gridEditor().rows().CopyStartRow, 2);
        QCOMPARE(f.gridEditor().rows().CopyEndRow, 5);
        rightMenuChoose(f, 2, "COPY");
        const GridModel& buffer = f.station->form.CopyPasteGrid;
        QCOMPARE(buffer.rows(), 5);
        for (int k = 1; k <= 4; ++k)
            QCOMPARE(buffer.rowTexts(k),
                     QStringList({QString::number(k)}) + loadLevelRow(k + 1).mid(1));
        QCOMPARE(buffer.text(0, 2), QStringLiteral("Mode / Volt"));
    }

    void rangeWithTheHeaderRow_isNotCopied()
    {
        EditorFixture f;
        StepGridRows& rows = f.gridEditor().rows();
        markRows(f, 2, 2);
        rightMenuChoose(f, 2, "COPY");
        const QStringList copied = f.station->form.CopyPasteGrid.rowTexts(1);
        rows.markPressed(3);
        rows.markReleased(0);
        QCOMPARE(rows.CopyStartRow, 0);
        f.gridEditor().copyRows();
        QCOMPARE(f.station->form.CopyPasteGrid.rows(), 2);
        QCOMPARE(f.station->form.CopyPasteGrid.rowTexts(1), copied);
        QCOMPARE(rows.PasteStartRow, 2);
        QCOMPARE(rows.PasteEndRow, 2);
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
        QCOMPARE(f.row(3), QStringList({"3"}) + loadLevelRow(4).mid(1));
        QCOMPARE(f.row(4), QStringList({"4"}) + loadLevelRow(5).mid(1));
    }

    void doubleClick_onTheStepNumberOpensTheEditor_elsewhereNot()
    {
        EditorFixture f;
        QWidget* frame = f.find("SetStepFrame");
        f.doubleClickCell(3, 3);
        QVERIFY(!frame->isVisible());
        f.gridEditor().abandon();
        f.doubleClickCell(3, 1);
        QVERIFY(!frame->isVisible());
        f.gridEditor().abandon();
        f.doubleClickCell(4, 0);
        QVERIFY(frame->isVisible());
        QCOMPARE(f.editor().editMode(), EditMode::Modify);
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
