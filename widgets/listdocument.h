#pragma once

#include "memory.h"

#include <QString>
#include <QStringView>
#include <QTextDocument>

#include <functional>

// The document of a list box, built for lists of a million lines: blocks of whole records, the
// line breaks inside a block held as line separators. Text goes in and comes out with CR LF
// line breaks, exactly as written, whatever the blocks are, and a piece at a time, so that a
// huge list is never copied whole.
class ListDocument : public QTextDocument
{
    Q_OBJECT

public:
    // A text handed out a piece at a time, each piece valid only during the call; a receiver that
    // returns false stops the rest.
    using Piece = std::function<bool(QStringView)>;
    using Pieces = std::function<bool(const Piece &)>;

    // What a text becomes in a document, found by one look at all of it.
    struct Shape
    {
        qsizetype chars = 0; // the document's characters, each line break one
        qsizetype blocks = 1;
        // One block per line: the text holds characters a document reads as breaks, so its line
        // separators stay characters of the list.
        bool lineByLine = false;
        // The memory a document of this shape takes.
        Memory::Need need() const;
    };
    static Shape shape(const Pieces &text);
    // The shape of most blocks a text of \a chars characters could take, none of them a character
    // that a document reads as a break: what its memory can come to at most.
    static Shape widest(qsizetype chars);
    // About what a text of up to \a chars characters takes, before anything else is known of it.
    static Memory::Need need(qsizetype chars);

    explicit ListDocument(QObject *parent = nullptr);

    // Replaces the whole text with \a text, handed out once, in the shape shape() found for it.
    // Not undoable, and the document counts as unmodified afterwards. \a held is handed the text
    // as the document now holds it, as read() would hand it out. False when \a text stopped
    // before its end: the document then holds only what came.
    bool setText(const Shape &shape, const Pieces &text, const Piece &held);
    // The same for a text in memory; returns the text as the document now holds it.
    QString setText(const QString &text);
    // Adds to the end as one undo step, in time proportional to \a text; users' cursors stay.
    void append(QStringView text);
    // The whole text with CR LF line breaks, a piece at a time.
    bool read(const Piece &piece) const;
    QString text() const;
    // Whether a line separator in the document is a line break of the list: not in a list that
    // came with line separators of its own.
    bool separatorsAreBreaks() const { return m_separatorsAreBreaks; }

    // A document's raw text with CR LF for each paragraph break, and for each line separator too
    // when \a lineSeparators.
    static QString crlfText(QString raw, bool lineSeparators);

private:
    bool m_separatorsAreBreaks = true;
};
