#include "ui/WidgetPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

const QString WidgetPrompts::kDefaultTitle = QStringLiteral("ACL3");

void WidgetPrompts::message(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? kDefaultTitle : title, text,
                    QMessageBox::Ok, parent_);
    box.setObjectName(QStringLiteral("OperatorMessage"));
    box.exec();
}

PromptAnswer WidgetPrompts::question(const QString& text, const QList<PromptAnswer>& answers,
                                     const QString& title)
{
    static const std::pair<PromptAnswer, QMessageBox::StandardButton> kButtons[] = {
        {PromptAnswer::Resume, QMessageBox::NoButton}, {PromptAnswer::Save, QMessageBox::Save},
        {PromptAnswer::Discard, QMessageBox::Discard}, {PromptAnswer::Cancel, QMessageBox::Cancel},
        {PromptAnswer::Yes, QMessageBox::Yes},         {PromptAnswer::No, QMessageBox::No},
    };
    QMessageBox box(QMessageBox::Question, title.isEmpty() ? kDefaultTitle : title, text,
                    QMessageBox::NoButton, parent_);
    box.setObjectName(QStringLiteral("OperatorQuestion"));
    QList<std::pair<QAbstractButton*, PromptAnswer>> buttons;
    for (const auto& [answer, button] : kButtons) {
        if (!answers.contains(answer))
            continue;
        // Resume has no standard button of its own.
        buttons.append({button == QMessageBox::NoButton
                            ? box.addButton(QStringLiteral("Resume"), QMessageBox::AcceptRole)
                            : box.addButton(button),
                        answer});
    }
    box.exec();
    for (const auto& [button, answer] : buttons) {
        if (button == box.clickedButton())
            return answer;
    }
    // Closed without an answer: Cancel, or No where Cancel is not offered.
    return answers.contains(PromptAnswer::Cancel) || !answers.contains(PromptAnswer::No)
               ? PromptAnswer::Cancel
               : PromptAnswer::No;
}

QString WidgetPrompts::openFileName(const QString& filter, const QString& preset)
{
    return askFileName(false, filter, preset);
}

QString WidgetPrompts::saveFileName(const QString& filter, const QString& preset)
{
    return askFileName(true, filter, preset);
}

QString WidgetPrompts::askFileName(bool save, const QString& filter, const QString& preset)
{
    QFileDialog dialog(parent_, save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Saving over the program that was opened is the usual case: no question about replacing.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QFileInfo presetFile(preset);
    dialog.setDirectory(presetFile.absolutePath());
    dialog.selectFile(presetFile.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
