#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QLineEdit;
class QWidget;

// Pieces shared by the step editor and the step grid's in-place editors.

// A combo box of fixed choices that still shows any text a program file brought along: it is
// editable and never adds what the operator types to its list.
QComboBox* choiceCombo(const QString& name, const QStringList& items, QWidget* parent);

// Shows a text in a combo box: the list item of that text (letter case counts), else the text
// itself in the edit field; an empty text shows nothing.
void setComboText(QComboBox* combo, const QString& text);

// Calls `done` with the box when the operator presses Enter in it or leaves it, so that an
// entry can be corrected where it was typed. Lives as the box's child.
class EnterOrLeaveHook : public QObject
{
public:
    EnterOrLeaveHook(QLineEdit* box, std::function<void(QLineEdit*)> done);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* box_;
    std::function<void(QLineEdit*)> done_;
};

// True for the Enter keys of the main keyboard and the keypad.
bool isEnterKey(int key);
