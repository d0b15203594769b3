#include "ui/StepGridEditor.h"

#include "common/NumberText.h"
#include "station/Station.h"
#include "testprogram/StepValues.h"
#include "testprogram/TestProgramFile.h"
#include "testprogram/TestStep.h"
#include "ui/EditorWidgets.h"
#include "ui/StepEditor.h"
#include "ui/StepEntryChecks.h"
#include "ui/StepPanelTable.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

#include <utility>

StepGridEditor::StepGridEditor(QTableView& view, Station& station, QMenu& rightMenu,
                               StepEditor& stepEditor)
    : QObject(&view), view_(view), station_(station), grid_(station.form.TestStepGrid),
      stepEditor_(stepEditor), rightMenu_(rightMenu),
      rows_(station.form.TestStepGrid, station.form.CopyPasteGrid)
{
    setObjectName(QStringLiteral("StepGridEditor"));
    QWidget* viewport = view.viewport();
    viewport_ = viewport;
    // The action and mode lists come from the settings, bound by the window.
    actionCombo_ = choiceCombo(QStringLiteral("TestStepActionCombo"), {}, viewport);
    modeCombo_ = choiceCombo(QStringLiteral("TestStepModeCombo"), {}, viewport);
    gotoCombo_ = choiceCombo(QStringLiteral("GotoCombo"), gotochoices::all(), viewport);
    inputText_ = new QLineEdit(viewport);
    inputText_->setObjectName(QStringLiteral("TestStepInputText"));
    for (QComboBox* combo : {actionCombo_, modeCombo_, gotoCombo_}) {
        combo->hide();
        // The keys reach the box itself (its edit field is its focus proxy's target).
        combo->installEventFilter(this);
        combo->lineEdit()->installEventFilter(this);
    }
    inputText_->hide();
    inputText_->installEventFilter(this);
    connect(modeCombo_, &QComboBox::textActivated, this, &StepGridEditor::modeChosen);

    viewport->installEventFilter(this);
    // The rows marked for COPY are the rows the grid shows selected: dragged over, extended
    // with Shift, or the one clicked.
    connect(view.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &StepGridEditor::markSelectedRows);
    connect(&view, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        // A click that extends the marked rows opens no editor.
        if (!(pressModifiers_ & (Qt::ShiftModifier | Qt::ControlModifier)))
            openCellEditor(grid_.gridRow(index), index.column());
    });
    // The run switches the edit controls off; the grid's editing goes with them.
    connect(&station.form.enabled(QStringLiteral("AddCommand")), &FormValue::changed, this,
            &StepGridEditor::followEditControls);
    connect(&view, &QAbstractItemView::doubleClicked, this, &StepGridEditor::cellDoubleClicked);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this, &StepGridEditor::commit);
    connect(view.horizontalScrollBar(), &QScrollBar::valueChanged, this, &StepGridEditor::commit);
    connect(qApp, &QApplication::focusChanged, this, &StepGridEditor::focusChanged);
    // A program loaded under an open editor: its cell is gone.
    connect(&grid_, &QAbstractItemModel::modelAboutToBeReset, this, &StepGridEditor::dropEditor);
    connect(&grid_, &QAbstractItemModel::rowsAboutToBeInserted, this, &StepGridEditor::dropEditor);
    connect(&grid_, &QAbstractItemModel::rowsAboutToBeRemoved, this, &StepGridEditor::dropEditor);

    for (QAction* action : rightMenu.actions()) {
        if (action->objectName() == QLatin1String("COPY")) {
            connect(action, &QAction::triggered, this, &StepGridEditor::copyRows);
        } else if (action->objectName() == QLatin1String("PASTE")) {
            pasteAction_ = action;
            // Nothing to paste before the first copy.
            action->setEnabled(false);
            connect(action, &QAction::triggered, this, &StepGridEditor::pasteRows);
        }
    }
}

QWidget* StepGridEditor::editorWidget(CellEditor editor) const
{
    switch (editor) {
    case CellEditor::ActionCombo:
        return actionCombo_;
    case CellEditor::ModeCombo:
        return modeCombo_;
    case CellEditor::GotoCombo:
        return gotoCombo_;
    case CellEditor::TextBox:
        return inputText_;
    case CellEditor::None:
        break;
    }
    return nullptr;
}

bool StepGridEditor::editingAllowed() const
{
    return station_.form.enabled(QStringLiteral("AddCommand")).flag();
}

void StepGridEditor::followEditControls()
{
    // While a test runs nothing is selected, so that the running step's row shows its colour.
    if (!editingAllowed()) {
        abandon();
        view_.clearSelection();
        view_.setSelectionMode(QAbstractItemView::NoSelection);
        return;
    }
    view_.setSelectionMode(QAbstractItemView::ContiguousSelection);
    const QModelIndex current = grid_.indexOf(grid_.currentRow(), grid_.currentCol());
    if (current.isValid())
        view_.selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
}

void StepGridEditor::markSelectedRows()
{
    const QItemSelection selection = view_.selectionModel()->selection();
    if (selection.isEmpty())
        return;
    int top = grid_.rows();
    int bottom = -1;
    for (const QItemSelectionRange& range : selection) {
        top = std::min(top, range.top());
        bottom = std::max(bottom, range.bottom());
    }
    rows_.markPressed(top + grid_.fixedRows());
    rows_.markReleased(bottom + grid_.fixedRows());
}

