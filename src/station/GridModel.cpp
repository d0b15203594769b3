#include "station/GridModel.h"

#include <algorithm>

GridModel::GridModel(const QString& name, QObject* parent) : QAbstractTableModel(parent)
{
    setObjectName(name);
}

bool GridModel::inside(int row, int col) const
{
    return row >= 0 && col >= 0 && row < rows_ && col < cols_;
}

void GridModel::resize(int rows, int cols)
{
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    if (cols == cols_) {
        cells_.resize(static_cast<std::size_t>(rows * cols));
    } else {
        std::vector<Cell> next(static_cast<std::size_t>(rows * cols));
        for (int r = 0; r < std::min(rows, rows_); ++r)
            for (int c = 0; c < std::min(cols, cols_); ++c)
                next[static_cast<std::size_t>(r * cols + c)] = std::move(cell(r, c));
        cells_ = std::move(next);
        widths_.resize(static_cast<std::size_t>(cols), 0);
    }
    rows_ = rows;
    cols_ = cols;
    currentRow_ = std::min(currentRow_, std::max(rows_ - 1, 0));
    currentCol_ = std::min(currentCol_, std::max(cols_ - 1, 0));
}

void GridModel::setRows(int rows)
{
    if (rows == rows_)
        return;
    if (bulkDepth_ > 0) {
        resize(rows, cols_);
        return;
    }
    beginResetModel();
    resize(rows, cols_);
    endResetModel();
    emit shapeChanged();
}

void GridModel::setCols(int cols)
{
    if (cols == cols_)
        return;
    if (bulkDepth_ > 0) {
        resize(rows_, cols);
        return;
    }
    beginResetModel();
    resize(rows_, cols);
    endResetModel();
    emit shapeChanged();
}

void GridModel::setFixed(int rows, int cols)
{
    if (rows == fixedRows_ && cols == fixedCols_)
        return;
    if (bulkDepth_ == 0)
        beginResetModel();
    fixedRows_ = std::max(rows, 0);
    fixedCols_ = std::max(cols, 0);
    if (bulkDepth_ == 0) {
        endResetModel();
        emit shapeChanged();
    }
}

QString GridModel::text(int row, int col) const
{
    return inside(row, col) ? cell(row, col).text : QString();
}

void GridModel::setText(int row, int col, const QString& text)
{
    if (!inside(row, col) || cell(row, col).text == text)
        return;
    cell(row, col).text = text;
    cellChanged(row, col, Qt::DisplayRole);
}

QColor GridModel::foreColor(int row, int col) const
{
    return inside(row, col) ? cell(row, col).fore : QColor();
}

void GridModel::setForeColor(int row, int col, const QColor& color)
{
    if (!inside(row, col) || cell(row, col).fore == color)
        return;
    cell(row, col).fore = color;
    cellChanged(row, col, Qt::ForegroundRole);
}

QColor GridModel::backColor(int row, int col) const
{
    return inside(row, col) ? cell(row, col).back : QColor();
}

void GridModel::setBackColor(int row, int col, const QColor& color)
{
    if (!inside(row, col) || cell(row, col).back == color)
        return;
    cell(row, col).back = color;
    cellChanged(row, col, Qt::BackgroundRole);
}

void GridModel::setRowBackColor(int row, int firstCol, int lastCol, const QColor& color)
{
    for (int c = firstCol; c <= lastCol; ++c)
        setBackColor(row, c, color);
}

QStringList GridModel::rowTexts(int row, int firstCol) const
{
    QStringList texts;
    for (int c = firstCol; c < cols_; ++c)
        texts << text(row, c);
    return texts;
}

void GridModel::setRowTexts(int row, const QStringList& texts, int firstCol)
{
    for (int i = 0; i < texts.size(); ++i)
        setText(row, firstCol + i, texts[i]);
}

