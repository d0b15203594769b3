#pragma once

#include <QObject>
#include <QStyledItemDelegate>

class GridModel;
class QTableView;

// Keeps a table view in step with a GridModel of the station state. The model leads: the first
// fixed row becomes the horizontal header (hidden when the grid has no fixed row), widths in
// twips become pixels at the view's logical DPI (width 0 hides the column), cells show their own
// fore and back colours (an invalid colour is the palette's), fixed columns look like headers,
// and the model's top row and current cell scroll and select the view. The operator's scrolling
// and clicking go back into the model's top row and current cell.
class GridViewBinding : public QObject
{
    Q_OBJECT

public:
    // Sets the model on the view; the binding lives as the view's child.
    GridViewBinding(QTableView& view, GridModel& model);

    QTableView& view() const { return view_; }
    GridModel& model() const { return model_; }

    // A status grid shows every text whole: its columns grow beyond their twips width to fit
    // their header and cells (a column of width 0 stays hidden).
    void setWidenToContents(bool on);

    static int twipsToPixels(int twips, int dpi);

private:
    void applyShape();
    void applyWidth(int col, int twips);
    void showTopRow();
    void showCurrentCell();
    void viewCurrentChanged(const QModelIndex& current);
    void viewScrolled();
    void widenColumns();

    QTableView& view_;
    GridModel& model_;
    bool widenToContents_ = false;
    // Set while the model changes shape or the binding moves the view itself, so that the
    // view's reactions are not taken for the operator's.
    bool syncing_ = false;
    // Set while the view's current cell goes into the model.
    bool followingView_ = false;
};

// Paints the cells of fixed columns as header cells: button face and button text unless the
// cell has colours of its own, and never highlighted by a row selection.
class GridCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
