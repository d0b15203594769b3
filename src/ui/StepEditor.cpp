#include "ui/StepEditor.h"

#include "common/NumberText.h"
#include "station/Station.h"
#include "testprogram/StepValues.h"
#include "testprogram/TestStep.h"
#include "ui/EditorWidgets.h"
#include "ui/StepEntryChecks.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kLabelColumn = 0;
constexpr int kBoxColumn = 1;
constexpr int kUnitColumn = 2;

// The layout of one cell of a panel's grid. The shared frame puts the boxes of both its layouts
// into the same cells, and a grid cell holds one item.
QHBoxLayout* cell(QGridLayout* grid, int row, int col)
{
    if (QLayoutItem* item = grid->itemAtPosition(row, col))
        return static_cast<QHBoxLayout*>(item->layout());
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    grid->addLayout(layout, row, col);
    return layout;
}

} // namespace

StepEditor::StepEditor(Station& station, QWidget* parent) : QGroupBox(parent), station_(station)
{
    setObjectName(QStringLiteral("SetStepFrame"));
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    // Marks that a step is being edited; it does nothing of its own.
    setStepCommand_ = new QToolButton(this);
    setStepCommand_->setObjectName(QStringLiteral("SetStepCommand"));
    setStepCommand_->setText(QStringLiteral("Set Step"));
    setStepCommand_->setAutoRaise(true);
    setStepCommand_->setFocusPolicy(Qt::NoFocus);
    setStepCommand_->hide();
    auto* actionLabel = new QLabel(QStringLiteral("Action Mode :"), this);
    actionLabel->setObjectName(QStringLiteral("SetStepActionLabel"));
    // The items are the settings' action list, bound by the window.
    actionCombo_ = choiceCombo(QStringLiteral("SetStepActionCombo"), {}, this);
    actionCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    actionCombo_->setMinimumContentsLength(QStringLiteral("OverDisCharge").size());
    actionLabel->setBuddy(actionCombo_);
    top->addWidget(setStepCommand_);
    top->addWidget(actionLabel);
    top->addWidget(actionCombo_, 1);
    layout->addLayout(top);
    connect(actionCombo_, &QComboBox::textActivated, this, &StepEditor::selectAction);

    panels_ = new QStackedWidget(this);
    panels_->setObjectName(QStringLiteral("SetStepPanels"));
    noPanel_ = new QWidget(panels_);
    panels_->addWidget(noPanel_);
    for (const StepPanel& panel : steppanels::all())
        buildPanel(panel);
    // The rows sit at the top of a frame, the boxes take the width.
    for (QGroupBox* frame : std::as_const(frames_)) {
        auto* grid = static_cast<QGridLayout*>(frame->layout());
        grid->setColumnStretch(kBoxColumn, 1);
        grid->setRowStretch(grid->rowCount(), 1);
    }
    panels_->setCurrentWidget(noPanel_);
    layout->addWidget(panels_);
    showLayout(false);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKCommand"));
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("CancelCommand"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &StepEditor::accept);
    connect(cancelButton, &QPushButton::clicked, this, &StepEditor::cancel);
}

QGroupBox* StepEditor::frameFor(const StepPanel& panel)
{
    QGroupBox*& frame = frames_[panel.frameName()];
    if (!frame) {
        frame = new QGroupBox(QString::fromLatin1(panel.caption), panels_);
        frame->setObjectName(panel.frameName());
        new QGridLayout(frame);
        panels_->addWidget(frame);
    }
    return frame;
}

