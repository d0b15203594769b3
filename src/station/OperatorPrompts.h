#pragma once

#include <QString>
#include <QStringList>

#include <QList>

#include <deque>
#include <functional>

// The answers a question can offer.
enum class PromptAnswer
{
    Save,
    Discard,
    Cancel,
    Resume,
    Yes,
    No,
};

// Everything the station asks or tells the operator: message boxes and the open and save file
// dialogs. The window shows real dialogs, the headless runner prints and answers by itself, and
// tests record what was shown and script the answers.
class OperatorPrompts
{
public:
    virtual ~OperatorPrompts() = default;

    // A message with an OK button. An empty title means the program's own title.
    virtual void message(const QString& text, const QString& title = {}) = 0;
    // The chosen file name, or an empty text when the operator cancels. `filter` is in Qt's
    // form ("INI檔(*.ini);;所有檔案(*.*)"); `preset` is the name the dialog starts with.
    virtual QString openFileName(const QString& filter, const QString& preset) = 0;
    virtual QString saveFileName(const QString& filter, const QString& preset) = 0;
    // A question with the given answers; Cancel when it is closed without one.
    virtual PromptAnswer question(const QString& text, const QList<PromptAnswer>& answers,
                                  const QString& title = {}) = 0;
};

// Records every prompt and answers file dialogs from a script (cancel when the script is empty).
class RecordingPrompts : public OperatorPrompts
{
public:
    struct Shown
    {
        QString kind; // "message", "open", "save", "question"
        QString text; // message text, or the dialog's preset
        QString title;
    };

    void message(const QString& text, const QString& title = {}) override;
    QString openFileName(const QString& filter, const QString& preset) override;
    QString saveFileName(const QString& filter, const QString& preset) override;
    PromptAnswer question(const QString& text, const QList<PromptAnswer>& answers,
                          const QString& title = {}) override;

    // Answers for the next dialogs, in order; "" is a cancel.
    void scriptFileNames(const QStringList& answers);
    // Answers for the next questions, in order; Cancel when none is left.
    void scriptAnswers(const QList<PromptAnswer>& answers);

    QStringList messages() const; // texts of the messages shown, in order
    std::deque<Shown> shown;
    QString lastFilter;
    // Runs when a prompt is shown, after it is recorded and before a dialog answers: a test
    // looks at the files at the moment the operator would see the dialog.
    std::function<void(const Shown&)> onShown;

private:
    void record(Shown prompt);
    QString nextAnswer();
    std::deque<QString> answers_;
    std::deque<PromptAnswer> questionAnswers_;
};

// The headless runner's prompts: messages become lines on standard error, the file dialogs
// answer with a fixed file (the current program) without asking, and questions are answered
// with Cancel, or No where Cancel is not offered, which loses nothing.
class ConsolePrompts : public OperatorPrompts
{
public:
    void message(const QString& text, const QString& title = {}) override;
    QString openFileName(const QString& filter, const QString& preset) override;
    QString saveFileName(const QString& filter, const QString& preset) override;
    PromptAnswer question(const QString& text, const QList<PromptAnswer>& answers,
                          const QString& title = {}) override;
};
