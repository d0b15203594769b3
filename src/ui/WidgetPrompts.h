#pragma once

#include "station/OperatorPrompts.h"

#include <QPointer>
#include <QWidget>

// The window's prompts: message boxes with an OK button, questions with their answers' buttons,
// and the open and save file dialogs, modal to the main window.
class WidgetPrompts : public OperatorPrompts
{
public:
    // The title of a message that brings none of its own.
    static const QString kDefaultTitle;

    void setParentWidget(QWidget* parent) { parent_ = parent; }

    void message(const QString& text, const QString& title = {}) override;
    QString openFileName(const QString& filter, const QString& preset) override;
    QString saveFileName(const QString& filter, const QString& preset) override;
    PromptAnswer question(const QString& text, const QList<PromptAnswer>& answers,
                          const QString& title = {}) override;

private:
    QString askFileName(bool save, const QString& filter, const QString& preset);

    QPointer<QWidget> parent_;
};
