#pragma once

#include <QStringList>

class FormValue;
class StationForm;
class QWidget;

// Binds the values of the station form to the widgets that show them, by object name: the value
// "SNText" to the widget "SNText" under the root. The value leads: the widget shows it at once
// and follows every change; the operator's edits go back into the value.
//
//   text        QLineEdit (both ways), QComboBox current text (both ways), QLabel text,
//               QGroupBox title
//   flag        QCheckBox, QRadioButton and other checkable buttons (both ways)
//   text list   QComboBox items
//   colour      "<Control>BackColor" and "<Control>ForeColor" colour the control's palette
//               (window and window text); an invalid colour gives the palette's own back
//   "<Control>.Enabled"  the control's enabled state
//
// Returns the names of the values for which no widget was found under the root, so that a
// panel built later can bind them with a second call on its own root.
QStringList bindFormValues(StationForm& form, QWidget* root);

// Binds one value to one widget as above. False when the widget cannot show the value.
bool bindFormValue(FormValue& value, QWidget* widget);
