#include "ui/FormBinder.h"

#include "station/FormValue.h"
#include "station/StationForm.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {

const QString kEnabledSuffix = QStringLiteral(".Enabled");
const QString kBackColorSuffix = QStringLiteral("BackColor");
const QString kForeColorSuffix = QStringLiteral("ForeColor");

// Calls `show` with the value now and on every change, in the widget's lifetime.
template <typename Show> void follow(FormValue& value, QWidget* widget, Show show)
{
    show(value.value());
    QObject::connect(&value, &FormValue::changed, widget, show);
}

void bindEnabled(FormValue& value, QWidget* widget)
{
    follow(value, widget, [widget](const QVariant& v) { widget->setEnabled(v.toBool()); });
}

// The colour roles a back or fore colour sets; the palette the widget had when bound is what an
// invalid colour returns to.
void bindColor(FormValue& value, QWidget* widget, bool back)
{
    const QPalette original = widget->palette();
    const QList<QPalette::ColorRole> roles =
        back ? QList<QPalette::ColorRole>{QPalette::Window}
             : QList<QPalette::ColorRole>{QPalette::WindowText, QPalette::Text};
    follow(value, widget, [=](const QVariant& v) {
        const QColor color = v.value<QColor>();
        QPalette palette = widget->palette();
        for (QPalette::ColorRole role : roles)
            palette.setColor(role, color.isValid() ? color : original.color(role));
        widget->setPalette(palette);
        if (back)
            widget->setAutoFillBackground(color.isValid());
    });
}

void bindLineEdit(FormValue& value, QLineEdit* edit)
{
    follow(value, edit, [edit](const QVariant& v) {
        // Only a real change: setting the same text would move the operator's cursor.
        if (edit->text() != v.toString())
            edit->setText(v.toString());
    });
    QObject::connect(edit, &QLineEdit::textChanged, &value, &FormValue::setText);
}

void bindComboText(FormValue& value, QComboBox* combo)
{
    follow(value, combo, [combo](const QVariant& v) {
        const QString text = v.toString();
        if (combo->currentText() == text)
            return;
        const int item = combo->findText(text);
        if (item >= 0)
            combo->setCurrentIndex(item);
        else if (combo->isEditable())
            combo->setEditText(text);
        else
            combo->setCurrentIndex(-1);
    });
    QObject::connect(combo, &QComboBox::currentTextChanged, &value, &FormValue::setText);
}

void bindComboItems(FormValue& value, QComboBox* combo)
{
    follow(value, combo, [combo](const QVariant& v) {
        const QStringList items = v.toStringList();
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown << combo->itemText(i);
        if (shown == items)
            return;
        const QString text = combo->currentText();
        combo->clear();
        combo->addItems(items);
        // An editable box keeps its text when the list changes under it.
        if (combo->isEditable())
            combo->setEditText(text);
    });
}

void bindCheckable(FormValue& value, QAbstractButton* button)
{
    follow(value, button, [button](const QVariant& v) {
        const bool on = v.toBool();
        if (button->isChecked() == on)
            return;
        // The checked button of an exclusive group refuses to be cleared by itself; the station
        // may clear all of them.
        if (!on && button->autoExclusive()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
            return;
        }
        button->setChecked(on);
    });
    QObject::connect(button, &QAbstractButton::toggled, &value, &FormValue::setFlag);
}

} // namespace

bool bindFormValue(FormValue& value, QWidget* widget)
{
    if (!widget)
        return false;
    const QString name = value.objectName();
    if (name.endsWith(kEnabledSuffix)) {
        bindEnabled(value, widget);
        return true;
    }
    const QVariant& v = value.value();
    if (v.metaType() == QMetaType::fromType<QColor>()) {
        if (!name.endsWith(kBackColorSuffix) && !name.endsWith(kForeColorSuffix))
            return false;
        bindColor(value, widget, name.endsWith(kBackColorSuffix));
        return true;
    }
    if (v.metaType() == QMetaType::fromType<QStringList>()) {
        auto* combo = qobject_cast<QComboBox*>(widget);
        if (combo)
            bindComboItems(value, combo);
        return combo != nullptr;
    }
    if (v.metaType() == QMetaType::fromType<bool>()) {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!button || !button->isCheckable())
            return false;
        bindCheckable(value, button);
        return true;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        bindLineEdit(value, edit);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        bindComboText(value, combo);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        follow(value, label, [label](const QVariant& t) { label->setText(t.toString()); });
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        follow(value, frame, [frame](const QVariant& t) { frame->setTitle(t.toString()); });
    } else {
        return false;
    }
    return true;
}

QStringList bindFormValues(StationForm& form, QWidget* root)
{
    QStringList unbound;
    const auto values = form.findChildren<FormValue*>(Qt::FindDirectChildrenOnly);
    for (FormValue* value : values) {
        QString control = value->objectName();
        for (const QString& suffix : {kEnabledSuffix, kBackColorSuffix, kForeColorSuffix}) {
            if (control.endsWith(suffix) &&
                (suffix == kEnabledSuffix ||
                 value->value().metaType() == QMetaType::fromType<QColor>())) {
                control.chop(suffix.size());
                break;
            }
        }
        QWidget* widget = root->objectName() == control
                              ? root
                              : root->findChild<QWidget*>(control, Qt::FindChildrenRecursively);
        if (!bindFormValue(*value, widget))
            unbound << value->objectName();
    }
    return unbound;
}
