#include "listdocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

using Piece = ListDocument::Piece;
using Pieces = ListDocument::Pieces;

constexpr char16_t LineSeparator = QChar::LineSeparator;
constexpr char16_t ParagraphSeparator = QChar::ParagraphSeparator;
// A document reads these two as the edges of a frame, and makes line breaks of them.
constexpr char16_t FrameStart = 0xFDD0;
constexpr char16_t FrameEnd = 0xFDD1;
constexpr QStringView RecordSeparator = u"------";
// Every keystroke lays its whole block out again, so no block grows past a number of lines. Every
// block costs the document a few microseconds to make, so a block takes whole records until it
// holds a number of lines: two friends to a block, three servers. The larger a list, the more
// its Open weighs against a keystroke: a large one gets larger blocks, three friends to a block,
// which makes opening 100,000 friends a sixth faster and a keystroke in them 0.03 ms slower.
struct BlockLines
{
    int least;
    int most;
};
constexpr BlockLines RecordBlocks{16, 32};
constexpr BlockLines LargeListBlocks{32, 48};
constexpr qsizetype LargeList = 1024 * 1024;
constexpr int MaxCountedBlock = 64 * 1024;
// A cache's worth: text goes into the document, and comes out of it, this much at a time.
constexpr qsizetype ChunkSize = 64 * 1024;
// Besides the text and the blocks: the laid-out blocks on screen and the pieces on their way.
constexpr qint64 DocumentSlack = 16 * 1024 * 1024;

bool isDocumentBreak(char16_t c)
{
    return c == LineSeparator || c == ParagraphSeparator || c == FrameStart || c == FrameEnd;
}

Pieces piecesOf(const QString &text)
{
    return [&text](const Piece &piece) {
        for (qsizetype from = 0; from < text.size(); from += ChunkSize) {
            if (!piece(QStringView(text).sliced(from, std::min(ChunkSize, text.size() - from))))
                return false;
        }
        return true;
    };
}

// Turns a list's text into a document's. In blocks mode a "------" line starts a new block once
// the block holds the least lines of a block, a line past the most always does, and any other
// line break becomes a line separator; line by line, every line is a block of its own. The text
// goes in a chunk at a time, each block getting its number of lines as it is finished, so that the
// scroll bar is right before anything is laid out. Without a cursor it only counts.
class Writer
{
public:
    // \a held, if given, is handed the text as the document will read it back.
    Writer(QTextCursor *cursor, bool lineByLine, BlockLines bounds, int linesInBlock,
           const Piece *held = nullptr)
        : m_cursor(cursor)
        , m_lineByLine(lineByLine)
        , m_bounds(bounds)
        , m_lines(linesInBlock)
        , m_held(held)
    {
        m_chunk.resize(2 * ChunkSize);
        if (m_cursor)
            m_block = m_cursor->block();
    }

    void write(QStringView text)
    {
        for (qsizetype from = 0; from < text.size(); from += ChunkSize)
            writePiece(text.sliced(from, std::min(ChunkSize, text.size() - from)));
    }

    void finish()
    {
        char16_t *out = chunk() + m_used;
        const bool separator = m_dashes == RecordSeparator.size();
        if (m_pending && m_cursor)
            out = resolve<true>(out, separator, m_dashes, m_lines);
        else if (m_pending)
            out = resolve<false>(out, separator, m_dashes, m_lines);
        m_pending = false;
        m_used = out - chunk();
        // A CR at the very end had no LF to pair with.
        if (m_cr && m_held)
            (*m_held)(u"\n");
        m_cr = false;
        flush();
        if (m_cursor)
            m_block.setLineCount(m_lines);
    }

    qsizetype chars() const { return m_chars; }
    qsizetype blocks() const { return m_blocks; }
    // Whether the text held characters a document reads as breaks; blocks mode makes line
    // breaks of them.
    bool sawDocumentBreak() const { return m_documentBreak; }

private:
    char16_t *chunk() { return reinterpret_cast<char16_t *>(m_chunk.data()); }

    bool isOrdinary(char16_t c) const
    {
        if (c > u'\r' && c < LineSeparator)
            return true;
        if (c == u'\r' || c == u'\n')
            return false;
        return !isDocumentBreak(c) || (m_lineByLine && c == LineSeparator);
    }

    // Copies the run of plain characters at \a p (above CR, below U+2000), several at a time.
    // The chunk has room for the whole piece, so a step may write past the run's end.
    template<bool Store>
    static const char16_t *copyRun(const char16_t *p, const char16_t *end, char16_t *&out)
    {
#ifdef __SSE2__
        const __m128i below = _mm_set1_epi16(0x0E);
        const __m128i span = _mm_set1_epi16(0x2000 - 0x0E - 1);
        for (; end - p >= 8; p += 8, out += 8) {
            const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            if constexpr (Store)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), chars);
            // Zero where a character is plain: above CR and below U+2000, compared unsigned.
            const __m128i beyond = _mm_subs_epu16(_mm_sub_epi16(chars, below), span);
            const int plain = _mm_movemask_epi8(_mm_cmpeq_epi16(beyond, _mm_setzero_si128()));
            if (plain != 0xFFFF) {
                const int run = __builtin_ctz(~unsigned(plain)) / 2;
                out += run;
                return p + run;
            }
        }
