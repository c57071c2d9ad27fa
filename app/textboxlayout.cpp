#include "textboxlayout.h"

#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

TextBoxLayout::TextBoxLayout(QTextDocument *document)
    : QPlainTextDocumentLayout(document)
{ }

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

template<typename Work>
void TextBoxLayout::layOut(const QTextBlock &block, Work work, bool edited) const
{
    QTextDocument *doc = document();
    const QTextOption current = doc->defaultTextOption();
    const QTextOption::WrapMode wanted = m_depth > 0 ? m_wanted : current.wrapMode();
    const bool longRun =
            wanted == QTextOption::WrapAtWordBoundaryOrAnywhere && hasLongRun(block.text());
    const QTextOption::WrapMode mode = longRun ? QTextOption::WrapAnywhere : wanted;
    // Qt shapes a block again for every cursor it draws or measures, and for every blink,
    // unless the block keeps its glyphs; a long one keeps them, so a keystroke costs one layout,
    // and so does the block being typed in, which the repaint after each keystroke draws.
    if (block.isValid())
        block.layout()->setCacheEnabled(longRun || edited || block.length() > KeptGlyphs);
    if (mode == current.wrapMode()) {
        work();
        return;
    }
    // Qt lays a block out with the document's option; switch it for this block only. Setting it
    // reports the whole document as changed, which the switch leaves alone.
    const auto setMode = [this, doc, current](QTextOption::WrapMode wrap) {
        QTextOption option = current;
        option.setWrapMode(wrap);
        m_switching = true;
        doc->setDefaultTextOption(option);
        m_switching = false;
    };
    const QTextOption::WrapMode savedWanted = m_wanted;
    m_wanted = wanted;
    ++m_depth;
    setMode(mode);
    work();
    setMode(current.wrapMode());
    --m_depth;
    m_wanted = savedWanted;
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
        return;
    }
    layOut(
            first,
            [&] { QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded); },
            true);
}
