#include "ui/StepGridEditor.h"

#include "common/NumberText.h"
#include "station/Station.h"
#include "testprogram/TestStep.h"
#include "ui/EditorWidgets.h"
#include "ui/StepEditor.h"
#include "ui/StepEntryChecks.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

#include <utility>

namespace {

constexpr int kStepNumberColumn = 0;
constexpr int kDwellColumn = 4;

} // namespace

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
        combo->lineEdit()->installEventFilter(this);
    }
    inputText_->hide();
    inputText_->installEventFilter(this);
    connect(modeCombo_, &QComboBox::textActivated, this, &StepGridEditor::modeChosen);

    viewport->installEventFilter(this);
    connect(&view, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
        if (leftPress_)
            rows_.markPressed(grid_.gridRow(index));
    });
    connect(&view, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        openCellEditor(grid_.gridRow(index), index.column());
    });
    connect(&view, &QAbstractItemView::doubleClicked, this, &StepGridEditor::cellDoubleClicked);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this, &StepGridEditor::commit);
    connect(view.horizontalScrollBar(), &QScrollBar::valueChanged, this, &StepGridEditor::commit);
    connect(qApp, &QApplication::focusChanged, this, &StepGridEditor::focusChanged);
    // A program loaded under an open editor: its cell is gone.
    connect(&grid_, &QAbstractItemModel::modelAboutToBeReset, this, &StepGridEditor::abandon);
    connect(&grid_, &QAbstractItemModel::rowsAboutToBeInserted, this, &StepGridEditor::abandon);
    connect(&grid_, &QAbstractItemModel::rowsAboutToBeRemoved, this, &StepGridEditor::abandon);

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

void StepGridEditor::openCellEditor(int row, int col)
{
    commit();
    if (row < 1 || row >= grid_.rows())
        return;
    const QString action = grid_.text(row, 1);
    const CellEditor kind = cellEditorFor(col, action);
    if (kind == CellEditor::None)
        return;
    grid_.setCurrentCell(row, col);
    const QString fallback = emptyCellDefault(kind);
    if (!fallback.isEmpty() && grid_.text(row, col).isEmpty())
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

void StepGridEditor::commit()
{
    if (open_ == CellEditor::None)
        return;
    const CellEditor kind = std::exchange(open_, CellEditor::None);
    QWidget* editor = editorWidget(kind);
    QString text = kind == CellEditor::TextBox ? inputText_->text()
                                               : static_cast<QComboBox*>(editor)->currentText();
    if (kind == CellEditor::TextBox && editCol_ == kDwellColumn)
        text = ConvertSecToMin(text);
    hideEditor(editor);
    grid_.setText(editRow_, editCol_, text);
    if (kind == CellEditor::ActionCombo)
        adjustRowToAction(grid_, editRow_, text);
}

void StepGridEditor::abandon()
{
    if (open_ == CellEditor::None)
        return;
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
            leftPress_ = mouse->button() == Qt::LeftButton;
            if (mouse->button() == Qt::RightButton) {
                rightMenu_.popup(mouse->globalPosition().toPoint());
                return true;
            }
            // A press beside the rows leaves the selected row as it is; one on a row is taken
            // from the view's pressed signal once the row is selected.
            if (leftPress_)
                rows_.markPressed(grid_.currentRow());
        } else if (event->type() == QEvent::MouseButtonRelease &&
                   static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            rows_.markReleased(grid_.currentRow());
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
    if (index.column() != kStepNumberColumn)
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
    rows_.pasteRows();
}
