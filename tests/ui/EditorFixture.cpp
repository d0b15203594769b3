#include "EditorFixture.h"

#include <QAbstractItemView>
#include <QtTest>

EditorFixture::EditorFixture(int steps, const QString& connectMode)
{
    QObject::connect(timer1.get(), &StartupTimer::loadLevelLayoutDue, window->stepEditor(),
                     &StepEditor::ShowLoadLevelLayout);
    writeSettings(connectMode);
    writeProgram(steps);
    startUp();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
}

QPoint EditorFixture::cellCentre(int r, int col) const
{
    QTableView* v = view();
    const QModelIndex index = grid().indexOf(r, col);
    v->scrollTo(index);
    return v->visualRect(index).center();
}

void EditorFixture::clickCell(int r, int col, Qt::MouseButton button) const
{
    QTest::mouseClick(view()->viewport(), button, {}, cellCentre(r, col));
}

void EditorFixture::doubleClickCell(int r, int col) const
{
    // What the window system delivers: a click, then the double-click and its release.
    QWidget* viewport = view()->viewport();
    const QPoint at = cellCentre(r, col);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

void EditorFixture::pickItem(QComboBox* c, const QString& text) const
{
    const int item = c->findText(text, Qt::MatchExactly);
    QVERIFY2(item >= 0, qPrintable(text));
    c->showPopup();
    QAbstractItemView* list = c->view();
    QTRY_VERIFY(list->isVisible());
    const QModelIndex index = list->model()->index(item, 0);
    // Long lists scroll: the item is brought into the popup first, as the operator scrolls.
    list->scrollTo(index);
    const QRect rect = list->visualRect(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTRY_VERIFY(!list->isVisible());
}

void EditorFixture::chooseItem(QComboBox* c, const QString& text) const
{
    pickItem(c, text);
    QCOMPARE(c->currentText(), text);
}

void EditorFixture::typeInto(QLineEdit* edit, const QString& text) const
{
    QVERIFY(edit);
    edit->setFocus(Qt::MouseFocusReason);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void EditorFixture::addWith(const QString& action) const
{
    click(QStringLiteral("AddCommand"));
    chooseItem(combo(QStringLiteral("SetStepActionCombo")), action);
}
