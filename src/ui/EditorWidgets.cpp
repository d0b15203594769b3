#include "ui/EditorWidgets.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

QComboBox* choiceCombo(const QString& name, const QStringList& items, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed "c" into "CC" behind the operator's back.
    combo->setCompleter(nullptr);
    combo->addItems(items);
    return combo;
}

void setComboText(QComboBox* combo, const QString& text)
{
    const int item = text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly);
    if (item >= 0) {
        combo->setCurrentIndex(item);
        // An edit field that was typed in keeps its text when the index does not change.
        if (combo->isEditable() && combo->currentText() != text)
            combo->setEditText(text);
        return;
    }
    combo->setCurrentIndex(-1);
    if (combo->isEditable())
        combo->setEditText(text);
}

bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

EnterOrLeaveHook::EnterOrLeaveHook(QLineEdit* box, std::function<void(QLineEdit*)> done)
    : QObject(box), box_(box), done_(std::move(done))
{
    box->installEventFilter(this);
}

bool EnterOrLeaveHook::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == box_) {
        const bool enter =
            event->type() == QEvent::KeyPress && isEnterKey(static_cast<QKeyEvent*>(event)->key());
        if (enter || event->type() == QEvent::FocusOut)
            done_(box_);
    }
    return false;
}
