#pragma once

#include "messages.h"

#include <QElapsedTimer>
#include <QProgressDialog>

class QWidget;

// The dialog itself: screen readers meet it as an alert, as they do a message box, so that they
// read out what it says when it appears, not only the button that has the focus.
class ProgressDialog : public QProgressDialog
{
    Q_OBJECT

public:
    ProgressDialog(const QString &text, QWidget *parent);
};

// Progress in the platform's own progress dialog: the program's name, what the command is doing,
// a bar and Cancel, which Escape presses too. It appears only once the command has gone on for
// half a second, and from then on lets the program's windows repaint as the command advances.
class ProgressWindow final : public Progress
{
public:
    ProgressWindow(QWidget *parent, const QString &text);
    ~ProgressWindow() override;
    Q_DISABLE_COPY_MOVE(ProgressWindow)

    void setText(const QString &text) override;
    bool advance(qint64 done, qint64 total) override;

    static constexpr int ShowAfter = 500; // milliseconds

private:
    ProgressDialog m_dialog;
    QElapsedTimer m_sinceEvents;
    QElapsedTimer m_sinceBar;
    bool m_pointerSet = false;
};
