#include "ui/StepPanelTable.h"

#include "common/NumberText.h"

namespace {

using Kind = StepBoxKind;
using Store = StepBoxStore;
using Reset = StepBoxReset;
using Entry = StepBoxEntry;
using Unit = StepUnitRule;

// The boxes that the mode, value, time and measure time of the RAMP ON / RAMP OFF panels have.
std::vector<StepBox> rampBoxes(bool on)
{
    // RAMP ON lives in the shared frame: its first four rows use the Load Level rows' labels.
    const auto shared = [on](const char* label) { return on ? label : nullptr; };
    return {
        {.label = "DisCharge Mode :",
         .box = on ? "RampOnCombo" : "RampOffCombo",
         .kind = Kind::ModeCombo,
         .column = 2,
         .store = Store::AsTyped,
         .reset = Reset::FirstItem,
         .labelName = shared("cmbLoadLevelLabel")},
        {.label = "DisCharge Value :",
         .box = on ? "RampOnCurrentText" : "RampOffCurrentText",
         .unit = "A",
         .initial = "0",
         .column = 3,
         .unitRule = Unit::RampMode,
         .labelName = shared("txtLoadValueLabel"),
         .unitName = on ? "RampOnUnitLabel" : "RampOffUnitLabel"},
        {.label = "DisCharge Time :",
         .box = on ? "RampOnStopTimeText" : "RampOffStopTimeText",
         .unit = "Seconds",
         .initial = "0",
         .column = 4,
         .entry = Entry::Minutes,
         .labelName = shared("txtLoadLevelStopTimeLabel")},
        {.label = "Measure Time :",
         .box = on ? "RampOnMeasTimeText" : "RampOffMeasTimeText",
         .unit = "Seconds",
         .initial = "1",
         .column = 8,
         .labelName = shared("txtLoadLevelMeasTimeLabel")},
        {.label = "Go To :",
         .box = on ? "RampOnGotoCombo" : "RampOffGotoCombo",
         .kind = Kind::GotoCombo,
         .store = Store::NotStored},
    };
}

// The DCIR Low and DCIR High panels differ only in names and labels.
StepPanel dcirPanel(bool high)
{
    const auto pick = [high](const char* low, const char* hi) { return high ? hi : low; };
    return {{high ? actions::DCIRHigh : actions::DCIRLow},
            pick("DCIRLowFrame", "DCIRHighFrame"),
            pick("DCIR Low Setup", "DCIR High Setup"),
            {
                {.label = pick("DCIR Low Mode :", "DCIR High Mode :"),
                 .box = pick("DCIRLowModeCombo", "DCIRHighModeCombo"),
                 .kind = Kind::ModeCombo,
                 .column = 2,
                 .store = Store::AsTyped},
                {.label = pick("DCIR Low Current :", "DCIR High Current :"),
                 .box = pick("DCIRLowCurrentText", "DCIRHighCurrentText"),
                 .unit = "A",
                 .initial = "0",
                 .column = 3},
                {.label = "Stop Time :",
                 .box = pick("DCIRLowStopTimeText", "DCIRHighStopTimeText"),
                 .unit = "Minutes",
                 .initial = "0",
                 .column = 4,
                 .entry = Entry::Minutes},
                {.label = "Stop Voltage :",
                 .box = pick("DCIRLowStopVoltageText", "DCIRHighStopVoltageText"),
                 .unit = "V",
                 .initial = "0",
                 .column = 5},
                {.label = "Stable Time :",
                 .box = pick("DCIRLowStableTimeText", "DCIRHighStableTimeText"),
                 .unit = "Seconds",
                 .initial = "1",
                 .column = 6},
                {.label = "Stop AH :",
                 .box = pick("DCIRLowStopAHText", "DCIRHighStopAHText"),
                 .unit = "AH",
                 .initial = "1",
                 .column = 7},
                {.label = "Meas Time :",
                 .box = pick("DCIRLowMeasTimeText", "DCIRHighMeasTimeText"),
                 .unit = "Seconds",
                 .initial = "1",
                 .column = 8},
            }};
}

std::vector<StepPanel> buildPanels()
{
    std::vector<StepPanel> panels;
    panels.push_back({{actions::LoadLevel},
                      "RampOnFrame",
                      "Load Level Setup",
                      {
                          {.label = "Load Mode :",
                           .box = "cmbLoadLevel",
                           .kind = Kind::LoadLevelCombo,
                           .column = 2,
                           .store = Store::AsTyped,
                           .reset = Reset::FirstItem},
                          {.label = "Load Value :",
                           .box = "txtLoadValue",
                           .unit = "A",
                           .initial = "0",
                           .column = 3,
                           .unitRule = Unit::LoadLevelMode,
                           .unitName = "LoadValueUnitLabel"},
                          {.label = "Dwell Time :",
                           .box = "txtLoadLevelStopTime",
                           .initial = "300",
                           .column = 4,
                           .tip = "1~86400 Seconds"},
                          {.label = "Measure Time :",
                           .box = "txtLoadLevelMeasTime",
                           .initial = "1",
                           .column = 8,
                           .tip = "1~60 Seconds"},
                          {.label = "Frequency(Hz) : ",
                           .box = "txtFrequency",
                           .unit = "Hz",
                           .initial = "60",
                           .column = stepcolumns::Frequency,
                           .labelName = "lblFrequency"},
                      }});
    panels.push_back({{actions::RampOn}, "RampOnFrame", "RAMP ON Setup", rampBoxes(true)});
    panels.push_back({{actions::RampOff}, "RampOffFrame", "RAMP OFF Setup", rampBoxes(false)});
    panels.push_back({{actions::Charge},
                      "ChargeFrame",
                      "Charge Setup",
                      {
                          {.label = "Charge Voltage :",
                           .box = "ChargeVoltageText",
                           .unit = "V",
                           .initial = "0",
                           .column = 2},
                          {.label = "Charge Current :",
                           .box = "ChargeCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 3},
                          {.label = "Stop Time :",
                           .box = "ChargeStopTimeText",
                           .unit = "Minutes",
                           .initial = "0",
                           .column = 4,
                           .entry = Entry::Minutes},
                          {.label = "Stop Current :",
                           .box = "ChargeStopCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 5},
                          {.label = "Stable Time :",
                           .box = "ChargeStableTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 6},
                          {.label = "Stop AH :",
                           .box = "ChargeStopAHText",
                           .unit = "AH",
                           .initial = "1",
                           .column = 7},
                          {.label = "Meas Time :",
                           .box = "ChargeMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                          {.label = "Go To :",
                           .box = "ChargeGotoCombo",
                           .kind = Kind::GotoCombo,
                           .column = 9,
                           .store = Store::AsTyped,
                           .reset = Reset::FirstItem},
                      }});
    panels.push_back({{actions::CPCharge},
                      "CPChargeFrame",
                      "CP-Charge Setup",
                      {
                          {.label = "Charge Power :",
                           .box = "CPChargePowerText",
                           .unit = "W",
                           .initial = "0",
                           .column = 2},
                          {.label = "Max Voltage :",
                           .box = "CPChargeCurrentText",
                           .unit = "V",
                           .initial = "0",
                           .column = 3},
                          {.label = "Stop Time :",
                           .box = "CPChargeStopTimeText",
                           .unit = "Minutes",
                           .initial = "0",
                           .column = 4,
                           .entry = Entry::Minutes},
                          {.label = "Stop Current :",
                           .box = "CPChargeStopCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 5},
                          {.label = "Stable Time :",
                           .box = "CPChargeStableTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 6},
                          {.label = "Stop AH :",
                           .box = "CPChargeStopAHText",
                           .unit = "AH",
                           .initial = "1",
                           .column = 7},
                          {.label = "Meas Time :",
                           .box = "CPChargeMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                      }});
    panels.push_back({{actions::DisCharge},
                      "DisChargeFrame",
                      "DisCharge Setup",
                      {
                          {.label = "DisCharge Mode :",
                           .box = "DisChargeModeCombo",
                           .kind = Kind::ModeCombo,
                           .column = 2,
                           .store = Store::AsTyped,
                           .reset = Reset::CCWhenEmpty},
                          {.label = "DisCharge Current :",
                           .box = "DisChargeCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 3,
                           .unitRule = Unit::DisChargeMode,
                           .unitName = "DisChargeUnitLabel"},
                          {.label = "Stop Time :",
                           .box = "DisChargeStopTimeText",
                           .unit = "Minutes",
                           .initial = "0",
                           .column = 4,
                           .entry = Entry::Minutes},
                          {.label = "Stop Voltage :",
                           .box = "DisChargeStopVoltageText",
                           .unit = "V",
                           .initial = "0",
                           .column = 5},
                          {.label = "Stable Time :",
                           .box = "DisChargeStableTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 6},
                          {.label = "Stop Ah :",
                           .box = "DisChargeStopAHText",
                           .unit = "Ah",
                           .initial = "1",
                           .column = 7},
                          {.label = "Meas Time :",
                           .box = "DisChargeMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                          {.label = "Go To :",
                           .box = "DisChargeGotoCombo",
                           .kind = Kind::GotoCombo,
                           .column = 9,
                           .store = Store::AsTyped,
                           .reset = Reset::FirstItem},
                      }});
    panels.push_back({{actions::OverDisCharge},
                      "OverDisChargeFrame",
                      "OverDisCharge Setup",
                      {
                          {.label = "DisCharge Mode :",
                           .box = "OverDisChargeModeCombo",
                           .kind = Kind::ModeCombo,
                           .column = 2,
                           .store = Store::AsTyped,
                           .reset = Reset::CC},
                          {.label = "DisCharge Current :",
                           .box = "OverDisChargeCurrentText",
                           .unit = "A",
                           .initial = "2.3",
                           .column = 3},
                          {.label = "Stop Time :",
                           .box = "OverDisChargeStopTimeText",
                           .unit = "Minutes",
                           .initial = "90",
                           .column = 4,
                           .entry = Entry::Minutes},
                          {.label = "PS Charge Voltage :",
                           .box = "OverDisChargePSVText",
                           .unit = "V",
                           .initial = "1",
                           .column = 5},
                          {.label = "Stable Time :",
                           .box = "OverDisChargeStableTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 6},
                          {.label = "Stop AH :",
                           .box = "OverDisChargeStopAHText",
                           .unit = "AH",
                           .initial = "1",
                           .column = 7},
                          {.label = "Meas Time :",
                           .box = "OverDisChargeMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                          {.label = "Go To :",
                           .box = "OverDisChargeGotoCombo",
                           .kind = Kind::GotoCombo,
                           .column = 9,
                           .store = Store::AsTyped},
                      }});
    panels.push_back({{actions::Suspend},
                      "SuspendFrame",
                      "Suspend Setup",
                      {
                          {.label = "Suspend Time :",
                           .box = "SuspendTimeText",
                           .unit = "Minutes",
                           .initial = "1",
                           .column = 4,
                           .entry = Entry::Minutes},
                          {.label = "Stop Voltage :",
                           .box = "SuspendStopVoltageText",
                           .unit = "V",
                           .initial = "0",
                           .column = 5,
                           .store = Store::AsTyped},
                          {.label = "Meas Time :",
                           .box = "SuspendMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                          {.label = "Go To :",
                           .box = "SuspendGotoCombo",
                           .kind = Kind::GotoCombo,
                           .column = 9,
                           .store = Store::AsTyped,
                           .reset = Reset::FirstItem},
                      }});
    panels.push_back({{actions::For, actions::For2},
                      "ForFrame",
                      "FOR Setup",
                      {{.label = "Times :", .box = "ForTimesText", .initial = "1", .column = 5}}});
    panels.push_back({{actions::Loop, actions::Loop2}, "LoopFrame", "LOOP Setup", {}});
    panels.push_back({{actions::ACIR},
                      "ACIRFrame",
                      "ACIR Setup",
                      {
                          {.label = "ACIR Load Mode :",
                           .box = "ACIRModeCombo",
                           .kind = Kind::ModeCombo,
                           .column = 2,
                           .store = Store::AsTyped},
                          {.label = "ACIR Current :",
                           .box = "ACIRCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 3},
                          {.label = "Frequency :",
                           .box = "ACIRFrequencyText",
                           .unit = "KHz",
                           .initial = "0",
                           .column = 4},
                          {.label = "ACIR Rise/Fall :",
                           .box = "ACIRRiseFallText",
                           .unit = "mA/us",
                           .initial = "0",
                           .column = 5},
                          {.label = "Stable Time :",
                           .box = "ACIRStableTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 6},
                          {.label = "Stop AH :",
                           .box = "ACIRStopAHText",
                           .unit = "AH",
                           .initial = "1",
                           .column = 7},
                          {.label = "Meas Time :",
                           .box = "ACIRMeasTimeText",
                           .unit = "Seconds",
                           .initial = "1",
                           .column = 8},
                      }});
    panels.push_back(dcirPanel(false));
    panels.push_back(dcirPanel(true));
    panels.push_back({{actions::PlusLoad},
                      "PlusLoadFrame",
                      "PlusLoad Setup",
                      {
                          {.label = "High Current :",
                           .box = "PlusLoadHighCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 2},
                          {.label = "Low Current :",
                           .box = "PlusLoadLowCurrentText",
                           .unit = "A",
                           .initial = "0",
                           .column = 3},
                          {.label = "T-High :",
                           .box = "PlusLoadTHighText",
                           .unit = "mS",
                           .initial = "0",
                           .column = 4,
                           .entry = Entry::PulseTime},
                          {.label = "T-Low :",
                           .box = "PlusLoadTLowText",
                           .unit = "mS",
                           .initial = "0",
                           .column = 5,
                           .entry = Entry::PulseTime},
                          {.label = "Stop Voltage :",
                           .box = "PlusLoadStopVoltageText",
                           .unit = "V",
                           .initial = "1",
                           .column = 6},
                          {.label = "Cycle Count :",
                           .box = "PlusLoadCycleCountText",
                           .initial = "1",
                           .column = 7,
                           .entry = Entry::CycleCount},
                          {.label = "Setup Time :",
                           .box = "PlusLoadStartTimeText",
                           .unit = "mS",
                           .initial = "10",
                           .column = 8},
                          {.label = "Go To :",
                           .box = "PlusLoadGotoCombo",
                           .kind = Kind::GotoCombo,
                           .column = 9,
                           .store = Store::AsTyped},
                      }});
    return panels;
}

} // namespace

QString StepBox::name() const
{
    QString caption = QString::fromUtf8(label).trimmed();
    if (caption.endsWith(QLatin1Char(':')))
        caption.chop(1);
    return caption.trimmed();
}

const StepBox* StepPanel::boxFor(int column) const
{
    for (const StepBox& b : boxes) {
        if (b.column == column && column != 0 && b.store != StepBoxStore::NotStored)
            return &b;
    }
    return nullptr;
}

QString StepBox::labelObjectName() const
{
    return labelName ? QString::fromLatin1(labelName) : boxName() + QStringLiteral("Label");
}

QString StepBox::unitObjectName() const
{
    return unitName ? QString::fromLatin1(unitName) : boxName() + QStringLiteral("Unit");
}

namespace steppanels {

const std::vector<StepPanel>& all()
{
    static const std::vector<StepPanel> panels = buildPanels();
    return panels;
}

const StepPanel* forAction(const QString& action)
{
    for (const StepPanel& panel : all()) {
        if (panel.actions.contains(action))
            return &panel;
    }
    return nullptr;
}

const StepPanel& loadLevel()
{
    return *forAction(actions::LoadLevel);
}

const StepPanel& rampOn()
{
    return *forAction(actions::RampOn);
}

QString entryName(const QString& action, int column)
{
    const StepPanel* panel = forAction(action);
    const StepBox* box = panel ? panel->boxFor(column) : nullptr;
    return box ? box->name() : QString();
}

QStringList comboItems(StepBoxKind kind)
{
    switch (kind) {
    case StepBoxKind::ModeCombo:
        return {loadmodes::CC, loadmodes::CR, loadmodes::CV, loadmodes::CP};
    case StepBoxKind::LoadLevelCombo:
        return {loadmodes::CC, loadmodes::LINCC, loadmodes::CR, loadmodes::CV, loadmodes::CP};
    case StepBoxKind::GotoCombo:
        return gotochoices::all();
    case StepBoxKind::Text:
        break;
    }
    return {};
}

std::optional<QString> unitForMode(StepUnitRule rule, const QString& mode)
{
    if (rule == StepUnitRule::Fixed)
        return std::nullopt;
    const bool loadLevel = rule == StepUnitRule::LoadLevelMode;
    if (mode == loadmodes::CC || (loadLevel && mode == loadmodes::LINCC))
        return QStringLiteral("A");
    if (mode == loadmodes::CR)
        return QStringLiteral("Ohm");
    if (mode == loadmodes::CV)
        return loadLevel ? QStringLiteral("Vrms") : QStringLiteral("V");
    if (mode == loadmodes::CP)
        return QStringLiteral("W");
    return std::nullopt;
}

StepRowWrite stepRowTexts(const QString& action,
                          const std::function<QString(const QString& box)>& boxText)
{
    StepRowWrite row;
    row[0] = action;
    const StepPanel* panel = forAction(action);
    if (!panel)
        return row;
    for (int column = stepcolumns::Mode; column < stepcolumns::Frequency; ++column)
        row[column - 1] = QString();
    for (const StepBox& b : panel->boxes) {
        if (b.column == 0 || b.store == StepBoxStore::NotStored)
            continue;
        const QString text = boxText(b.boxName());
        row[b.column - 1] =
            b.store == StepBoxStore::Number ? formatGeneral(parseNumber(text)) : text;
    }
    return row;
}

std::vector<std::pair<QString, QString>> boxTextsFromRow(const QString& action,
                                                         const QStringList& row)
{
    std::vector<std::pair<QString, QString>> texts;
    if (const StepPanel* panel = forAction(action)) {
        for (const StepBox& b : panel->boxes) {
            if (b.column != 0 && b.store != StepBoxStore::NotStored)
                texts.emplace_back(b.boxName(), row.value(b.column));
        }
    }
    return texts;
}

} // namespace steppanels
