#pragma once

#include <QList>
#include <QString>

#include <memory>

// Everything the program says to the user goes through Messages, so tests can record it and
// script the answers instead of blocking on a modal box.

enum class Choice { Save, Discard, Replace, Overwrite, Recover, Cancel };

struct Question
{
    QString title;
    QString text;
    QList<Choice> choices; // left to right
    Choice defaultChoice = Choice::Cancel;
    Choice escapeChoice = Choice::Cancel;
};

// How far a long command has got, shown once it has taken a while, with a way to stop it. Goes
// when the command is done.
class Progress
{
public:
    virtual ~Progress() = default;

    // What the command is doing now.
    virtual void setText(const QString &text) = 0;
    // The command has done \a done of \a total; false once the user asked it to stop.
    virtual bool advance(qint64 done, qint64 total) = 0;
};

class Messages
{
public:
    virtual ~Messages() = default;

    // Modal, information icon, OK only, shown as plain text.
    virtual void information(const QString &prompt, const QString &title) = 0;
    // A command that failed; the program goes on.
    virtual void error(const QString &text) = 0;
    virtual Choice ask(const Question &question) = 0;
    // For screen readers only, never shown: what a command did that no box or focus change tells.
    virtual void announce(const QString &text) = 0;
    // Shown only once the command has gone on for half a second; modal, so that nothing else
    // runs meanwhile but what the program does by itself.
    virtual std::unique_ptr<Progress> progress(const QString &text) = 0;
};