void StepGridEditor::openCellEditor(int row, int col)
{
    commit();
    if (!editingAllowed() || row < 1 || row >= grid_.rows())
        return;
    const QString action = grid_.text(row, 1);
    const CellEditor kind = cellEditorFor(col, action);
    if (kind == CellEditor::None)
        return;
    grid_.setCurrentCell(row, col);
    openedText_ = grid_.text(row, col);
    const QString fallback = emptyCellDefault(kind);
    if (!fallback.isEmpty() && openedText_.isEmpty())
        grid_.setText(row, col, fallback);
    const QString text = grid_.text(row, col);

    QWidget* editor = editorWidget(kind);
    editor->setGeometry(view_.visualRect(grid_.indexOf(row, col)));
    if (kind == CellEditor::TextBox) {
        inputText_->setText(text);
        inputText_->selectAll();
        inputText_->setToolTip(cellTip(col, action, text));
    } else {
        setComboText(static_cast<QComboBox*>(editor), text);
    }
    editRow_ = row;
    editCol_ = col;
    open_ = kind;
    editor->show();
    editor->raise();
    editor->setFocus(Qt::OtherFocusReason);
}

void StepGridEditor::hideEditor(QWidget* editor)
{
    // Enter, Escape and scrolling leave the focus on the grid, not on the next control.
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == editor || editor->isAncestorOf(focus)))
        view_.setFocus(Qt::OtherFocusReason);
    editor->hide();
}

bool StepGridEditor::commit()
{
    if (open_ == CellEditor::None)
        return true;
    const CellEditor kind = std::exchange(open_, CellEditor::None);
    QWidget* editor = editorWidget(kind);
    QString text = kind == CellEditor::TextBox ? inputText_->text()
                                               : static_cast<QComboBox*>(editor)->currentText();
    if (kind == CellEditor::TextBox) {
        if (editCol_ == stepcolumns::Dwell)
            text = ConvertSecToMin(text);
        text = stepvalues::heldInLimits(grid_.text(editRow_, 1), editCol_, text);
    }
    hideEditor(editor);
    // A cell left as it was changes nothing: no check, and no row adjusted to its action.
    if (text == grid_.text(editRow_, editCol_))
        return true;
    if (kind != CellEditor::ActionCombo && !cellTextAccepted(text))
        return false;
    grid_.setText(editRow_, editCol_, text);
    if (kind == CellEditor::ActionCombo)
        adjustRowToAction(grid_, editRow_, text);
    return true;
}

bool StepGridEditor::cellTextAccepted(const QString& text) const
{
    TestStep step = stepInGridRow(grid_, editRow_);
    step.field(editCol_ - 1) = text;
    const QString& action = step.ActionMode;
    if (stepvalues::holdsNumber(action, editCol_) && !isNumberText(text)) {
        QString name = steppanels::entryName(action, editCol_);
        if (name.isEmpty())
            name = grid_.text(0, editCol_);
        station_.prompts.message(stepvalues::notANumberMessage(name, text),
                                 stepvalues::WarningTitle);
        return false;
    }
    const QList<stepvalues::Fault> faults = stepvalues::cellFaults(step, editCol_);
    for (const stepvalues::Fault& fault : faults)
        station_.prompts.message(fault.message, stepvalues::WarningTitle);
    return faults.isEmpty();
}

void StepGridEditor::abandon()
{
    if (open_ == CellEditor::None)
        return;
    hideEditor(editorWidget(std::exchange(open_, CellEditor::None)));
    // A combo box's default written into an empty cell goes with it.
    grid_.setText(editRow_, editCol_, openedText_);
}

void StepGridEditor::dropEditor()
{
    if (open_ != CellEditor::None)
        hideEditor(editorWidget(std::exchange(open_, CellEditor::None)));
}

void StepGridEditor::focusChanged(QWidget* old, QWidget* now)
{
    if (open_ == CellEditor::None || !old || !now)
        return;
    QWidget* editor = editorWidget(open_);
    const auto inside = [editor](QWidget* w) { return w == editor || editor->isAncestorOf(w); };
    // A combo box's list and a message box are windows of their own: the editor stays open.
    if (!inside(old) || inside(now) || now->window() != view_.window())
        return;
    commit();
}

bool StepGridEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == viewport_) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            pressModifiers_ = mouse->modifiers();
            if (mouse->button() == Qt::RightButton) {
                rightMenu_.popup(mouse->globalPosition().toPoint());
                return true;
            }
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress && open_ != CellEditor::None) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (isEnterKey(key)) {
            commit();
            return true;
        }
        if (key == Qt::Key_Escape) {
            abandon();
            return true;
        }
    }
    return false;
}

void StepGridEditor::cellDoubleClicked(const QModelIndex& index)
{
    if (index.column() != stepcolumns::Number || !editingAllowed())
        return;
    commit();
    stepEditor_.openForModify(grid_.gridRow(index));
}

void StepGridEditor::modeChosen(const QString& mode)
{
    if (mode != loadmodes::CV)
        return;
    station_.prompts.message(stepeditor::ParallelCvMessage);
    setComboText(modeCombo_, loadmodes::CC);
}

void StepGridEditor::addStep()
{
    commit();
    stepEditor_.openForAdd();
}

void StepGridEditor::insertStep()
{
    commit();
    stepEditor_.openForInsert();
}

void StepGridEditor::deleteStep()
{
    commit();
    rows_.deleteStep();
}

void StepGridEditor::moveStepUp()
{
    commit();
    rows_.moveStepUp();
}

void StepGridEditor::moveStepDown()
{
    commit();
    rows_.moveStepDown();
}

void StepGridEditor::copyRows()
{
    commit();
    if (rows_.copyRows() && pasteAction_)
        pasteAction_->setEnabled(true);
}

void StepGridEditor::pasteRows()
{
    commit();
    if (editingAllowed())
        rows_.pasteRows();
}
