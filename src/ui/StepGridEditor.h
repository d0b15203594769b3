#pragma once

#include "ui/StepGridRows.h"

#include <QObject>

class GridModel;
class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QModelIndex;
class QTableView;
class Station;
class StepEditor;

// Editing of the step grid TestStepGrid in place: a click on a cell lays the cell's editor over
// it (the action box TestStepActionCombo, the mode box TestStepModeCombo, the go-to box
// GotoCombo or the text box TestStepInputText, by column and the row's action); Enter, leaving
// the editor or scrolling the grid writes the cell, Escape leaves it as it was. Besides: the row
// commands Add, Insert, Delete, Move Up and Move Down, marking rows with the left button, COPY
// and PASTE from the menu RightPUP, and a double-click on a step number to modify that step.
class StepGridEditor : public QObject
{
    Q_OBJECT

public:
    // Lives as the view's child; its editors are hidden children of the view's viewport.
    StepGridEditor(QTableView& view, Station& station, QMenu& rightMenu, StepEditor& stepEditor);

    // The buttons of the top row and the menu entries. Each first writes an open cell editor.
    void addStep();
    void insertStep();
    void deleteStep();
    void moveStepUp();
    void moveStepDown();
    void copyRows();
    void pasteRows();

    // Opens the editor of a cell (grid row and column), if the cell has one.
    void openCellEditor(int row, int col);
    // Writes the open editor's text into its cell (minutes from "m:s" in the dwell column, the
    // pulse-load limits) after the step editor's checks for its column and action, and brings
    // the row in line with a new action. A refused text leaves the cell as it was and gives
    // false; a cell left unchanged changes nothing. True when no editor is open.
    bool commit();
    // Closes the open editor; its cell keeps what it held before the editor opened.
    void abandon();

    CellEditor openEditor() const { return open_; }
    StepGridRows& rows() { return rows_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* editorWidget(CellEditor editor) const;
    void hideEditor(QWidget* editor);
    void focusChanged(QWidget* old, QWidget* now);
    void cellDoubleClicked(const QModelIndex& index);
    void modeChosen(const QString& mode);
    bool cellTextAccepted(const QString& text) const;
    // Closes the editor of a cell that moved or went; nothing is written.
    void dropEditor();
    // While the run has the edit controls switched off, the grid takes no edits.
    bool editingAllowed() const;
    void followEditControls();
    void markSelectedRows();

    QTableView& view_;
    // Compared with, never called: the filter still sees the viewport's last events while the
    // view is being destroyed.
    QWidget* viewport_ = nullptr;
    Station& station_;
    GridModel& grid_;
    StepEditor& stepEditor_;
    QMenu& rightMenu_;
    QAction* pasteAction_ = nullptr;
    StepGridRows rows_;
    QComboBox* actionCombo_ = nullptr;
    QComboBox* modeCombo_ = nullptr;
    QComboBox* gotoCombo_ = nullptr;
    QLineEdit* inputText_ = nullptr;
    CellEditor open_ = CellEditor::None;
    // The cell the open editor belongs to (EditCell).
    int editRow_ = 0;
    int editCol_ = 0;
    // The cell's text when its editor opened, before a combo box's default.
    QString openedText_;
    // The keys held at the last press on the grid.
    Qt::KeyboardModifiers pressModifiers_;
};
