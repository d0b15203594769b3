#include "station/OperatorPrompts.h"

#include <cstdio>

void RecordingPrompts::record(Shown prompt)
{
    shown.push_back(std::move(prompt));
    if (onShown)
        onShown(shown.back());
}

void RecordingPrompts::message(const QString& text, const QString& title)
{
    record({QStringLiteral("message"), text, title});
}

QString RecordingPrompts::nextAnswer()
{
    if (answers_.empty())
        return {};
    QString answer = answers_.front();
    answers_.pop_front();
    return answer;
}

QString RecordingPrompts::openFileName(const QString& filter, const QString& preset)
{
    lastFilter = filter;
    record({QStringLiteral("open"), preset, {}});
    return nextAnswer();
}

QString RecordingPrompts::saveFileName(const QString& filter, const QString& preset)
{
    lastFilter = filter;
    record({QStringLiteral("save"), preset, {}});
    return nextAnswer();
}

PromptAnswer RecordingPrompts::question(const QString& text, const QList<PromptAnswer>&,
                                        const QString& title)
{
    record({QStringLiteral("question"), text, title});
    if (questionAnswers_.empty())
        return PromptAnswer::Cancel;
    const PromptAnswer answer = questionAnswers_.front();
    questionAnswers_.pop_front();
    return answer;
}

void RecordingPrompts::scriptAnswers(const QList<PromptAnswer>& answers)
{
    questionAnswers_.insert(questionAnswers_.end(), answers.begin(), answers.end());
}

void RecordingPrompts::scriptFileNames(const QStringList& answers)
{
    for (const QString& a : answers)
        answers_.push_back(a);
}

QStringList RecordingPrompts::messages() const
{
    QStringList texts;
    for (const Shown& s : shown) {
        if (s.kind == QLatin1String("message"))
            texts << s.text;
    }
    return texts;
}

void ConsolePrompts::message(const QString& text, const QString& title)
{
    const QString line = title.isEmpty() ? text : title + QStringLiteral(" ") + text;
    std::fprintf(stderr, "acl3-run: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

QString ConsolePrompts::openFileName(const QString&, const QString& preset)
{
    return preset;
}

QString ConsolePrompts::saveFileName(const QString&, const QString& preset)
{
    return preset;
}

PromptAnswer ConsolePrompts::question(const QString& text, const QList<PromptAnswer>& answers,
                                      const QString& title)
{
    message(text, title);
    return answers.contains(PromptAnswer::No) && !answers.contains(PromptAnswer::Cancel)
               ? PromptAnswer::No
               : PromptAnswer::Cancel;
}
