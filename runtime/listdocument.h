#pragma once

// The document of a list box, built for lists of a million lines: one block per record, the
// line breaks inside a record held as line separators. Text goes in and comes out with CR LF
// line breaks, exactly as written, whatever the blocks are.

#include <QString>
#include <QStringView>

class QPlainTextEdit;
class QTextDocument;

namespace ListDocument {

// Replaces the whole text; not undoable, and the document counts as unmodified afterwards.
// Returns the text as the document now holds it, as text() would read it.
QString setText(QPlainTextEdit &edit, const QString &text);
// Adds to the end as one undo step, in time proportional to \a text; the user's cursor stays.
void append(QTextDocument &document, QStringView text);
// The whole text with CR LF line breaks.
QString text(QTextDocument &document);
// Whether a line separator in the document is a line break of the list: not in a list that came
// with line separators of its own.
bool separatorsAreBreaks(const QTextDocument &document);

// A document's raw text with CR LF for each paragraph break, and for each line separator too
// when \a lineSeparators.
QString crlfText(QString raw, bool lineSeparators);

} // namespace ListDocument
