#pragma once

#include <QColor>
#include <QObject>
#include <QStringList>
#include <QVariant>

// One value of the main window's state: the text of a box or label, the tick of a check box or
// option button, a colour, a combo box's item list, or a control's Enabled flag. The engine
// reads and writes it; a widget of the same object name shows it and writes the operator's
// changes back. `changed` is emitted only when the value really changes.
class FormValue : public QObject
{
    Q_OBJECT

public:
    FormValue(const QString& name, const QVariant& initial, QObject* parent = nullptr);

    QString text() const { return value_.toString(); }
    bool flag() const { return value_.toBool(); }
    QColor color() const { return value_.value<QColor>(); }
    QStringList list() const { return value_.toStringList(); }
    const QVariant& value() const { return value_; }

    void set(const QVariant& value);
    void setText(const QString& text) { set(text); }
    void setFlag(bool on) { set(on); }
    void setColor(const QColor& color) { set(QVariant::fromValue(color)); }
    void setList(const QStringList& items) { set(items); }

signals:
    void changed(const QVariant& value);

private:
    QVariant value_;
};