#endif
        for (; p != end && *p > u'\r' && *p < 0x2000; ++p, ++out) {
            if constexpr (Store)
                *out = *p;
        }
        return p;
    }

    void writePiece(QStringView text)
    {
        if (m_cursor)
            writePiece<true>(text);
        else
            writePiece<false>(text);
    }

    template<bool Store>
    void writePiece(QStringView text)
    {
        // Room for the piece, a line break and a "------" held back from the last piece.
        if (m_used + text.size() + 8 > m_chunk.size())
            flush();
        const char16_t *p = text.utf16();
        const char16_t *const end = p + text.size();
        m_heldFrom = p;
        if (m_cr) {
            m_cr = false;
            if (p != end && *p == u'\n')
                ++p;
            else if (m_held)
                m_heldCopy += u'\n';
        }
        char16_t *out = chunk() + m_used;
        // The hot state in locals: a list has a line break every twenty characters or so.
        bool pending = m_pending;
        int dashes = m_dashes;
        int lines = m_lines;
        while (p != end) {
            if (pending) {
                // Whether the line after a break is "------" decides what the break is.
                for (; p != end && *p == u'-' && dashes < RecordSeparator.size(); ++p)
                    ++dashes;
                if (p == end)
                    break;
                const bool separator = dashes == RecordSeparator.size() && !isOrdinary(*p);
                out = resolve<Store>(out, separator, dashes, lines);
                pending = false;
            }
            if (const char16_t *run = copyRun<Store>(p, end, out); run != p) {
                p = run;
                continue;
            }
            if (isOrdinary(*p)) {
                if constexpr (Store)
                    *out = *p;
                ++out;
                ++p;
                continue;
            }
            if (*p == u'\r' && p + 1 != end && p[1] == u'\n')
                p += 2; // CR LF reads back as it is
            else
                p = otherBreak(p, end);
            if (m_lineByLine) {
                out = startBlock<Store>(out, lines);
            } else {
                pending = true;
                dashes = 0;
            }
        }
        m_pending = pending;
        m_dashes = dashes;
        m_lines = lines;
        m_used = out - chunk();
        if (m_held) {
            if (m_heldCopy.isEmpty()) {
                (*m_held)(QStringView(m_heldFrom, end));
            } else {
                m_heldCopy += QStringView(m_heldFrom, end);
                (*m_held)(m_heldCopy);
                m_heldCopy.clear();
            }
        }
    }

    // Any line break but CR LF, which reads back as CR LF; a CR at the end of a piece waits
    // for the next one to say whether an LF follows.
    const char16_t *otherBreak(const char16_t *p, const char16_t *end)
    {
        m_documentBreak = m_documentBreak || (*p != u'\r' && *p != u'\n');
        m_cr = *p == u'\r' && p + 1 == end;
        if (!m_cr && m_held) {
            m_heldCopy += QStringView(m_heldFrom, p);
            m_heldCopy += u"\r\n";
            m_heldFrom = p + 1;
        }
        return p + 1;
    }

    // Writes the break held back before a line now known to be "------" or not, and the line's
    // "-" read so far.
    template<bool Store>
    char16_t *resolve(char16_t *out, bool separator, int dashes, int &lines)
    {
        if ((separator && lines >= m_bounds.least) || lines >= m_bounds.most) {
            out = startBlock<Store>(out, lines);
        } else {
            if constexpr (Store)
                *out = LineSeparator;
            ++out;
            ++lines;
        }
        if constexpr (Store)
            std::fill_n(out, dashes, u'-');
        return out + dashes;
    }

    template<bool Store>
    char16_t *startBlock(char16_t *out, int &lines)
    {
        if constexpr (Store) {
            m_lineCounts.push_back(lines);
            *out = ParagraphSeparator;
        }
        lines = 1;
        ++m_blocks;
        return out + 1;
    }

    void flush()
    {
        m_chars += m_used;
        if (m_cursor && m_used > 0) {
            m_chunk.resize(m_used);
            m_cursor->insertText(m_chunk);
            m_chunk.resize(2 * ChunkSize);
            for (const int lines : m_lineCounts) {
                m_block.setLineCount(lines);
                m_block = m_block.next();
            }
        }
        m_lineCounts.clear();
        m_used = 0;
    }

    QTextCursor *const m_cursor;
    const bool m_lineByLine;
    const BlockLines m_bounds;
    int m_lines;
    const Piece *const m_held;
    QString m_chunk;
    qsizetype m_used = 0;
    // Lines of the blocks finished in the chunk, and the first of them.
    std::vector<int> m_lineCounts;
    QTextBlock m_block;
    qsizetype m_chars = 0;
    qsizetype m_blocks = 1;
    // A line break read, written once the next line shows whether it is a "------" line.
    bool m_pending = false;
    int m_dashes = 0;
    // The last piece ended in CR: an LF at the start of the next one belongs to it.
    bool m_cr = false;
    bool m_documentBreak = false;
    // The held text: the part of the piece not yet handed out, and what differs from it.
    const char16_t *m_heldFrom = nullptr;
    QString m_heldCopy;
};

} // namespace