void StepEditor::buildPanel(const StepPanel& panel)
{
    QGroupBox* frame = frameFor(panel);
    auto* grid = static_cast<QGridLayout*>(frame->layout());
    QComboBox* modeBox = nullptr;
    for (int row = 0; row < static_cast<int>(panel.boxes.size()); ++row) {
        const StepBox& b = panel.boxes[static_cast<std::size_t>(row)];
        QLabel*& label = labels_[b.labelObjectName()];
        if (!label) {
            label = new QLabel(QString::fromUtf8(b.label), frame);
            label->setObjectName(b.labelObjectName());
            cell(grid, row, kLabelColumn)->addWidget(label);
        }

        QWidget* box = nullptr;
        if (b.isCombo()) {
            auto* combo = choiceCombo(b.boxName(), steppanels::comboItems(b.kind), frame);
            // Boxes that choosing their action does not set to the first item start empty.
            if (b.reset != StepBoxReset::FirstItem)
                setComboText(combo, {});
            if (b.kind != StepBoxKind::GotoCombo)
                modeBox = combo;
            box = combo;
        } else {
            auto* edit = new QLineEdit(QString::fromLatin1(b.initial), frame);
            edit->setObjectName(b.boxName());
            if (b.entry != StepBoxEntry::Plain) {
                new EnterOrLeaveHook(edit, [entry = b.entry](QLineEdit* e) {
                    const QString corrected = correctedEntry(entry, e->text());
                    if (corrected != e->text())
                        e->setText(corrected);
                });
            }
            box = edit;
        }
        box->setToolTip(QString::fromLatin1(b.tip));
        label->setBuddy(box);
        cell(grid, row, kBoxColumn)->addWidget(box);
        boxes_.insert(b.boxName(), box);

        auto* unit = new QLabel(QString::fromLatin1(b.unit), frame);
        unit->setObjectName(b.unitObjectName());
        cell(grid, row, kUnitColumn)->addWidget(unit);
        units_.insert(b.boxName(), unit);
        if (b.unitRule != StepUnitRule::Fixed && modeBox) {
            connect(modeBox, &QComboBox::currentTextChanged, unit,
                    [this, rule = b.unitRule, modeBox, unit] { followMode(rule, modeBox, unit); });
        }
    }
}

void StepEditor::followMode(StepUnitRule rule, QComboBox* mode, QLabel* unit)
{
    if (rule == StepUnitRule::DisChargeMode && mode->currentText() == loadmodes::CV &&
        station_.ConnectedLoadCount > 1 && !filling_) {
        station_.prompts.message(stepeditor::ParallelCvMessage);
        setComboText(mode, loadmodes::CC);
        unit->setText(QStringLiteral("A"));
        return;
    }
    if (const auto text = steppanels::unitForMode(rule, mode->currentText()))
        unit->setText(*text);
}

void StepEditor::ShowLoadLevelLayout()
{
    showLayout(station_.settings.TcpipMode);
}

void StepEditor::showLayout(bool loadLevel)
{
    const StepPanel& shown = loadLevel ? steppanels::loadLevel() : steppanels::rampOn();
    const StepPanel& hidden = loadLevel ? steppanels::rampOn() : steppanels::loadLevel();
    // Hidden first: the rows the two layouts share keep their label, with the shown caption.
    for (const StepPanel* panel : {&hidden, &shown}) {
        const bool visible = panel == &shown;
        for (const StepBox& b : panel->boxes) {
            boxes_[b.boxName()]->setVisible(visible);
            units_[b.boxName()]->setVisible(visible);
            QLabel* label = labels_[b.labelObjectName()];
            label->setVisible(visible);
            if (visible)
                label->setText(QString::fromUtf8(b.label));
        }
    }
    frames_[steppanels::SharedFrame]->setTitle(QString::fromLatin1(shown.caption));
}

void StepEditor::selectAction(const QString& action)
{
    const StepPanel* panel = steppanels::forAction(action);
    panels_->setCurrentWidget(panel ? frames_[panel->frameName()] : noPanel_);
    if (!panel)
        return;
    for (const StepBox& b : panel->boxes) {
        auto* combo = qobject_cast<QComboBox*>(boxes_[b.boxName()]);
        switch (b.reset) {
        case StepBoxReset::FirstItem:
            setComboText(combo, combo->itemText(0));
            break;
        case StepBoxReset::CCWhenEmpty:
            if (combo->currentText().isEmpty())
                setComboText(combo, loadmodes::CC);
            break;
        case StepBoxReset::CC:
            setComboText(combo, loadmodes::CC);
            break;
        case StepBoxReset::None:
            break;
        }
    }
}

QString StepEditor::boxText(const QString& box) const
{
    QWidget* widget = boxes_.value(box);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText();
    return {};
}

void StepEditor::setBoxText(const QString& box, const QString& text)
{
    QWidget* widget = boxes_.value(box);
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        edit->setText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(widget))
        setComboText(combo, text);
}

bool StepEditor::isOpen() const
{
    return isVisible();
}

void StepEditor::prepare(EditMode mode, int row, const QString& caption, const QString& action)
{
    editMode_ = mode;
    editRow_ = row;
    setTitle(caption);
    setComboText(actionCombo_, action);
    selectAction(action);
}

void StepEditor::present()
{
    setStepCommand_->show();
    emit openRequested();
}

void StepEditor::openForAdd()
{
    prepare(EditMode::Add, station_.form.TestStepGrid.rows(),
            QStringLiteral("Addition Step - Channel %1").arg(station_.settings.ChannelNo),
            actions::LoadLevel);
    present();
}

