// Protects the grids as the operator sees them: widths, headers, colours, scrolling and selection.
#include "WindowFixture.h"
#include "support/TestMain.h"
#include "ui/GridView.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QtTest>

namespace {

// A step-grid-like model: one fixed row of headers, one fixed column, `rows` rows in all.
void shape(GridModel& model, int rows)
{
    model.beginBulkUpdate();
    model.setCols(4);
    model.setRows(rows);
    model.setFixed(1, 1);
    model.setRowTexts(0, {"Step", "Action Mode", "Hidden", "Value"});
    for (int r = 1; r < rows; ++r)
        model.setRowTexts(r, {QString::number(r), "LoadLevel", "x", "1"});
    model.endBulkUpdate();
    model.setColWidth(0, 1000);
    model.setColWidth(1, 2000);
    model.setColWidth(2, 0);
    model.setColWidth(3, 1440);
}

// The colour painted in a cell, taken away from its text and its grid lines.
QColor paintedColour(QTableView& view, int row, int col)
{
    const QImage image = view.viewport()->grab().toImage();
    const QRect cell = view.visualRect(view.model()->index(row, col));
    return image.pixelColor(cell.right() - 3, cell.center().y());
}

struct GridUnderTest
{
    GridUnderTest(int rows = 50)
    {
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        shape(model, rows);
        binding = new GridViewBinding(view, model);
        view.resize(400, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    GridModel model{QStringLiteral("TestStepGrid")};
    QTableView view;
    GridViewBinding* binding = nullptr;
};

} // namespace

class GridViewTest : public QObject
{
    Q_OBJECT

private slots:
    void widthsAreTwips_zeroHidesTheColumn_andTheHeaderIsTheFixedRow()
    {
        GridUnderTest g;
        const int dpi = g.view.logicalDpiX();
        QCOMPARE(g.view.columnWidth(3), dpi); // 1440 twips are an inch
        QVERIFY(g.view.isColumnHidden(2));
        g.model.setColWidth(2, 720);
        QCOMPARE(g.view.columnWidth(2), qRound(dpi / 2.0));
        g.model.setColWidth(1, 0);
        QVERIFY(g.view.isColumnHidden(1));
        // The header is the first fixed row, hidden without one.
        QVERIFY(g.view.horizontalHeader()->isVisible());
        QVERIFY(g.view.verticalHeader()->isHidden());
        QCOMPARE(g.view.model()->index(0, 1).data().toString(), QStringLiteral("LoadLevel"));
        g.model.setText(0, 1, QStringLiteral("Action"));
        QCOMPARE(g.view.model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("Action"));
        g.model.setFixed(0, 1);
        QVERIFY(g.view.horizontalHeader()->isHidden());
        QCOMPARE(g.view.model()->index(0, 1).data().toString(), QStringLiteral("Action"));
    }

    void cellColours_arePainted_andFixedColumnsLookLikeHeaders()
    {
        GridUnderTest g;
        g.model.setBackColor(3, 1, gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 2, 1), gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 4, 1), g.view.palette().color(QPalette::Base));
        // Fixed columns look like headers unless the cell has a colour of its own.
        QCOMPARE(paintedColour(g.view, 4, 0), g.view.palette().color(QPalette::Button));
        g.model.setBackColor(5, 0, gridcolors::Green);
        QCOMPARE(paintedColour(g.view, 4, 0), gridcolors::Green);
    }

    void currentCellAndTopRow_followTheView_andTheOperatorsClickAndScrollingMoveThem()
    {
        GridUnderTest g;
        g.model.setTopRow(30);
        QCOMPARE(g.view.rowAt(0), 29);
        g.view.verticalScrollBar()->setValue(0);
        QCOMPARE(g.model.topRow(), 1);
        const QRect cell = g.view.visualRect(g.view.model()->index(2, 1));
        QTest::mouseClick(g.view.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(g.model.currentRow(), 3);
        QCOMPARE(g.model.currentCol(), 1);

        // A new program resets the grid: the view keeps showing the model's current cell.
        shape(g.model, 13);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(2, 1));
        QVERIFY(g.view.selectionModel()->isRowSelected(2, {}));
        // Removing rows above it leaves the model's row number current, as a grid does.
        g.model.removeGridRow(1);
        QCOMPARE(g.model.currentRow(), 3);
        QCOMPARE(g.view.currentIndex().row(), 2);
        // A grid without highlighting (the status grid) still follows the current cell.
        g.view.setSelectionMode(QAbstractItemView::NoSelection);
        g.model.setCurrentCell(1, 2);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(0, 2));
        QVERIFY(!g.view.selectionModel()->hasSelection());
    }
};

ACL3_WIDGET_TEST_MAIN(GridViewTest)
#include "tst_gridview.moc"
