#pragma once

#include "messages.h"

#include <QCursor>
#include <QGuiApplication>
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
        bool busy = false; // shown under the busy pointer
    };

    static bool busy()
    {
        const QCursor *pointer = QGuiApplication::overrideCursor();
        return pointer && pointer->shape() == Qt::WaitCursor;
    }

    QList<Shown> shown;
    QStringList announced;             // what screen readers were told, apart from shown
    QList<Choice> answers;             // taken in order; Cancel once they run out
    std::function<void()> whileAsking; // runs once, while the next question is up

    void information(const QString &prompt, const QString &title) override
    {
        shown.append({Kind::Information, prompt, title, {}, busy()});
    }
    void error(const QString &text) override { shown.append({Kind::Error, text, {}, {}, busy()}); }
    Choice ask(const Question &question) override
    {
        shown.append({Kind::Question, question.text, question.title, question.choices, busy()});
        if (const auto run = std::exchange(whileAsking, {}))
            run();
        return answers.isEmpty() ? Choice::Cancel : answers.takeFirst();
    }
    void announce(const QString &text) override { announced.append(text); }
};
