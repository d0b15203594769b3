#include "EditorFixture.h"
#include "support/TestMain.h"
#include "ui/StepEditor.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kWarning = QStringLiteral("Warning!");
const QStringList kFrames = {
    "SuspendFrame",  "ChargeFrame", "CPChargeFrame", "DisChargeFrame", "ForFrame",
    "LoopFrame",     "ACIRFrame",   "DCIRLowFrame",  "DCIRHighFrame",  "OverDisChargeFrame",
    "PlusLoadFrame", "RampOnFrame", "RampOffFrame"};

// "box=text" pairs as the operator enters them.
using Entries = QStringList;

// Puts texts into the editor's boxes, whether their panel is shown or not.
void enter(const EditorFixture& f, const Entries& entries)
{
    for (const QString& entry : entries) {
        const QString name = entry.section(u'=', 0, 0);
        const QString text = entry.section(u'=', 1);
        if (auto* edit = f.window->findChild<QLineEdit*>(name)) {
            edit->setText(text);
        } else {
            auto* combo = f.combo(name);
            QVERIFY2(combo, qPrintable(name));
            combo->setEditText(text);
        }
    }
}

QStringList visibleFrames(const EditorFixture& f)
{
    QStringList shown;
    for (const QString& name : kFrames) {
        if (f.find(name)->isVisible())
            shown << name;
    }
    return shown;
}

} // namespace

class StepEditorTest : public QObject
{
    Q_OBJECT

private slots:
    void open_forAddInsertAndModify_showsCaptionAndTheActionsPanel()
    {
        EditorFixture f;
        auto* frame = f.find<QGroupBox>("SetStepFrame");
        QVERIFY(!frame->isVisible());
        QVERIFY(!f.find("SetStepCommand")->isVisible());

        f.click("AddCommand");
        QVERIFY(frame->isVisible());
        QVERIFY(f.find("SetStepCommand")->isVisible());
        QCOMPARE(frame->title(), QStringLiteral("Addition Step - Channel 1"));
        QCOMPARE(f.editor().editMode(), EditMode::Add);
        QCOMPARE(f.editor().editRow(), 6);
        QCOMPARE(f.combo("SetStepActionCombo")->currentText(), QStringLiteral("LoadLevel"));
        QCOMPARE(visibleFrames(f), QStringList({"RampOnFrame"}));
        QCOMPARE(f.combo("cmbLoadLevel")->currentText(), QStringLiteral("CC"));

        f.clickCell(3, 4);
        f.click("InsCommand");
        QCOMPARE(frame->title(), QStringLiteral("Insert Step - Channel 1"));
        QCOMPARE(f.editor().editMode(), EditMode::Insert);
        QCOMPARE(f.editor().editRow(), 3);

        f.setStep(4, {"Charge", "14.4", "2", "30", "0.2", "3", "5", "2", "EndLoop", ""});
        f.doubleClickCell(4, 0);
        QCOMPARE(frame->title(), QStringLiteral("Modify Channel - 1 Step - 4"));
        QCOMPARE(f.editor().editMode(), EditMode::Modify);
        QCOMPARE(f.combo("SetStepActionCombo")->currentText(), QStringLiteral("Charge"));
        QCOMPARE(visibleFrames(f), QStringList({"ChargeFrame"}));
        // The row, not the action's reset, decides what the boxes show.
        QCOMPARE(f.combo("ChargeGotoCombo")->currentText(), QStringLiteral("EndLoop"));
        QCOMPARE(f.box("ChargeVoltageText")->text(), QStringLiteral("14.4"));

        const QList<QStringList> before = {f.row(3), f.row(4), f.row(5)};
        f.click("CancelCommand");
        QVERIFY(!frame->isVisible());
        QVERIFY(!f.find("SetStepCommand")->isVisible());
        QCOMPARE(f.grid().rows(), 6);
        QCOMPARE((QList<QStringList>{f.row(3), f.row(4), f.row(5)}), before);
        QVERIFY(f.prompts.messages().isEmpty());
    }

    void add_freshLoadLevel_passesAndWritesTheDefaultsAsTheLastRow()
    {
        EditorFixture f(2);
        f.click("AddCommand");
        f.click("OKCommand");
        QVERIFY(f.prompts.messages().isEmpty());
        QCOMPARE(f.grid().rows(), 4);
        QCOMPARE(f.row(3),
                 QStringList({"3", "LoadLevel", "CC", "0", "300", "", "", "", "1", "", "60"}));
        QCOMPARE(f.grid().currentRow(), 3);
        QVERIFY(!f.find("SetStepFrame")->isVisible());
    }

