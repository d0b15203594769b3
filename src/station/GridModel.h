#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStringList>

#include <vector>

// Colours the engine gives grid cells and frames. An invalid QColor means "the system's colour"
// (window, button face, window text): the views fill in their palette's colour.
namespace gridcolors {
inline const QColor System{};
inline const QColor LightYellow{255, 255, 192}; // the running step's row
inline const QColor Orange{255, 128, 0};        // Frame2 while a run is prepared and running
inline const QColor Red{255, 0, 0};
inline const QColor Green{0, 255, 0};
inline const QColor Blue{0, 0, 255};
inline const QColor Grey{128, 128, 128}; // greyed text
} // namespace gridcolors

// A grid of text cells with a fore and back colour per cell, fixed (header) rows and columns,
// column widths, a top row and a current cell. The engine addresses cells in grid coordinates,
// fixed rows included (row 0 of the step grid is its header row), exactly as the station's
// procedures describe them. One class serves the step grid, the phase grid, the load status
// grid, the copy buffer and the record list.
//
// As a Qt item model it shows the rows below the fixed rows; the first fixed row becomes the
// horizontal header. Fixed columns are ordinary model columns flagged by FixedCellRole.
class GridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int FixedCellRole = Qt::UserRole + 1;

    explicit GridModel(const QString& name, QObject* parent = nullptr);

    // Shape. Growing adds empty cells; shrinking drops the cells beyond.
    int rows() const { return rows_; }
    int cols() const { return cols_; }
    void setRows(int rows);
    void setCols(int cols);
    int fixedRows() const { return fixedRows_; }
    int fixedCols() const { return fixedCols_; }
    void setFixed(int rows, int cols);

    // Cells. Reads outside the grid give "" and invalid colours; writes outside are ignored.
    QString text(int row, int col) const;
    void setText(int row, int col, const QString& text);
    QColor foreColor(int row, int col) const;
    void setForeColor(int row, int col, const QColor& color);
    QColor backColor(int row, int col) const;
    void setBackColor(int row, int col, const QColor& color);
    // Sets the back colour of columns first..last of one row.
    void setRowBackColor(int row, int firstCol, int lastCol, const QColor& color);
    // Texts of columns firstCol and up.
    QStringList rowTexts(int row, int firstCol = 0) const;
    void setRowTexts(int row, const QStringList& texts, int firstCol = 0);

    void insertGridRow(int row); // a new empty row at `row`; later rows move down
    void removeGridRow(int row) { removeGridRows(row, 1); }
    void removeGridRows(int row, int count); // rows row .. row + count - 1; later rows move up
    void clearTexts();                       // every cell's text emptied, shape and colours kept

    // Many changes at once: views are reset once at the end instead of following each cell.
    void beginBulkUpdate();
    void endBulkUpdate();

    // Column widths in twips (1440 to the inch); 0 hides the column.
    int colWidth(int col) const;
    void setColWidth(int col, int twips);

    // The first row shown below the fixed rows, and the current cell (the grid's Row and Col).
    int topRow() const { return topRow_; }
    void setTopRow(int row);
    int currentRow() const { return currentRow_; }
    int currentCol() const { return currentCol_; }
    void setCurrentCell(int row, int col);

    // Grid row of a model index and back.
    int gridRow(const QModelIndex& index) const { return index.row() + fixedRows_; }
    QModelIndex indexOf(int row, int col) const;

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void topRowChanged(int row);
    void currentCellChanged(int row, int col);
    void shapeChanged();
    void colWidthChanged(int col, int twips);

private:
    struct Cell
    {
        QString text;
        QColor fore;
        QColor back;
    };

    bool inside(int row, int col) const;
    Cell& cell(int row, int col) { return cells_[static_cast<std::size_t>(row * cols_ + col)]; }
    const Cell& cell(int row, int col) const
    {
        return cells_[static_cast<std::size_t>(row * cols_ + col)];
    }
    void cellChanged(int row, int col, int role);
    void resize(int rows, int cols);

    std::vector<Cell> cells_;
    std::vector<int> widths_;
    int rows_ = 0;
    int cols_ = 0;
    int fixedRows_ = 0;
    int fixedCols_ = 0;
    int topRow_ = 0;
    int currentRow_ = 0;
    int currentCol_ = 0;
    int bulkDepth_ = 0;
};
