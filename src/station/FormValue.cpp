#include "station/FormValue.h"

FormValue::FormValue(const QString& name, const QVariant& initial, QObject* parent)
    : QObject(parent), value_(initial)
{
    setObjectName(name);
}

void FormValue::set(const QVariant& value)
{
    // Keep the declared type: a flag stays bool, a text stays QString.
    QVariant v = value;
    if (value_.isValid() && v.metaType() != value_.metaType())
        v.convert(value_.metaType());
    if (v == value_)
        return;
    value_ = v;
    emit changed(value_);
}