void GridModel::insertGridRow(int row)
{
    row = std::clamp(row, 0, rows_);
    const bool notify = bulkDepth_ == 0 && row >= fixedRows_;
    if (notify)
        beginInsertRows({}, row - fixedRows_, row - fixedRows_);
    cells_.insert(cells_.begin() + static_cast<std::ptrdiff_t>(row) * cols_,
                  static_cast<std::size_t>(cols_), Cell{});
    ++rows_;
    if (notify) {
        endInsertRows();
        emit shapeChanged();
    } else if (bulkDepth_ == 0) {
        beginResetModel();
        endResetModel();
        emit shapeChanged();
    }
}

void GridModel::removeGridRows(int row, int count)
{
    count = std::min(count, rows_ - row);
    if (row < 0 || count <= 0)
        return;
    const bool notify = bulkDepth_ == 0 && row >= fixedRows_;
    if (notify)
        beginRemoveRows({}, row - fixedRows_, row - fixedRows_ + count - 1);
    auto first = cells_.begin() + static_cast<std::ptrdiff_t>(row) * cols_;
    cells_.erase(first, first + static_cast<std::ptrdiff_t>(count) * cols_);
    rows_ -= count;
    currentRow_ = std::min(currentRow_, std::max(rows_ - 1, 0));
    if (notify) {
        endRemoveRows();
        emit shapeChanged();
    } else if (bulkDepth_ == 0) {
        beginResetModel();
        endResetModel();
        emit shapeChanged();
    }
}

void GridModel::clearTexts()
{
    beginBulkUpdate();
    for (Cell& c : cells_)
        c.text.clear();
    endBulkUpdate();
}

void GridModel::beginBulkUpdate()
{
    if (bulkDepth_++ == 0)
        beginResetModel();
}

void GridModel::endBulkUpdate()
{
    if (bulkDepth_ == 0)
        return;
    if (--bulkDepth_ == 0) {
        endResetModel();
        emit shapeChanged();
    }
}

int GridModel::colWidth(int col) const
{
    return col >= 0 && col < cols_ ? widths_[static_cast<std::size_t>(col)] : 0;
}

void GridModel::setColWidth(int col, int twips)
{
    if (col < 0 || col >= cols_ || widths_[static_cast<std::size_t>(col)] == twips)
        return;
    widths_[static_cast<std::size_t>(col)] = twips;
    emit colWidthChanged(col, twips);
}

void GridModel::setTopRow(int row)
{
    if (row == topRow_)
        return;
    topRow_ = row;
    emit topRowChanged(row);
}

void GridModel::setCurrentCell(int row, int col)
{
    if (row == currentRow_ && col == currentCol_)
        return;
    currentRow_ = row;
    currentCol_ = col;
    emit currentCellChanged(row, col);
}

QModelIndex GridModel::indexOf(int row, int col) const
{
    if (row < fixedRows_ || !inside(row, col))
        return {};
    return index(row - fixedRows_, col);
}

void GridModel::cellChanged(int row, int col, int role)
{
    if (bulkDepth_ > 0)
        return;
    if (row < fixedRows_) {
        if (row == 0)
            emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const QModelIndex i = index(row - fixedRows_, col);
    emit dataChanged(i, i, {role});
}

int GridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : std::max(rows_ - fixedRows_, 0);
}

int GridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : cols_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = gridRow(index);
    const int col = index.column();
    if (!inside(row, col))
        return {};
    const Cell& c = cell(row, col);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return c.text;
    case Qt::ForegroundRole:
        return c.fore.isValid() ? QVariant(c.fore) : QVariant();
    case Qt::BackgroundRole:
        return c.back.isValid() ? QVariant(c.back) : QVariant();
    case FixedCellRole:
        return col < fixedCols_;
    default:
        return {};
    }
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole)
        return false;
    setText(gridRow(index), index.column(), value.toString());
    return true;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && fixedRows_ > 0 && role == Qt::DisplayRole)
        return text(0, section);
    if (orientation == Qt::Vertical && role == Qt::DisplayRole)
        return section + fixedRows_;
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
