#pragma once

#include "testprogram/TestStep.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <vector>

// The set-up panels of the step editor as data: which boxes each action's panel has, with their
// labels, units and first contents, and which grid column OK writes from each box. The editor
// builds its widgets from this table, writes a step row by it and fills the boxes from a row by
// it, so the three can never disagree. Nothing here touches a widget.

enum class StepBoxKind
{
    Text,
    ModeCombo,      // "CC", "CR", "CV", "CP"
    LoadLevelCombo, // "CC", "LINCC", "CR", "CV", "CP"
    GotoCombo,      // "NextStep", "EndLoop", "EndLoop2", "Continue"
};

// How OK stores a box's text.
enum class StepBoxStore
{
    Number,    // the number parsed from the text, printed in the general form
    AsTyped,   // the text as it stands (combo boxes, the suspend stop voltage)
    NotStored, // shown only
};

// What choosing the action does to a box.
enum class StepBoxReset
{
    None,
    FirstItem,
    CCWhenEmpty,
    CC,
};

// Corrections of an entry, made when the operator presses Enter in the box or leaves it.
enum class StepBoxEntry
{
    Plain,
    Minutes,    // "m:s" becomes decimal minutes
    CycleCount, // held in 1 to 2400
    PulseTime,  // held in 0.05 to 9999 ms
};

// The unit of a value box follows the panel's mode box by one of these rules.
enum class StepUnitRule
{
    Fixed,
    LoadLevelMode, // "A", "A", "Ohm", "Vrms", "W"
    RampMode,      // "A", "Ohm", "V", "W"
    DisChargeMode, // as RampMode; "CV" is refused while loads run in parallel
};

struct StepBox
{
    const char* label;
    const char* box; // object name
    StepBoxKind kind = StepBoxKind::Text;
    const char* unit = "";
    const char* initial = ""; // first contents of a text box
    int column = 0;           // grid column OK writes (2 to 10), 0 for none
    StepBoxStore store = StepBoxStore::Number;
    StepBoxReset reset = StepBoxReset::None;
    StepBoxEntry entry = StepBoxEntry::Plain;
    StepUnitRule unitRule = StepUnitRule::Fixed;
    const char* tip = "";
    // Object names of the label and the unit label; by default the box's name followed by
    // "Label" and "Unit". Boxes that share a label name share the label.
    const char* labelName = nullptr;
    const char* unitName = nullptr;

    QString boxName() const { return QString::fromLatin1(box); }
    // The label's caption without its colon ("Load Value"), for messages about the box.
    QString name() const;
    QString labelObjectName() const;
    QString unitObjectName() const;
    bool isCombo() const { return kind != StepBoxKind::Text; }
};

struct StepPanel
{
    QStringList actions;
    const char* frame; // object name of the panel's frame
    const char* caption;
    std::vector<StepBox> boxes;

    QString frameName() const { return QString::fromLatin1(frame); }
    // The box that writes a grid column, or nullptr.
    const StepBox* boxFor(int column) const;
};

namespace steppanels {

// Object name of the frame that "LoadLevel" and "RAMP ON" share.
inline const QString SharedFrame = QStringLiteral("RampOnFrame");

// The panels: one per action group ("LoadLevel" and "RAMP ON" are two panels in one frame).
const std::vector<StepPanel>& all();
// The panel of an action, or nullptr for a name that is not an action.
const StepPanel* forAction(const QString& action);
const StepPanel& loadLevel();
const StepPanel& rampOn();

// What the step editor calls the box that writes a grid column of an action's step, or nothing
// when no box writes it.
QString entryName(const QString& action, int column);

// The items of a combo box of the given kind (empty for a text box).
QStringList comboItems(StepBoxKind kind);

// The unit a mode gives by a rule, or nothing when the mode leaves the unit as it is.
std::optional<QString> unitForMode(StepUnitRule rule, const QString& mode);

// What OK writes into grid columns 1 to 10 (index 0 is column 1); nothing where the cell keeps
// its text.
using StepRowWrite = std::array<std::optional<QString>, TestStep::kFieldCount>;

// The row OK writes for an action, taking each box's text from `boxText`: the action itself,
// then each field by the action's panel, empty where the panel has no box. The frequency is
// written for "LoadLevel" only; a name that is not an action writes nothing but itself.
StepRowWrite stepRowTexts(const QString& action,
                          const std::function<QString(const QString& box)>& boxText);

// The boxes of an action's panel that a grid row fills, with the row's texts (columns 0 to 10):
// the pairs (box name, text) in the panel's order.
std::vector<std::pair<QString, QString>> boxTextsFromRow(const QString& action,
                                                         const QStringList& row);

} // namespace steppanels
