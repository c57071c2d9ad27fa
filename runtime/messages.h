#pragma once

#include <QList>
#include <QString>

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
};
