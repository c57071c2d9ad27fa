#pragma once

#include "messages.h"

#include <QList>
#include <QString>

#include <functional>
#include <utility>

// Records every message instead of showing it, and answers questions from a script.
class RecordingMessages final : public Messages
{
public:
    enum class Kind { Information, Error, Question };
    struct Shown
    {
        Kind kind;
        QString text;
        QString title;
        QList<Choice> choices;
    };

    QList<Shown> shown;
    QList<Choice> answers;             // taken in order; Cancel once they run out
    std::function<void()> whileAsking; // runs once, while the next question is up

    void information(const QString &prompt, const QString &title) override
    {
        shown.append({Kind::Information, prompt, title, {}});
    }
    void error(const QString &text) override { shown.append({Kind::Error, text, {}, {}}); }
    Choice ask(const Question &question) override
    {
        shown.append({Kind::Question, question.text, question.title, question.choices});
        if (const auto run = std::exchange(whileAsking, {}))
            run();
        return answers.isEmpty() ? Choice::Cancel : answers.takeFirst();
    }
};
