#include "textboxlayout.h"

#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

#include <QList>

TextBoxLayout::TextBoxLayout(QTextDocument *document)
    : QPlainTextDocumentLayout(document)
{
    connect(this, &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { m_reportedLines = this->document()->lineCount(); });
}

bool TextBoxLayout::hasLongRun(const QString &text)
{
    if (text.size() < LongRun)
        return false;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    qsizetype previous = 0;
    for (qsizetype next = breaks.toNextBoundary(); next != -1; next = breaks.toNextBoundary()) {
        if (next - previous >= LongRun)
            return true;
        previous = next;
    }
    return false;
}

namespace {

// Control characters, NUL above all, are in no font: Qt looks for each one through every
// fallback font the system has. In a large block they are laid out with the box's font alone.
QList<QTextLayout::FormatRange> controlRuns(const QString &text)
{
    const auto isControl = [](QChar c) {
        return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
    };
    QTextCharFormat alone;
    alone.setFontStyleStrategy(QFont::StyleStrategy(QFont::NoFontMerging | QFont::PreferNoShaping));
    QList<QTextLayout::FormatRange> runs;
    for (qsizetype i = 0; i < text.size();) {
        if (!isControl(text[i])) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < text.size() && isControl(text[i]))
            ++i;
        runs.append({int(start), int(i - start), alone});
    }
    return runs;
}

} // namespace

template<typename Work>
void TextBoxLayout::layOut(const QTextBlock &block, Work work, bool edited) const
{
    QTextDocument *doc = document();
    const QTextOption current = doc->defaultTextOption();
    const QTextOption::WrapMode wanted = m_depth > 0 ? m_wanted : current.wrapMode();
    const Qt::LayoutDirection wantedDirection =
            m_depth > 0 ? m_wantedDirection : current.textDirection();
    const QString text = block.isValid() ? block.text() : QString();
    const bool longRun = wanted == QTextOption::WrapAtWordBoundaryOrAnywhere && hasLongRun(text);
    const bool large = longRun || text.size() > KeptGlyphs;
    QTextOption option = current;
    option.setWrapMode(longRun ? QTextOption::WrapAnywhere : wanted);
    // Qt works out a block's direction again for every cursor position it measures, from the
    // start of the text to its first letter: once per layout is enough.
    option.setTextDirection(large && wantedDirection == Qt::LayoutDirectionAuto
                                    ? (text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight)
                                    : wantedDirection);
    if (block.isValid()) {
        // Qt shapes a block again for every cursor it draws or measures, and for every blink,
        // unless the block keeps its glyphs; a large one keeps them, so a keystroke costs one
        // layout, and so does the block being typed in, which each keystroke's repaint draws.
        QTextLayout *layout = block.layout();
        layout->setCacheEnabled(large || edited);
        const QList<QTextLayout::FormatRange> controls =
                large ? controlRuns(text) : QList<QTextLayout::FormatRange>();
        if (layout->formats() != controls)
            layout->setFormats(controls);
    }
    if (option.wrapMode() == current.wrapMode()
        && option.textDirection() == current.textDirection()) {
        work();
        return;
    }
    // Qt lays a block out with the document's option; switch it for this block only. Setting it
    // reports the whole document as changed, which the switch leaves alone.
    const auto setOption = [this, doc](const QTextOption &to) {
        m_switching = true;
        doc->setDefaultTextOption(to);
        m_switching = false;
    };
    const QTextOption::WrapMode savedWanted = m_wanted;
    const Qt::LayoutDirection savedDirection = m_wantedDirection;
    m_wanted = wanted;
    m_wantedDirection = wantedDirection;
    ++m_depth;
    setOption(option);
    work();
    setOption(current);
    --m_depth;
    m_wanted = savedWanted;
    m_wantedDirection = savedDirection;
}

QRectF TextBoxLayout::blockBoundingRect(const QTextBlock &block) const
{
    // Only a block without lines is laid out here; one with lines is only measured.
    if (!block.isValid() || block.layout()->lineCount() > 0)
        return QPlainTextDocumentLayout::blockBoundingRect(block);
    QRectF rect;
    layOut(
            block, [&] { rect = QPlainTextDocumentLayout::blockBoundingRect(block); }, false);
    return rect;
}

void TextBoxLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    if (m_switching)
        return;
    // A change within one block lays that block out at once; a wider one only clears layouts.
    const QTextDocument *doc = document();
    const QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(qMax(0, from + charsRemoved + charsAdded - 1));
    if (first != last) {
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    } else {
        layOut(
                first,
                [&] { QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded); },
                true);
    }
    // Qt tells the box of a new height only when laying a block out changes the document's
    // lines; a list sets the lines of the blocks it writes first, so that is said here.
    if (doc->lineCount() != m_reportedLines)
        emit documentSizeChanged(documentSize());
}