    void chooseAction_showsOnlyItsPanel_andAppliesItsResets()
    {
        EditorFixture f;
        f.click("AddCommand");
        QComboBox* action = f.combo("SetStepActionCombo");
        QCOMPARE(action->count(), 16);
        const QList<QPair<QString, QString>> panels = {{"LoadLevel", "RampOnFrame"},
                                                       {"Charge", "ChargeFrame"},
                                                       {"CP-Charge", "CPChargeFrame"},
                                                       {"DisCharge", "DisChargeFrame"},
                                                       {"OverDisCharge", "OverDisChargeFrame"},
                                                       {"Suspend", "SuspendFrame"},
                                                       {"FOR", "ForFrame"},
                                                       {"LOOP", "LoopFrame"},
                                                       {"FOR2", "ForFrame"},
                                                       {"LOOP2", "LoopFrame"},
                                                       {"ACIR", "ACIRFrame"},
                                                       {"DCIRLow", "DCIRLowFrame"},
                                                       {"DCIRHigh", "DCIRHighFrame"},
                                                       {"PlusLoad", "PlusLoadFrame"},
                                                       {"RAMP ON", "RampOnFrame"},
                                                       {"RAMP OFF", "RampOffFrame"}};
        for (const auto& [name, frame] : panels) {
            f.chooseItem(action, name);
            QCOMPARE(visibleFrames(f), QStringList({frame}));
        }

        // DisCharge: the mode only when empty, the go-to always.
        QCOMPARE(f.combo("DisChargeModeCombo")->currentText(), QStringLiteral("CC"));
        f.combo("DisChargeModeCombo")->setEditText(QStringLiteral("CR"));
        f.combo("DisChargeGotoCombo")->setEditText(QStringLiteral("EndLoop"));
        f.chooseItem(action, "DisCharge");
        QCOMPARE(f.combo("DisChargeModeCombo")->currentText(), QStringLiteral("CR"));
        QCOMPARE(f.combo("DisChargeGotoCombo")->currentText(), QStringLiteral("NextStep"));
        f.combo("DisChargeModeCombo")->setEditText(QString());
        f.chooseItem(action, "DisCharge");
        QCOMPARE(f.combo("DisChargeModeCombo")->currentText(), QStringLiteral("CC"));
        // OverDisCharge: CC whatever it held; its go-to is left alone.
        f.combo("OverDisChargeModeCombo")->setEditText(QStringLiteral("CP"));
        f.combo("OverDisChargeGotoCombo")->setEditText(QStringLiteral("Continue"));
        f.chooseItem(action, "OverDisCharge");
        QCOMPARE(f.combo("OverDisChargeModeCombo")->currentText(), QStringLiteral("CC"));
        QCOMPARE(f.combo("OverDisChargeGotoCombo")->currentText(), QStringLiteral("Continue"));
        for (const char* name : {"RampOffCombo", "SuspendGotoCombo", "ChargeGotoCombo"}) {
            f.combo(name)->setEditText(QStringLiteral("XX"));
        }
        f.chooseItem(action, "RAMP OFF");
        f.chooseItem(action, "Suspend");
        f.chooseItem(action, "Charge");
        QCOMPARE(f.combo("RampOffCombo")->currentText(), QStringLiteral("CC"));
        QCOMPARE(f.combo("SuspendGotoCombo")->currentText(), QStringLiteral("NextStep"));
        QCOMPARE(f.combo("ChargeGotoCombo")->currentText(), QStringLiteral("NextStep"));
    }

    void boxes_keepTheirContentsBetweenUses()
    {
        EditorFixture f;
        f.addWith("Charge");
        f.typeInto(f.box("ChargeVoltageText"), "14.4");
        f.click("CancelCommand");
        f.addWith("Charge");
        QCOMPARE(f.box("ChargeVoltageText")->text(), QStringLiteral("14.4"));
    }

