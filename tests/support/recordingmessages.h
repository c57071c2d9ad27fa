#pragma once

#include "messages.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
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

    QStringList progressTexts; // what progress windows said, in turn
    int advances = 0;          // reported to progress windows, in all
    // Asked at each advance whether Cancel is pressed now.
    std::function<bool()> pressCancel;

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

    std::unique_ptr<Progress> progress(const QString &text) override
    {
        class Recorded final : public Progress
        {
        public:
            explicit Recorded(RecordingMessages &to)
                : m_to(to)
            { }
            void setText(const QString &text) override { m_to.progressTexts.append(text); }
            bool advance(qint64 done, qint64 total) override
            {
                if (done < 0 || done > total)
                    qFatal("progress %lld of %lld", qlonglong(done), qlonglong(total));
                ++m_to.advances;
                // As a progress window that is up does: timers, signals and the like come in.
                QCoreApplication::processEvents();
                m_cancelled = m_cancelled || (m_to.pressCancel && m_to.pressCancel());
                return !m_cancelled;
            }

        private:
            RecordingMessages &m_to;
            bool m_cancelled = false;
        };
        progressTexts.append(text);
        return std::make_unique<Recorded>(*this);
    }
};
