#include "ui/GridView.h"

#include "station/GridModel.h"

#include <QHeaderView>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTableView>

#include <QtMath>

#include <algorithm>

namespace {
constexpr double kTwipsPerInch = 1440.0;
// Rows as tall as the font needs, with a little air, like the grids' default row height.
constexpr int kRowPadding = 6;
} // namespace

int GridViewBinding::twipsToPixels(int twips, int dpi)
{
    return qRound(twips * dpi / kTwipsPerInch);
}

GridViewBinding::GridViewBinding(QTableView& view, GridModel& model)
    : QObject(&view), view_(view), model_(model)
{
    setObjectName(model.objectName() + QStringLiteral("Binding"));
    view.setModel(&model);
    view.setItemDelegate(new GridCellDelegate(&view));
    view.verticalHeader()->hide();
    view.verticalHeader()->setMinimumSectionSize(1);
    view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + kRowPadding);
    view.horizontalHeader()->setSectionsClickable(false);
    view.horizontalHeader()->setHighlightSections(false);
    view.horizontalHeader()->setMinimumSectionSize(1);
    view.setWordWrap(false);

    const auto pause = [this] { syncing_ = true; };
    connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, pause);
    connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, pause);
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, pause);
    // Every change of shape ends with shapeChanged: then the view gets everything again.
    connect(&model, &GridModel::shapeChanged, this, &GridViewBinding::applyShape);
    connect(&model, &GridModel::colWidthChanged, this, &GridViewBinding::applyWidth);
    connect(&model, &GridModel::topRowChanged, this, &GridViewBinding::showTopRow);
    connect(&model, &GridModel::currentCellChanged, this, &GridViewBinding::showCurrentCell);
    connect(view.selectionModel(), &QItemSelectionModel::currentChanged, this,
            &GridViewBinding::viewCurrentChanged);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this,
            &GridViewBinding::viewScrolled);
    connect(&model, &QAbstractItemModel::dataChanged, this, &GridViewBinding::widenColumns);
    connect(&model, &QAbstractItemModel::headerDataChanged, this, &GridViewBinding::widenColumns);
    applyShape();
}

void GridViewBinding::setWidenToContents(bool on)
{
    widenToContents_ = on;
    applyShape();
}

void GridViewBinding::widenColumns()
{
    if (!widenToContents_)
        return;
    for (int c = 0; c < model_.cols(); ++c)
        applyWidth(c, model_.colWidth(c));
}

void GridViewBinding::applyShape()
{
    syncing_ = false;
    view_.horizontalHeader()->setVisible(model_.fixedRows() > 0);
    for (int c = 0; c < model_.cols(); ++c)
        applyWidth(c, model_.colWidth(c));
    showCurrentCell();
}

void GridViewBinding::applyWidth(int col, int twips)
{
    if (twips <= 0) {
        view_.setColumnHidden(col, true);
        return;
    }
    view_.setColumnHidden(col, false);
    int width = twipsToPixels(twips, view_.logicalDpiX());
    if (widenToContents_) {
        width = std::max({width, static_cast<QAbstractItemView&>(view_).sizeHintForColumn(col),
                          view_.horizontalHeader()->isHidden()
                              ? 0
                              : view_.horizontalHeader()->sectionSizeHint(col)});
    }
    view_.setColumnWidth(col, width);
}

void GridViewBinding::showTopRow()
{
    const QModelIndex top = model_.indexOf(model_.topRow(), 0);
    if (!top.isValid())
        return;
    const QScopedValueRollback<bool> guard(syncing_, true);
    // After a reset the view lays its rows out later; the scroll range must be right now.
    view_.doItemsLayout();
    view_.scrollTo(top, QAbstractItemView::PositionAtTop);
}

void GridViewBinding::showCurrentCell()
{
    // The operator moved there: the view shows it already, with the rows the operator marked.
    if (followingView_)
        return;
    const QModelIndex current = model_.indexOf(model_.currentRow(), model_.currentCol());
    // A grid that shows no selection only moves its current cell.
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::Clear;
    if (current.isValid() && view_.selectionMode() != QAbstractItemView::NoSelection) {
        flags = QItemSelectionModel::ClearAndSelect;
        if (view_.selectionBehavior() == QAbstractItemView::SelectRows)
            flags |= QItemSelectionModel::Rows;
        else if (view_.selectionBehavior() == QAbstractItemView::SelectColumns)
            flags |= QItemSelectionModel::Columns;
    }
    const QScopedValueRollback<bool> guard(syncing_, true);
    view_.selectionModel()->setCurrentIndex(current, flags);
    // Selecting scrolls the cell into view; where the grid stands is the model's top row.
    showTopRow();
}

void GridViewBinding::viewCurrentChanged(const QModelIndex& current)
{
    if (syncing_ || !current.isValid())
        return;
    const QScopedValueRollback<bool> guard(followingView_, true);
    model_.setCurrentCell(model_.gridRow(current), current.column());
}

void GridViewBinding::viewScrolled()
{
    if (syncing_)
        return;
    const int row = view_.rowAt(0);
    if (row >= 0)
        model_.setTopRow(row + model_.fixedRows());
}

void GridCellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (!index.data(GridModel::FixedCellRole).toBool())
        return;
    option->state &= ~QStyle::State_Selected;
    if (!index.data(Qt::BackgroundRole).isValid())
        option->backgroundBrush = option->palette.button();
    if (!index.data(Qt::ForegroundRole).isValid())
        option->palette.setColor(QPalette::Text, option->palette.color(QPalette::ButtonText));
}