    void ok_writesTheRowOfTheChosenPanel_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QStringList>("row");
        // Fresh panels write their first contents.
        QTest::newRow("Charge fresh")
            << "Charge" << Entries{}
            << QStringList{"Charge", "0", "0", "0", "0", "1", "1", "1", "NextStep", ""};
        QTest::newRow("OverDisCharge fresh")
            << "OverDisCharge" << Entries{}
            << QStringList{"OverDisCharge", "CC", "2.3", "90", "1", "1", "1", "1", "", ""};
        // OK holds the pulse times in their limits, as leaving their boxes does.
        QTest::newRow("PlusLoad fresh")
            << "PlusLoad" << Entries{}
            << QStringList{"PlusLoad", "0", "0", "0.05", "0.05", "1", "1", "10", "", ""};
        QTest::newRow("ACIR fresh")
            << "ACIR" << Entries{} << QStringList{"ACIR", "", "0", "0", "0", "1", "1", "1", "", ""};
        QTest::newRow("LoadLevel")
            << "LoadLevel"
            << Entries{"cmbLoadLevel=CR", "txtLoadValue=25.50", "txtLoadLevelStopTime=12",
                       "txtLoadLevelMeasTime=2", "txtFrequency=50"}
            << QStringList{"LoadLevel", "CR", "25.5", "12", "", "", "", "2", "", "50"};
        QTest::newRow("RAMP ON") << "RAMP ON"
                                 << Entries{"RampOnCombo=CP", "RampOnCurrentText=7",
                                            "RampOnStopTimeText=4", "RampOnMeasTimeText=0.5",
                                            "RampOnGotoCombo=EndLoop"}
                                 << QStringList{"RAMP ON", "CP", "7",   "4", "",
                                                "",        "",   "0.5", "",  ""};
        QTest::newRow("RAMP OFF") << "RAMP OFF"
                                  << Entries{"RampOffCombo=CR", "RampOffCurrentText=40",
                                             "RampOffStopTimeText=6", "RampOffMeasTimeText=2",
                                             "RampOffGotoCombo=EndLoop"}
                                  << QStringList{"RAMP OFF", "CR", "40", "6", "",
                                                 "",         "",   "2",  "",  ""};
        QTest::newRow("Charge") << "Charge"
                                << Entries{"ChargeVoltageText=14.40", "ChargeCurrentText=2",
                                           "ChargeStopTimeText=30",   "ChargeStopCurrentText=0.2",
                                           "ChargeStableTimeText=3",  "ChargeStopAHText=5",
                                           "ChargeMeasTimeText=2",    "ChargeGotoCombo=EndLoop"}
                                << QStringList{"Charge", "14.4", "2", "30",      "0.2",
                                               "3",      "5",    "2", "EndLoop", ""};
        QTest::newRow("CP-Charge")
            << "CP-Charge" << Entries{"CPChargePowerText=100",    "CPChargeCurrentText=15",
                                      "CPChargeStopTimeText=20",  "CPChargeStopCurrentText=0.5",
                                      "CPChargeStableTimeText=2", "CPChargeStopAHText=4",
                                      "CPChargeMeasTimeText=3"}
            << QStringList{"CP-Charge", "100", "15", "20", "0.5", "2", "4", "3", "", ""};
        QTest::newRow("DisCharge: stop voltage 12.50 stored as 12.5")
            << "DisCharge" << Entries{"DisChargeModeCombo=CR",     "DisChargeCurrentText=8",
                                      "DisChargeStopTimeText=45",  "DisChargeStopVoltageText=12.50",
                                      "DisChargeStableTimeText=2", "DisChargeStopAHText=6",
                                      "DisChargeMeasTimeText=1",   "DisChargeGotoCombo=Continue"}
            << QStringList{"DisCharge", "CR", "8", "45", "12.5", "2", "6", "1", "Continue", ""};
        QTest::newRow("OverDisCharge")
            << "OverDisCharge"
            << Entries{"OverDisChargeModeCombo=CP",     "OverDisChargeCurrentText=3",
                       "OverDisChargeStopTimeText=60",  "OverDisChargePSVText=13.8",
                       "OverDisChargeStableTimeText=4", "OverDisChargeStopAHText=2",
                       "OverDisChargeMeasTimeText=5",   "OverDisChargeGotoCombo=EndLoop2"}
            << QStringList{"OverDisCharge", "CP", "3", "60", "13.8", "4", "2", "5", "EndLoop2", ""};
        QTest::newRow("Suspend: stop voltage 12.50 stored as typed")
            << "Suspend"
            << Entries{"SuspendTimeText=10", "SuspendStopVoltageText=12.50",
                       "SuspendMeasTimeText=2", "SuspendGotoCombo=EndLoop"}
            << QStringList{"Suspend", "", "", "10", "12.50", "", "", "2", "EndLoop", ""};
        QTest::newRow("FOR") << "FOR" << Entries{"ForTimesText=03"}
                             << QStringList{"FOR", "", "", "", "3", "", "", "", "", ""};
        QTest::newRow("FOR2") << "FOR2" << Entries{"ForTimesText=2"}
                              << QStringList{"FOR2", "", "", "", "2", "", "", "", "", ""};
        QTest::newRow("LOOP") << "LOOP" << Entries{}
                              << QStringList{"LOOP", "", "", "", "", "", "", "", "", ""};
        QTest::newRow("LOOP2") << "LOOP2" << Entries{}
                               << QStringList{"LOOP2", "", "", "", "", "", "", "", "", ""};
        QTest::newRow("ACIR") << "ACIR" << Entries{"ACIRModeCombo=CC",     "ACIRCurrentText=1.5",
                                                   "ACIRFrequencyText=1",  "ACIRRiseFallText=25",
                                                   "ACIRStableTimeText=2", "ACIRStopAHText=3",
                                                   "ACIRMeasTimeText=4"}
                              << QStringList{"ACIR", "CC", "1.5", "1", "25", "2", "3", "4", "", ""};
        QTest::newRow("DCIRLow") << "DCIRLow"
                                 << Entries{"DCIRLowModeCombo=CV",     "DCIRLowCurrentText=2",
                                            "DCIRLowStopTimeText=5",   "DCIRLowStopVoltageText=3.2",
                                            "DCIRLowStableTimeText=7", "DCIRLowStopAHText=8",
                                            "DCIRLowMeasTimeText=9"}
                                 << QStringList{"DCIRLow", "CV", "2", "5", "3.2",
                                                "7",       "8",  "9", "",  ""};
        QTest::newRow("DCIRHigh")
            << "DCIRHigh" << Entries{"DCIRHighModeCombo=CP",     "DCIRHighCurrentText=20",
                                     "DCIRHighStopTimeText=6",   "DCIRHighStopVoltageText=2.8",
                                     "DCIRHighStableTimeText=1", "DCIRHighStopAHText=0.5",
                                     "DCIRHighMeasTimeText=3"}
            << QStringList{"DCIRHigh", "CP", "20", "6", "2.8", "1", "0.5", "3", "", ""};
        QTest::newRow("PlusLoad")
            << "PlusLoad" << Entries{"PlusLoadHighCurrentText=20",   "PlusLoadLowCurrentText=5",
                                     "PlusLoadTHighText=100",        "PlusLoadTLowText=200",
                                     "PlusLoadStopVoltageText=10.5", "PlusLoadCycleCountText=50",
                                     "PlusLoadStartTimeText=15",     "PlusLoadGotoCombo=NextStep"}
            << QStringList{"PlusLoad", "20", "5", "100", "200", "10.5", "50", "15", "NextStep", ""};
    }
    void ok_writesTheRowOfTheChosenPanel()
    {
        QFETCH(QString, action);
        QFETCH(Entries, entries);
        QFETCH(QStringList, row);
        EditorFixture f(2);
        f.addWith(action);
        enter(f, entries);
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), QStringList());
        QCOMPARE(f.grid().rows(), 4);
        QCOMPARE(f.row(3), QStringList{"3"} + row);
        QCOMPARE(f.row(2).mid(0, 2), QStringList({"2", "LoadLevel"}));
    }

    void modify_showsTheRowAndWritesItBack_keepingTheFrequencyOfOtherActions()
    {
        EditorFixture f;
        f.setStep(2, {"DisCharge", "CR", "8", "45", "12.5", "2", "6", "1", "EndLoop", "77"});
        f.setStep(3, {"LoadLevel", "CP", "900", "20", "", "", "", "2", "", "400"});
        f.setStep(4, {"RAMP OFF", "CR", "30", "5", "", "", "", "0.5", "", ""});

        f.doubleClickCell(2, 0);
        QCOMPARE(f.combo("DisChargeModeCombo")->currentText(), QStringLiteral("CR"));
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("Ohm"));
        QCOMPARE(f.box("DisChargeStopVoltageText")->text(), QStringLiteral("12.5"));
        QCOMPARE(f.combo("DisChargeGotoCombo")->currentText(), QStringLiteral("EndLoop"));
        f.typeInto(f.box("DisChargeCurrentText"), "9.0");
        f.click("OKCommand");
        QCOMPARE(f.row(2), QStringList({"2", "DisCharge", "CR", "9", "45", "12.5", "2", "6", "1",
                                        "EndLoop", "77"}));
        QCOMPARE(f.grid().rows(), 6);

        f.doubleClickCell(3, 0);
        QCOMPARE(f.combo("cmbLoadLevel")->currentText(), QStringLiteral("CP"));
        QCOMPARE(f.box("txtFrequency")->text(), QStringLiteral("400"));
        QCOMPARE(f.find<QLabel>("LoadValueUnitLabel")->text(), QStringLiteral("W"));
        f.click("OKCommand");
        QCOMPARE(f.row(3),
                 QStringList({"3", "LoadLevel", "CP", "900", "20", "", "", "", "2", "", "400"}));

        f.doubleClickCell(4, 0);
        QCOMPARE(f.box("RampOffMeasTimeText")->text(), QStringLiteral("0.5"));
        QCOMPARE(f.box("RampOffCurrentText")->text(), QStringLiteral("30"));
        QCOMPARE(f.combo("RampOffCombo")->currentText(), QStringLiteral("CR"));
        f.click("OKCommand");
        QCOMPARE(f.row(4),
                 QStringList({"4", "RAMP OFF", "CR", "30", "5", "", "", "", "0.5", "", ""}));
        QVERIFY(f.prompts.messages().isEmpty());
    }

    void ok_hiddenLoadLevelValueOf200A_blocksACharge_andResetsToZero()
    {
        EditorFixture f;
        f.click("AddCommand");
        f.typeInto(f.box("txtLoadValue"), "200");
        f.chooseItem(f.combo("SetStepActionCombo"), "Charge");
        QVERIFY(!f.box("txtLoadValue")->isVisible());
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), QStringList({"Load Level must 0 ~ 112.5(A) !"}));
        QCOMPARE(f.prompts.shown.back().title, kWarning);
        QCOMPARE(f.box("txtLoadValue")->text(), QStringLiteral("0"));
        QCOMPARE(f.grid().rows(), 6);
        QVERIFY(f.find("SetStepFrame")->isVisible());
        // The reset value passes: the next OK adds the step.
        f.click("OKCommand");
        QCOMPARE(f.grid().rows(), 7);
        QCOMPARE(f.row(6).mid(0, 2), QStringList({"6", "Charge"}));
    }

    void ok_valuesTheEditorRefuses_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("message");
        QTest::newRow("text for a number") << "Charge" << Entries{"ChargeCurrentText=abc"}
                                           << "Charge Current must be a number, not \"abc\" !";
        QTest::newRow("empty box")
            << "Suspend" << Entries{"SuspendMeasTimeText="} << "Meas Time must be a number !";
        QTest::newRow("discharge below the least resistance")
            << "DisCharge" << Entries{"DisChargeModeCombo=CR", "DisChargeCurrentText=0.3"}
            << "Load Level must 0.533 ~ 10666(ohm) !";
        QTest::newRow("loop count 0") << "FOR" << Entries{"ForTimesText=0"}
                                      << "Loop Times must be a whole number 1 ~ 32767 !";
    }
    void ok_valuesTheEditorRefuses()
    {
        QFETCH(QString, action);
        QFETCH(Entries, entries);
        QFETCH(QString, message);
        EditorFixture f(2);
        f.addWith(action);
        enter(f, entries);
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), QStringList{message});
        QCOMPARE(f.prompts.shown.back().title, kWarning);
        QCOMPARE(f.grid().rows(), 3);
        QVERIFY(f.find("SetStepFrame")->isVisible());
    }

    void validateLoadLevel_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<Entries>("after");
        QTest::newRow("CC 112.5 passes")
            << Entries{"txtLoadValue=112.5"} << QStringList{} << Entries{"txtLoadValue=112.5"};
        QTest::newRow("LINCC 112.6")
            << Entries{"cmbLoadLevel=LINCC", "txtLoadValue=112.6"}
            << QStringList{"Load Level must 0 ~ 112.5(A) !"} << Entries{"txtLoadValue=0"};
        QTest::newRow("CC dwell 86401")
            << Entries{"txtLoadLevelStopTime=86401"} << QStringList{"Dwell Time must 0 ~ 86400 !"}
            << Entries{"txtLoadLevelStopTime=0.1"};
        QTest::newRow("CR dwell not checked")
            << Entries{"cmbLoadLevel=CR", "txtLoadValue=100", "txtLoadLevelStopTime=90000"}
            << QStringList{} << Entries{"txtLoadLevelStopTime=90000"};
        QTest::newRow("CR 0.5") << Entries{"cmbLoadLevel=CR", "txtLoadValue=0.5"}
                                << QStringList{"Load Level must 0.533 ~ 10666(ohm) !"}
                                << Entries{"txtLoadValue=0.533"};
        QTest::newRow("CV 49") << Entries{"cmbLoadLevel=CV", "txtLoadValue=49"}
                               << QStringList{"Load Level must 50 ~ 350(Vrms) !"}
                               << Entries{"txtLoadValue=50"};
        QTest::newRow("CV 350 passes") << Entries{"cmbLoadLevel=CV", "txtLoadValue=350"}
                                       << QStringList{} << Entries{"txtLoadValue=350"};
        QTest::newRow("CP 15001") << Entries{"cmbLoadLevel=CP", "txtLoadValue=15001"}
                                  << QStringList{"Load Level must 0 ~ 15000(W) !"}
                                  << Entries{"txtLoadValue=0"};
        QTest::newRow("unknown mode")
            << Entries{"cmbLoadLevel=LoadLevel"} << QStringList{"Load Mode ERROR !"}
            << Entries{"cmbLoadLevel=LoadLevel"};
        QTest::newRow("value and measure time, in order")
            << Entries{"txtLoadValue=200", "txtLoadLevelMeasTime=0"}
            << QStringList{"Load Level must 0 ~ 112.5(A) !",
                           "Load Level Meas Time must 0.1 ~ 86400 !"}
            << Entries{"txtLoadValue=0", "txtLoadLevelMeasTime=0.1"};
        QTest::newRow("every check")
            << Entries{"txtLoadValue=-1", "txtLoadLevelStopTime=-1", "txtLoadLevelMeasTime=86401",
                       "txtFrequency=441"}
            << QStringList{"Load Level must 0 ~ 112.5(A) !", "Dwell Time must 0 ~ 86400 !",
                           "Load Level Meas Time must 0.1 ~ 86400 !", "Frequency must 40 ~ 440!"}
            << Entries{"txtLoadValue=0", "txtLoadLevelStopTime=0.1", "txtLoadLevelMeasTime=0.1",
                       "txtFrequency=40"};
        QTest::newRow("frequency 40 passes")
            << Entries{"txtFrequency=40"} << QStringList{} << Entries{"txtFrequency=40"};
        QTest::newRow("frequency 440 passes")
            << Entries{"txtFrequency=440"} << QStringList{} << Entries{"txtFrequency=440"};
        QTest::newRow("frequency 39.9")
            << Entries{"txtFrequency=39.9"} << QStringList{"Frequency must 40 ~ 440!"}
            << Entries{"txtFrequency=40"};
    }
    void validateLoadLevel()
    {
        QFETCH(Entries, entries);
        QFETCH(QStringList, messages);
        QFETCH(Entries, after);
        EditorFixture f;
        f.click("AddCommand");
        enter(f, entries);
        f.click("OKCommand");
        QCOMPARE(f.prompts.messages(), messages);
        for (const auto& shown : f.prompts.shown)
            QCOMPARE(shown.title, kWarning);
        for (const QString& entry : after)
            QCOMPARE(f.editor().boxText(entry.section(u'=', 0, 0)), entry.section(u'=', 1));
        // A refusal leaves the editor open and the grid as it was.
        QCOMPARE(f.grid().rows(), messages.isEmpty() ? 7 : 6);
        QCOMPARE(f.find("SetStepFrame")->isVisible(), !messages.isEmpty());
        if (!messages.isEmpty() && !after.first().startsWith("cmbLoadLevel"))
            QVERIFY(f.box("txtLoadValue")->hasFocus());
    }

    void insert_atRowThreeOfFive_numbersTheNewStepThreeAndRenumbersTheRest()
    {
        EditorFixture f;
        f.clickCell(3, 0);
        f.click("InsCommand");
        f.chooseItem(f.combo("SetStepActionCombo"), "FOR");
        f.typeInto(f.box("ForTimesText"), "4");
        f.click("OKCommand");
        QCOMPARE(f.grid().rows(), 7);
        QCOMPARE(f.row(3).mid(0, 6), QStringList({"3", "FOR", "", "", "", "4"}));
        for (int r = 4; r <= 6; ++r) {
            // Old step n is now row n + 1 with its own contents.
            QCOMPARE(f.grid().text(r, 0), QString::number(r));
            QCOMPARE(f.grid().text(r, 3), QString::number(r - 1));
        }
        QCOMPARE(f.row(2).mid(0, 4), QStringList({"2", "LoadLevel", "CC", "2"}));
    }

    void ok_with1500Steps_refusesAddInsertAndModify()
    {
        EditorFixture f(2);
        GridModel& grid = f.grid();
        grid.setRows(1501);
        for (int r = 1; r <= 1500; ++r)
            grid.setRowTexts(r, {QString::number(r), "LOOP"});
        const auto refused = [&](const char* how) {
            f.prompts.shown.clear();
            f.click("OKCommand");
            QCOMPARE(f.prompts.messages(), QStringList({"Test Step too much, Please check it."}));
            QCOMPARE(grid.rows(), 1501);
            QVERIFY2(f.find("SetStepFrame")->isVisible(), how);
        };
        f.click("AddCommand");
        refused("add");
        f.clickCell(1, 3);
        f.click("InsCommand");
        refused("insert");
        f.doubleClickCell(2, 0);
        QCOMPARE(f.editor().editMode(), EditMode::Modify);
        f.chooseItem(f.combo("SetStepActionCombo"), "FOR");
        refused("modify");
        QCOMPARE(grid.text(2, 1), QStringLiteral("LOOP"));

        // 1499 steps: the 1500th is taken.
        grid.removeGridRow(1500);
        f.click("AddCommand");
        f.click("OKCommand");
        QCOMPARE(grid.rows(), 1501);
        QCOMPARE(grid.text(1500, 1), QStringLiteral("LoadLevel"));
    }

    void minuteBoxes_enterOrLeaving_turnMinutesAndSecondsIntoMinutes()
    {
        EditorFixture f;
        f.addWith("Suspend");
        QLineEdit* time = f.box("SuspendTimeText");
        f.typeInto(time, "1:30");
        QTest::keyClick(time, Qt::Key_Return);
        QCOMPARE(time->text(), QStringLiteral("1.5000"));
        f.typeInto(time, "90");
        QTest::keyClick(time, Qt::Key_Return);
        QCOMPARE(time->text(), QStringLiteral("90"));

        // Leaving the box converts too, so OK stores the minutes.
        f.chooseItem(f.combo("SetStepActionCombo"), "DisCharge");
        QLineEdit* stop = f.box("DisChargeStopTimeText");
        f.typeInto(stop, "5:30");
        QTest::mouseClick(f.box("DisChargeStopVoltageText"), Qt::LeftButton);
        QCOMPARE(stop->text(), QStringLiteral("5.5000"));
        f.typeInto(stop, "2:15");
        QTest::mouseClick(f.find("OKCommand"), Qt::LeftButton);
        QCOMPARE(f.grid().text(6, 4), QStringLiteral("2.25"));

        // Boxes outside the minute list are left as typed.
        f.addWith("Charge");
        f.typeInto(f.box("ChargeStableTimeText"), "1:30");
        QTest::keyClick(f.box("ChargeStableTimeText"), Qt::Key_Return);
        QCOMPARE(f.box("ChargeStableTimeText")->text(), QStringLiteral("1:30"));
        for (const char* name : {"ChargeStopTimeText"}) {
            f.typeInto(f.box(name), "0:45");
            QTest::keyClick(f.box(name), Qt::Key_Enter);
            QCOMPARE(f.box(name)->text(), QStringLiteral("0.7500"));
        }
    }

    void plusLoadLimits_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("held");
        QTest::newRow("cycle 0") << "PlusLoadCycleCountText"
                                 << "0"
                                 << "1";
        QTest::newRow("cycle 2401") << "PlusLoadCycleCountText"
                                    << "2401"
                                    << "2400";
        QTest::newRow("cycle 2400") << "PlusLoadCycleCountText"
                                    << "2400"
                                    << "2400";
        QTest::newRow("T-High 0.01") << "PlusLoadTHighText"
                                     << "0.01"
                                     << "0.05";
        QTest::newRow("T-High 0.050 as typed") << "PlusLoadTHighText"
                                               << "0.050"
                                               << "0.050";
        QTest::newRow("T-Low 10000") << "PlusLoadTLowText"
                                     << "10000"
                                     << "9999";
        QTest::newRow("T-Low 0") << "PlusLoadTLowText"
                                 << "0"
                                 << "0.05";
        QTest::newRow("stop voltage not held") << "PlusLoadStopVoltageText"
                                               << "0"
                                               << "0";
    }
    void plusLoadLimits()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(QString, held);
        EditorFixture f;
        f.addWith("PlusLoad");
        QLineEdit* edit = f.box(box);
        f.typeInto(edit, typed);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->text(), held);
        // Leaving the box holds it the same way.
        f.typeInto(edit, typed);
        QTest::mouseClick(f.box("PlusLoadHighCurrentText"), Qt::LeftButton);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), held);
    }

    void unitLabels_followTheModeBoxes()
    {
        EditorFixture f;
        f.click("AddCommand");
        auto* loadUnit = f.find<QLabel>("LoadValueUnitLabel");
        const QList<QPair<QString, QString>> loadLevel = {{"CR", "Ohm"},  {"CV", "Vrms"},
                                                          {"CP", "W"},    {"LINCC", "A"},
                                                          {"CV", "Vrms"}, {"CC", "A"}};
        for (const auto& [mode, unit] : loadLevel) {
            f.chooseItem(f.combo("cmbLoadLevel"), mode);
            QCOMPARE(loadUnit->text(), unit);
        }
        // A text that is no mode leaves the unit as it was.
        f.combo("cmbLoadLevel")->setEditText(QStringLiteral("XX"));
        QCOMPARE(loadUnit->text(), QStringLiteral("A"));

        f.chooseItem(f.combo("SetStepActionCombo"), "RAMP OFF");
        f.chooseItem(f.combo("RampOffCombo"), "CV");
        QCOMPARE(f.find<QLabel>("RampOffUnitLabel")->text(), QStringLiteral("V"));
        f.chooseItem(f.combo("RampOffCombo"), "CR");
        QCOMPARE(f.find<QLabel>("RampOffUnitLabel")->text(), QStringLiteral("Ohm"));

        f.station->ConnectedLoadCount = 1;
        f.chooseItem(f.combo("SetStepActionCombo"), "DisCharge");
        f.chooseItem(f.combo("DisChargeModeCombo"), "CV");
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("V"));
        QVERIFY(f.prompts.messages().isEmpty());
    }

    void disChargeMode_cvWithLoadsInParallel_isRefused()
    {
        EditorFixture f;
        f.station->ConnectedLoadCount = 2;
        f.addWith("DisCharge");
        QComboBox* mode = f.combo("DisChargeModeCombo");
        f.chooseItem(mode, "CP");
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("W"));
        f.pickItem(mode, "CV");
        QCOMPARE(f.prompts.messages(), QStringList({"並聯不可使用CV模式, 請重新選擇模式"}));
        QCOMPARE(mode->currentText(), QStringLiteral("CC"));
        QCOMPARE(f.find<QLabel>("DisChargeUnitLabel")->text(), QStringLiteral("A"));
        // Typed in, it is refused as well.
        mode->lineEdit()->selectAll();
        QTest::keyClicks(mode->lineEdit(), "CV");
        QCOMPARE(f.prompts.messages().size(), 2);
        QCOMPARE(mode->currentText(), QStringLiteral("CC"));
        // A step that holds CV still shows what it holds.
        f.click("CancelCommand");
        f.setStep(2, {"DisCharge", "CV", "8", "45", "12", "2", "6", "1", "NextStep", ""});
        f.doubleClickCell(2, 0);
        QCOMPARE(mode->currentText(), QStringLiteral("CV"));
        QCOMPARE(f.prompts.messages().size(), 2);
    }

    void showLoadLevelLayout_followsTheConnectionKind_data()
    {
        QTest::addColumn<QString>("connectMode");
        QTest::addColumn<bool>("loadLevel");
        QTest::newRow("TCP/IP") << "2" << true;
        QTest::newRow("serial") << "0" << false;
        QTest::newRow("GPIB") << "1" << false;
    }
    void showLoadLevelLayout_followsTheConnectionKind()
    {
        QFETCH(QString, connectMode);
        QFETCH(bool, loadLevel);
        EditorFixture f(2, connectMode);
        QCOMPARE(f.station->settings.TcpipMode, loadLevel);
        f.click("AddCommand");
        auto* frame = f.find<QGroupBox>("RampOnFrame");
        QVERIFY(frame->isVisible());
        QCOMPARE(frame->title(),
                 loadLevel ? QStringLiteral("Load Level Setup") : QStringLiteral("RAMP ON Setup"));
        for (const char* name : {"cmbLoadLevel", "txtLoadValue", "txtLoadLevelStopTime",
                                 "txtLoadLevelMeasTime", "lblFrequency", "txtFrequency"})
            QCOMPARE(f.find(name)->isVisible(), loadLevel);
        for (const char* name :
             {"RampOnCombo", "RampOnCurrentText", "RampOnStopTimeText", "RampOnMeasTimeText"})
            QCOMPARE(f.find(name)->isVisible(), !loadLevel);
        const QStringList labels =
            loadLevel ? QStringList{"Load Mode :", "Load Value :", "Dwell Time :", "Measure Time :"}
                      : QStringList{"DisCharge Mode :", "DisCharge Value :", "DisCharge Time :",
                                    "Measure Time :"};
        const QStringList labelNames = {"cmbLoadLevelLabel", "txtLoadValueLabel",
                                        "txtLoadLevelStopTimeLabel", "txtLoadLevelMeasTimeLabel"};
        for (int i = 0; i < labels.size(); ++i) {
            QVERIFY(f.find<QLabel>(labelNames[i])->isVisible());
            QCOMPARE(f.find<QLabel>(labelNames[i])->text(), labels[i]);
        }
        // RAMP ON shows the same layout.
        f.chooseItem(f.combo("SetStepActionCombo"), "RAMP ON");
        QCOMPARE(f.find("txtFrequency")->isVisible(), loadLevel);
        QCOMPARE(f.find("RampOnCombo")->isVisible(), !loadLevel);
    }

    void panels_showTheirLabelsUnitsAndTips()
    {
        EditorFixture f;
        f.click("AddCommand");
        QCOMPARE(f.find<QLabel>("SetStepActionLabel")->text(), QStringLiteral("Action Mode :"));
        QCOMPARE(f.find<QLabel>("lblFrequency")->text(), QStringLiteral("Frequency(Hz) : "));
        QCOMPARE(f.box("txtLoadLevelStopTime")->toolTip(), QStringLiteral("1~86400 Seconds"));
        QCOMPARE(f.box("txtLoadLevelMeasTime")->toolTip(), QStringLiteral("1~60 Seconds"));
        QCOMPARE(f.find<QPushButton>("OKCommand")->text(), QStringLiteral("OK"));
        QCOMPARE(f.find<QPushButton>("CancelCommand")->text(), QStringLiteral("Cancel"));
        const QList<QStringList> rows = {
            {"DisChargeFrame", "DisCharge Setup", "DisChargeStopAHText", "Stop Ah :", "Ah"},
            {"OverDisChargeFrame", "OverDisCharge Setup", "OverDisChargePSVText",
             "PS Charge Voltage :", "V"},
            {"CPChargeFrame", "CP-Charge Setup", "CPChargeCurrentText", "Max Voltage :", "V"},
            {"ACIRFrame", "ACIR Setup", "ACIRRiseFallText", "ACIR Rise/Fall :", "mA/us"},
            {"DCIRHighFrame", "DCIR High Setup", "DCIRHighCurrentText", "DCIR High Current :", "A"},
            {"PlusLoadFrame", "PlusLoad Setup", "PlusLoadCycleCountText", "Cycle Count :", ""},
            {"PlusLoadFrame", "PlusLoad Setup", "PlusLoadStartTimeText", "Setup Time :", "mS"},
            {"SuspendFrame", "Suspend Setup", "SuspendTimeText", "Suspend Time :", "Minutes"},
            {"ForFrame", "FOR Setup", "ForTimesText", "Times :", ""},
            {"RampOffFrame", "RAMP OFF Setup", "RampOffStopTimeText",
             "DisCharge Time :", "Seconds"},
        };
        for (const QStringList& r : rows) {
            QCOMPARE(f.find<QGroupBox>(r[0])->title(), r[1]);
            QLineEdit* edit = f.box(r[2]);
            QVERIFY(f.find(r[0])->isAncestorOf(edit));
            QCOMPARE(f.find<QLabel>(r[2] + "Label")->text(), r[3]);
            QCOMPARE(f.find<QLabel>(r[2] + "Label")->buddy(), edit);
            QCOMPARE(f.find<QLabel>(r[2] + "Unit")->text(), r[4]);
        }
        QCOMPARE(f.find<QGroupBox>("LoopFrame")->title(), QStringLiteral("LOOP Setup"));
        QCOMPARE(f.find("LoopFrame")->findChildren<QLineEdit*>().size(), 0);
        QCOMPARE(f.combo("ACIRModeCombo")->count(), 4);
        QCOMPARE(f.combo("cmbLoadLevel")->itemText(1), QStringLiteral("LINCC"));
        QCOMPARE(f.combo("PlusLoadGotoCombo")->itemText(3), QStringLiteral("Continue"));
    }
};

ACL3_WIDGET_TEST_MAIN(StepEditorTest)
#include "tst_stepeditor.moc"