void StepEditor::openForInsert()
{
    const GridModel& grid = station_.form.TestStepGrid;
    prepare(EditMode::Insert, std::clamp(grid.currentRow(), 1, grid.rows()),
            QStringLiteral("Insert Step - Channel %1").arg(station_.settings.ChannelNo),
            actions::LoadLevel);
    present();
}

void StepEditor::openForModify(int row)
{
    const GridModel& grid = station_.form.TestStepGrid;
    if (row < 1 || row >= grid.rows())
        return;
    const QString action = grid.text(row, 1);
    prepare(
        EditMode::Modify, row,
        QStringLiteral("Modify Channel - %1 Step - %2").arg(station_.settings.ChannelNo).arg(row),
        action);
    // After the action's resets: the boxes show what the row holds.
    filling_ = true;
    for (const auto& [box, text] : steppanels::boxTextsFromRow(action, grid.rowTexts(row)))
        setBoxText(box, text);
    filling_ = false;
    present();
}

bool StepEditor::accept()
{
    const QString action = actionCombo_->currentText();
    const StepPanel* panel = steppanels::forAction(action);
    // OK first does what Enter or leaving a box does, and takes no text for a number.
    if (panel) {
        correctEntries(*panel);
        if (!entriesAreNumbers(*panel, action))
            return false;
    }
    if (!ValidateLoadLevel(boxText(QStringLiteral("cmbLoadLevel"))))
        return false;
    // The Load Level panel has just been checked; every other action's values are checked here.
    if (panel && action != actions::LoadLevel &&
        !showFaults(stepvalues::rangeFaults(enteredStep(*panel, action)), *panel))
        return false;
    GridModel& grid = station_.form.TestStepGrid;
    // The header row and 1500 steps: the program is full.
    if (grid.rows() > kMaxProgramSteps) {
        station_.prompts.message(stepeditor::TooManyStepsMessage);
        return false;
    }
    const int row = writeEditedStep(
        grid, editMode_, editRow_,
        steppanels::stepRowTexts(action, [this](const QString& box) { return boxText(box); }));
    grid.setCurrentCell(row, grid.currentCol());
    close();
    return true;
}

void StepEditor::correctEntries(const StepPanel& panel)
{
    for (const StepBox& b : panel.boxes) {
        if (b.entry != StepBoxEntry::Plain)
            setBoxText(b.boxName(), correctedEntry(b.entry, boxText(b.boxName())));
    }
}

TestStep StepEditor::enteredStep(const StepPanel& panel, const QString& action) const
{
    TestStep step;
    step.ActionMode = action;
    for (int column = stepcolumns::Mode; column <= TestStep::kFieldCount; ++column) {
        if (const StepBox* b = panel.boxFor(column))
            step.field(column - 1) = boxText(b->boxName());
    }
    return step;
}

bool StepEditor::entriesAreNumbers(const StepPanel& panel, const QString& action)
{
    for (const StepBox& b : panel.boxes) {
        const QString text = boxText(b.boxName());
        if (b.isCombo() || !stepvalues::holdsNumber(action, b.column) || isNumberText(text))
            continue;
        station_.prompts.message(stepvalues::notANumberMessage(b.name(), text),
                                 stepvalues::WarningTitle);
        QWidget* box = boxes_.value(b.boxName());
        if (box->isVisible())
            box->setFocus();
        return false;
    }
    return true;
}

bool StepEditor::showFaults(const QList<stepvalues::Fault>& faults, const StepPanel& panel)
{
    for (const stepvalues::Fault& fault : faults) {
        station_.prompts.message(fault.message, stepvalues::WarningTitle);
        const StepBox* b = panel.boxFor(fault.column);
        if (!b || fault.resetText.isEmpty())
            continue;
        setBoxText(b->boxName(), fault.resetText);
        // Not while another action's panel hides it: keys would go to an unseen box.
        const StepBox* value =
            panel.boxFor(stepcolumns::Value) ? panel.boxFor(stepcolumns::Value) : b;
        QWidget* focus = boxes_.value(value->boxName());
        if (focus->isVisible())
            focus->setFocus();
    }
    return faults.isEmpty();
}

void StepEditor::cancel()
{
    close();
}

void StepEditor::close()
{
    setStepCommand_->hide();
    emit closeRequested();
}

bool StepEditor::ValidateLoadLevel(const QString& mode)
{
    const StepPanel& panel = steppanels::loadLevel();
    TestStep entered = enteredStep(panel, actions::LoadLevel);
    entered.LoadModeVolt = mode;
    return showFaults(stepvalues::rangeFaults(entered), panel);
}
