#pragma once

#include "form.h"
#include "mainwindow.h"
#include "recordingmessages.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

// The real window with its messages recorded, and the few steps every window test takes.
struct WindowFixture
{
    RecordingMessages *messages = new RecordingMessages;
    std::unique_ptr<MainWindow> window =
            std::make_unique<MainWindow>(std::unique_ptr<Messages>(messages));

    template<typename T = QWidget>
    T *find(const char *name) const
    {
        T *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    // Types into a field as a user does; "\n" presses Enter.
    void type(const char *field, const QString &text) const
    {
        QWidget *box = find(field);
        const QStringList lines = text.split(u'\n');
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClicks(box, lines[i]);
        }
    }

    void click(const char *button) const { QTest::mouseClick(find(button), Qt::LeftButton); }
    void trigger(const char *action) const { find<QAction>(action)->trigger(); }

    // A list's whole text with CR LF line breaks, as the program saves it.
    QString list(const char *box) const
    {
        return Form(*window, *messages).text(QString::fromLatin1(box));
    }
    // Puts text at the end of a list box as if typed there.
    void typeAtEnd(const char *box, const QString &text) const
    {
        auto *edit = find<QPlainTextEdit>(box);
        edit->moveCursor(QTextCursor::End);
        edit->insertPlainText(text);
    }
};
