// Protects the step editor: the rows its panels write, the values it refuses and the panel shown.
#include "EditorFixture.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"
#include "ui/StepEditor.h"

#include <QGroupBox>
#include <QLabel>
#include <QtTest>

namespace {

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

class StepEditorTest : public QObject
{
    Q_OBJECT

private slots:
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

    void modify_showsTheRowAndWritesItBack_keepingTheFrequencyOfOtherActions()
    {
        EditorFixture f;
        f.setStep(2, fields("DisCharge|CR|8|45|12.5|2|6|1|EndLoop|77"));
        f.setStep(3, fields("LoadLevel|CP|900|20||||2||400"));
        f.doubleClickCell(2, 0);
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("Ohm"));
        f.typeInto(f.box("DisChargeCurrentText"), "9.0");
        f.click("OKCommand");
        QCOMPARE(f.row(2), QStringList{"2"} + fields("DisCharge|CR|9|45|12.5|2|6|1|EndLoop|77"));
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

ACL3_WIDGET_TEST_MAIN(StepEditorTest)
#include "tst_stepeditor.moc"
