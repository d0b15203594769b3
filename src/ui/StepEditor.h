#pragma once

#include "testprogram/StepValues.h"
#include "ui/StepGridRows.h"
#include "ui/StepPanelTable.h"

#include <QGroupBox>
#include <QHash>

class QComboBox;
class QLabel;
class QStackedWidget;
class QToolButton;
class Station;

// The step editor SetStepFrame: the action box SetStepActionCombo, one set-up panel per action
// (only the chosen action's panel is shown), OK and Cancel. It is opened to add a step at the
// end of the step grid, to insert one at the current row or to modify a row; OK checks the
// Load Level panel and the program's size and writes the step as one grid row. The grid, not
// the StepTable, is what it changes. Boxes keep their contents from one use to the next, except
// what choosing an action resets.
class StepEditor : public QGroupBox
{
    Q_OBJECT

public:
    explicit StepEditor(Station& station, QWidget* parent = nullptr);

    // Open for adding (a new last row), inserting (at the current row) or modifying a row,
    // with the action's panel shown and its resets applied. Modify fills the panel from the row.
    void openForAdd();
    void openForInsert();
    void openForModify(int row);

    // OKCommand: checks the Load Level panel (whatever action is chosen) and the program's
    // size, then writes the row, renumbers the steps after it and closes. Returns whether the
    // row was written; on a refusal the editor stays open.
    bool accept();
    // CancelCommand: closes; the grid is unchanged.
    void cancel();

    // Checks the Load Level panel with the given mode: one "Warning!" message per failed
    // check, the failed box set to a safe text. True when every check passed.
    bool ValidateLoadLevel(const QString& mode);
    // Puts the shared Load Level / RAMP ON frame into the layout of the connection kind the
    // settings name: the Load Level boxes over TCP/IP, the RAMP ON boxes otherwise.
    void ShowLoadLevelLayout();
    // Choosing an action: its panel alone is shown, with the action's resets applied.
    void selectAction(const QString& action);

    EditMode editMode() const { return editMode_; }
    int editRow() const { return editRow_; }
    bool isOpen() const;

    // The text of a panel box by its object name.
    QString boxText(const QString& box) const;
    void setBoxText(const QString& box, const QString& text);

signals:
    void openRequested();
    void closeRequested();

private:
    void buildPanel(const StepPanel& panel);
    QGroupBox* frameFor(const StepPanel& panel);
    void followMode(StepUnitRule rule, QComboBox* mode, QLabel* unit);
    void showLayout(bool loadLevel);
    void prepare(EditMode mode, int row, const QString& caption, const QString& action);
    // Gives the panel's boxes the corrections of Enter or leaving them.
    void correctEntries(const StepPanel& panel);
    // The step as the panel's boxes hold it, texts as typed.
    TestStep enteredStep(const StepPanel& panel, const QString& action) const;
    // Refuses the first box that holds no number where one belongs, with a message naming it.
    bool entriesAreNumbers(const StepPanel& panel, const QString& action);
    // One "Warning!" message per fault, the failed box set to its safe text, the focus to the
    // panel's value box; true when there is no fault.
    bool showFaults(const QList<stepvalues::Fault>& faults, const StepPanel& panel);
    void present();
    void close();

    Station& station_;
    QToolButton* setStepCommand_ = nullptr;
    QComboBox* actionCombo_ = nullptr;
    QStackedWidget* panels_ = nullptr;
    QWidget* noPanel_ = nullptr;
    QHash<QString, QGroupBox*> frames_;
    QHash<QString, QWidget*> boxes_;
    QHash<QString, QLabel*> labels_;
    QHash<QString, QLabel*> units_;
    EditMode editMode_ = EditMode::Add;
    int editRow_ = 0;
    // Set while a row fills the boxes: what a program holds is shown, not refused.
    bool filling_ = false;
};
