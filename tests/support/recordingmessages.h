#pragma once

#include "messages.h"

#include <QCursor>
#include <QGuiApplication>
#include <QList>
#include <QString>

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
    QList<Choice> answers; // taken in order; Cancel once they run out

    void information(const QString &prompt, const QString &title) override
    {
        shown.append({Kind::Information, prompt, title, {}, busy()});
    }
    void error(const QString &text) override { shown.append({Kind::Error, text, {}, {}, busy()}); }
    Choice ask(const Question &question) override
    {
        shown.append({Kind::Question, question.text, question.title, question.choices, busy()});
        return answers.isEmpty() ? Choice::Cancel : answers.takeFirst();
    }
};
