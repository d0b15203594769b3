// Protects the grids as the operator sees them: widths, headers, colours, scrolling and selection.
#include "WindowFixture.h"
#include "station/FormValue.h"
#include "support/TestMain.h"
#include "ui/FormBinder.h"
#include "ui/GridView.h"

#include <QComboBox>
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
    void widths_areTwipsAtTheLogicalDpi_andZeroHidesTheColumn()
    {
        GridUnderTest g;
        const int dpi = g.view.logicalDpiX();
        QVERIFY(dpi > 0);
        QCOMPARE(g.view.columnWidth(1), qRound(2000.0 * dpi / 1440));
        QCOMPARE(g.view.columnWidth(3), dpi);
        QVERIFY(g.view.isColumnHidden(2));
        g.model.setColWidth(2, 720);
        QCOMPARE(g.view.columnWidth(2), qRound(dpi / 2.0));
        g.model.setColWidth(1, 0);
        QVERIFY(g.view.isColumnHidden(1));
        // A new shape keeps the widths the model holds.
        shape(g.model, 10);
        QVERIFY(g.view.isColumnHidden(2));
        QCOMPARE(g.view.columnWidth(3), dpi);
    }

    void header_isTheFirstFixedRow_andHiddenWithoutOne()
    {
        GridUnderTest g;
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

    void cellColours_arePainted_andAnInvalidColourIsThePalettes()
    {
        GridUnderTest g;
        g.model.setBackColor(3, 1, gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 2, 1), gridcolors::LightYellow);
        QCOMPARE(paintedColour(g.view, 4, 1), g.view.palette().color(QPalette::Base));
        // Fixed columns look like headers unless the cell has a colour of its own.
        QCOMPARE(paintedColour(g.view, 4, 0), g.view.palette().color(QPalette::Button));
        g.model.setBackColor(5, 0, gridcolors::Green);
        QCOMPARE(paintedColour(g.view, 4, 0), gridcolors::Green);
        g.model.setBackColor(3, 1, gridcolors::System);
        QCOMPARE(paintedColour(g.view, 2, 1), g.view.palette().color(QPalette::Base));
    }

    void topRow_scrollsTheView_andTheOperatorsScrollingMovesIt()
    {
        GridUnderTest g;
        g.model.setTopRow(30);
        QCOMPARE(g.view.rowAt(0), 29);
        g.view.verticalScrollBar()->setValue(10);
        QCOMPARE(g.model.topRow(), 11);
        // The model's top row survives a reset of the grid.
        g.model.setTopRow(20);
        shape(g.model, 50);
        QCOMPARE(g.view.rowAt(0), 19);
    }

    void currentCell_selectsInTheView_andTheOperatorsClickMovesIt()
    {
        GridUnderTest g;
        g.model.setCurrentCell(5, 3);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(4, 3));
        QCOMPARE(g.view.selectionModel()->selectedRows().size(), 1);

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
    }

    void statusGrid_tracksTheCurrentCellWithoutHighlighting()
    {
        GridUnderTest g;
        g.view.setSelectionMode(QAbstractItemView::NoSelection);
        g.model.setCurrentCell(1, 2);
        QCOMPARE(g.view.currentIndex(), g.view.model()->index(0, 2));
        QVERIFY(!g.view.selectionModel()->hasSelection());
    }

    void widenToContents_showsLongTextsWhole()
    {
        GridUnderTest g;
        const int twipsWidth = g.view.columnWidth(3);
        g.binding->setWidenToContents(true);
        const QString address = QStringLiteral("192.168.100.100:32767");
        g.model.setText(1, 3, address);
        QVERIFY(g.view.columnWidth(3) > g.view.fontMetrics().horizontalAdvance(address));
        g.model.setText(1, 3, QStringLiteral("1"));
        QCOMPARE(g.view.columnWidth(3), twipsWidth);
        QVERIFY(g.view.isColumnHidden(2));
    }

    void binder_fillsComboListsAndKeepsEditableText()
    {
        FormValue list(QStringLiteral("TestStepModeCombo"), QStringList());
        FormValue text(QStringLiteral("LoadBaudRateCombo_0"), QString());
        QComboBox modes;
        QComboBox rate;
        rate.setEditable(true);
        rate.addItems({"9600", "115200"});
        QVERIFY(bindFormValue(list, &modes));
        QVERIFY(bindFormValue(text, &rate));
        list.setList({"CC", "CR", "CV"});
        QCOMPARE(modes.itemText(2), QStringLiteral("CV"));
        text.setText(QStringLiteral("115200"));
        QCOMPARE(rate.currentIndex(), 1);
        // A rate the list does not offer is shown as it stands.
        text.setText(QStringLiteral("38400"));
        QCOMPARE(rate.currentText(), QStringLiteral("38400"));
        rate.setCurrentIndex(0);
        QCOMPARE(text.text(), QStringLiteral("9600"));
        // A widget that cannot show the value is reported, not bound.
        FormValue flag(QStringLiteral("Check1"), true);
        QVERIFY(!bindFormValue(flag, &modes));
    }
};

ACL3_WIDGET_TEST_MAIN(GridViewTest)
#include "tst_gridview.moc"