ListDocument::ListDocument(QObject *parent)
    : QTextDocument(parent)
{ }

Memory::Need ListDocument::Shape::need() const
{
    // One array holds the text, and one more character for each block; each block is a node of
    // its own, and its text and its end two more. All three grow by doubling.
    const qint64 text = 2 * (qint64(chars) + 2 * qint64(blocks));
    const qint64 nodes = 64 * qint64(blocks);
    const qint64 fragments = 2 * 32 * qint64(blocks);
    return {Memory::grown(text) + Memory::grown(nodes) + Memory::grown(fragments) + DocumentSlack,
            text + nodes + fragments + DocumentSlack};
}

Memory::Need ListDocument::need(qsizetype chars)
{
    // Two bytes a character, before it is known how the array will grow to hold them.
    const qint64 text = 2 * qint64(chars) + DocumentSlack;
    return {text, text};
}

ListDocument::Shape ListDocument::widest(qsizetype chars)
{
    // Only the last block holds fewer lines than the least, and a line takes a character.
    return {chars, chars / RecordBlocks.least + 2, false};
}

ListDocument::Shape ListDocument::shape(const Pieces &text)
{
    // Counted in blocks of records, never fewer than a huge list's.
    Writer blocks(nullptr, false, RecordBlocks, 1);
    text([&blocks](QStringView piece) {
        blocks.write(piece);
        return !blocks.sawDocumentBreak();
    });
    if (!blocks.sawDocumentBreak()) {
        blocks.finish();
        return {blocks.chars(), blocks.blocks(), false};
    }
    // A list that holds characters the document gives a meaning of its own goes in line by
    // line, so that each of its line separators stays one.
    Writer lines(nullptr, true, RecordBlocks, 1);
    text([&lines](QStringView piece) {
        lines.write(piece);
        return true;
    });
    lines.finish();
    return {lines.chars(), lines.blocks(), true};
}

bool ListDocument::setText(const Shape &shape, const Pieces &text, const Piece &held)
{
    // As with setPlainText(), replacing the whole list is no step to undo.
    const bool undo = isUndoRedoEnabled();
    setUndoRedoEnabled(false);
    // Cleared outright, the document gives the old text's memory back at once.
    clear();
    m_separatorsAreBreaks = !shape.lineByLine;
    QTextCursor cursor(this);
    cursor.beginEditBlock();
    Writer writer(&cursor, shape.lineByLine,
                  shape.chars > LargeList ? LargeListBlocks : RecordBlocks, 1,
                  held ? &held : nullptr);
    const bool whole = text([&writer](QStringView piece) {
        writer.write(piece);
        return true;
    });
    writer.finish();
    cursor.endEditBlock();
    setUndoRedoEnabled(undo);
    setModified(false);
    return whole;
}

QString ListDocument::setText(const QString &text)
{
    const Pieces pieces = piecesOf(text);
    QString held;
    held.reserve(text.size());
    setText(shape(pieces), pieces, [&held](QStringView piece) {
        held += piece;
        return true;
    });
    return held;
}

void ListDocument::append(QStringView text)
{
    QTextCursor end(this);
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    if (m_separatorsAreBreaks) {
        // Counting the lines of a huge last block would cost more than the record; a block
        // counted as full only starts the record's next line in a block of its own.
        const QTextBlock last = end.block();
        const int lines = last.length() > MaxCountedBlock
                ? RecordBlocks.most
                : int(last.text().count(QChar(LineSeparator))) + 1;
        Writer writer(&end, false, RecordBlocks, lines);
        writer.write(text);
        writer.finish();
    } else {
        end.insertText(text.toString());
    }
    end.endEditBlock();
}

bool ListDocument::read(const Piece &piece) const
{
    const bool lineSeparators = m_separatorsAreBreaks;
    // Block by block: a cursor placed anywhere would lay its block out, and keep the layout.
    QString chunk;
    for (QTextBlock block = begin(); block.isValid();) {
        const QString text = block.text();
        const qsizetype used = chunk.size();
        chunk.resize(used + 2 * text.size() + 2);
        auto *const start = reinterpret_cast<char16_t *>(chunk.data());
        char16_t *out = start + used;
        for (const QChar c : text) {
            if (c.unicode() == LineSeparator && lineSeparators) {
                *out++ = u'\r';
                *out++ = u'\n';
            } else {
                *out++ = c.unicode();
            }
        }
        block = block.next();
        if (block.isValid()) {
            *out++ = u'\r';
            *out++ = u'\n';
        }
        chunk.resize(out - start);
        if (chunk.size() >= ChunkSize) {
            if (!piece(chunk))
                return false;
            chunk.resize(0);
        }
    }
    return chunk.isEmpty() || piece(chunk);
}

QString ListDocument::text() const
{
    return crlfText(toRawText(), m_separatorsAreBreaks);
}

// Widened in place, from the back, in one pass: lists run to tens of megabytes, and replace()
// grows quadratically.
QString ListDocument::crlfText(QString raw, bool lineSeparators)
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
