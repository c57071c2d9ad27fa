#include "listdocument.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVariant>

#include <algorithm>

namespace {

constexpr char16_t LineSeparator = QChar::LineSeparator;
constexpr char16_t ParagraphSeparator = QChar::ParagraphSeparator;
// A document reads these two as the edges of a frame, and makes line breaks of them.
constexpr char16_t FrameStart = 0xFDD0;
constexpr char16_t FrameEnd = 0xFDD1;
constexpr QStringView RecordSeparator = u"------";
// Every keystroke lays its whole block out again, so no block grows past this many lines.
constexpr int MaxBlockLines = 32;
constexpr int MaxCountedBlock = 64 * 1024;
// Whether a line separator in the document stands for a line break of the list. It does not in
// a list that came with line separators of its own.
const char *const SeparatorsAreBreaks = "vonnerbyLineSeparatorsAreBreaks";

bool isDocumentBreak(char16_t c)
{
    return c == LineSeparator || c == ParagraphSeparator || c == FrameStart || c == FrameEnd;
}

// Writes text at a cursor: a "------" line, or a line past MaxBlockLines, starts a new block,
// any other line break goes in as a line separator. Each block gets its number of lines as it
// is finished, so that the scroll bar is right before anything is laid out.
class BlockWriter
{
public:
    BlockWriter(QTextCursor &cursor, int linesInBlock)
        : m_cursor(cursor)
        , m_lines(linesInBlock)
    { }

    void write(QStringView text)
    {
        const char16_t *const begin = text.utf16();
        const char16_t *const end = begin + text.size();
        const char16_t *line = begin;
        for (const char16_t *c = begin;; ++c) {
            if (c != end && *c != u'\r' && *c != u'\n' && !isDocumentBreak(*c))
                continue;
            const bool first = line == begin;
            addLine(QStringView(line, c), first);
            if (c == end)
                break;
            if (*c == u'\r' && c + 1 != end && c[1] == u'\n')
                ++c;
            else
                m_onlyCrLf = false;
            line = c + 1;
        }
    }

    // Whether every line break written was CR LF, so that the text reads back unchanged.
    bool onlyCrLf() const { return m_onlyCrLf; }

    void finish()
    {
        m_cursor.insertText(m_pending);
        m_cursor.block().setLineCount(m_lines);
    }

private:
    void addLine(QStringView line, bool continuesBlock)
    {
        if (!continuesBlock) {
            if (line == RecordSeparator || m_lines >= MaxBlockLines) {
                finish();
                m_cursor.insertBlock();
                m_pending.resize(0);
                m_lines = 1;
            } else {
                m_pending += QChar(LineSeparator);
                ++m_lines;
            }
        }
        m_pending += line;
    }

    QTextCursor &m_cursor;
    QString m_pending;
    int m_lines;
    bool m_onlyCrLf = true;
};

} // namespace

namespace ListDocument {

bool separatorsAreBreaks(const QTextDocument &document)
{
    const QVariant value = document.property(SeparatorsAreBreaks);
    return !value.isValid() || value.toBool();
}

QString setText(QPlainTextEdit &edit, const QString &text)
{
    QTextDocument &document = *edit.document();
    // A list that holds characters the document gives a meaning of its own goes in line by
    // line, so that each of its line separators stays one.
    const bool plain = std::any_of(text.utf16(), text.utf16() + text.size(), isDocumentBreak);
    document.setProperty(SeparatorsAreBreaks, !plain);
    if (plain) {
        edit.setPlainText(text);
        return ListDocument::text(document);
    }
    // As with setPlainText(), replacing the whole list is no step to undo.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    BlockWriter writer(cursor, 1);
    writer.write(text);
    writer.finish();
    cursor.endEditBlock();
    document.setUndoRedoEnabled(undo);
    document.setModified(false);
    edit.setTextCursor(QTextCursor(&document));
    // Reading a huge document back costs a third of setting it; with only CR LF breaks it reads
    // back as exactly what was set.
    return writer.onlyCrLf() ? text : ListDocument::text(document);
}

void append(QTextDocument &document, QStringView text)
{
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    if (separatorsAreBreaks(document)) {
        // Counting the lines of a huge last block would cost more than the record; a block
        // counted as full only starts the record's next line in a block of its own.
        const QTextBlock last = end.block();
        const int lines = last.length() > MaxCountedBlock
                ? MaxBlockLines
                : int(last.text().count(QChar(LineSeparator))) + 1;
        BlockWriter writer(end, lines);
        writer.write(text);
        writer.finish();
    } else {
        end.insertText(text.toString());
    }
    end.endEditBlock();
}

QString text(QTextDocument &document)
{
    return crlfText(document.toRawText(), separatorsAreBreaks(document));
}

// Widened in place, from the back, in one pass: lists run to tens of megabytes, and replace()
// grows quadratically.
QString crlfText(QString raw, bool lineSeparators)
{
    const auto isBreak = [lineSeparators](char16_t c) {
        return c == ParagraphSeparator || (lineSeparators && c == LineSeparator);
    };
    const qsizetype size = raw.size();
    const qsizetype breaks = std::count_if(raw.utf16(), raw.utf16() + size, isBreak);
    if (breaks == 0)
        return raw;
    raw.resize(size + breaks);
    auto *const first = reinterpret_cast<char16_t *>(raw.data());
    const char16_t *in = first + size;
    char16_t *out = first + size + breaks;
    // Once the first break is widened, everything before it is already in place.
    while (in != out) {
        const char16_t c = *--in;
        if (isBreak(c)) {
            *--out = u'\n';
            *--out = u'\r';
        } else {
            *--out = c;
        }
    }
    return raw;
}

} // namespace ListDocument
