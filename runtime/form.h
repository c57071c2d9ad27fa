#pragma once

// The operations that commands use on the window: the text of a text box and the value of an
// option button, reached by the control's name afresh each time; messages; unloading.
// Text crosses this boundary with CR LF line breaks, whatever the widgets keep inside.

#include "listbox.h"
#include "listdocument.h"
#include "messages.h"

#include <QString>
#include <QStringView>

#include <memory>

class QWidget;

class Form
{
public:
    Form(QWidget &window, Messages &messages);

    // The whole text, exactly as typed or loaded.
    QString text(const QString &control) const;
    // Replaces the whole text; returns it as the box now holds it, as text() would read it (a
    // box may hold a lone CR or LF as a line break).
    QString setText(const QString &control, const QString &text);
    // Adds to the end of the text as one undo step, in time proportional to what is added.
    void appendText(const QString &control, QStringView text);

    // A list's whole text, exactly as text() reads it, a piece at a time: lists run to hundreds
    // of megabytes, and are never copied whole.
    bool readList(const QString &control, const ListDocument::Piece &piece) const;
    // About how many characters readList() hands out.
    qsizetype listSize(const QString &control) const;
    // A list's whole new text, \a text handed out once in pieces, in the shape
    // ListDocument::shape() found for it, built while the box goes on showing the old one;
    // \a held is handed the text as readList() will read it. Nothing if \a text stopped.
    std::unique_ptr<ListBox::Replacement> buildList(const QString &control,
                                                    const ListDocument::Shape &shape,
                                                    const ListDocument::Pieces &text,
                                                    const ListDocument::Piece &held);
    // Shows a list that buildList() built in place of the old one, at once.
    void showList(const QString &control, std::unique_ptr<ListBox::Replacement> list);

    // Whether the text changed since setUnmodified(); a cheap first look before comparing texts.
    bool isModified(const QString &control) const;
    void setUnmodified(const QString &control);
    void setModified(const QString &control);

    bool value(const QString &control) const;
    // Writing false clears the button, even as the selected one of an exclusive group.
    void setValue(const QString &control, bool value);

    void showInformation(const QString &prompt, const QString &title);
    void reportError(const QString &text);
    Choice ask(const Question &question);
    void announce(const QString &text);
    std::unique_ptr<Progress> progress(const QString &text);

    // Closes the window, which ends the program once the window agrees to close.
    void unload();

private:
    QWidget *control(const QString &name) const;
    ListBox *list(const QString &name) const;

    QWidget &m_window;
    Messages &m_messages;
};
