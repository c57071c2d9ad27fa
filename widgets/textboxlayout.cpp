#include "textboxlayout.h"

#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>

#include <QList>
#include <QScopedValueRollback>

TextBoxLayout::TextBoxLayout(QTextDocument *document)
    : QPlainTextDocumentLayout(document)
    , m_boxOption(document->defaultTextOption())
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

// What a block's text asks of its layout, kept in the block's user state from the first layout
// after the text changed until the next change; the boxes have no highlighter to want it.
enum Traits : int {
    Undecided = -1,
    HasLongRun = 0x1,
    RightToLeft = 0x2,
};

int traitsOf(const QString &text)
{
    return (TextBoxLayout::hasLongRun(text) ? HasLongRun : 0)
            | (text.isRightToLeft() ? RightToLeft : 0);
}

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

TextBoxLayout::BlockOption TextBoxLayout::optionFor(const QTextBlock &block,
                                                    const QString &text) const
{
    QTextBlock decided = block;
    if (decided.userState() == Undecided)
        decided.setUserState(traitsOf(text));
    const int traits = decided.userState();
    BlockOption chosen{m_boxOption, false};
    if (m_boxOption.wrapMode() == QTextOption::WrapAtWordBoundaryOrAnywhere
        && (traits & HasLongRun)) {
        chosen.option.setWrapMode(QTextOption::WrapAnywhere);
        chosen.large = true;
    }
    chosen.large = chosen.large || text.size() > KeptGlyphs;
    // Qt works out a block's direction again for every cursor position it measures, from the
    // start of the text to its first letter: once per layout is enough.
    if (chosen.large && m_boxOption.textDirection() == Qt::LayoutDirectionAuto)
        chosen.option.setTextDirection(traits & RightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    return chosen;
}

template<typename Work>
void TextBoxLayout::layOut(const QTextBlock &block, Work work, bool edited) const
{
    if (!block.isValid()) {
        work();
        return;
    }
    const QString text = block.text();
    const BlockOption chosen = optionFor(block, text);
    // Qt shapes a block again for every cursor it draws or measures, and for every blink, unless
    // the block keeps its glyphs; a large one keeps them, so a keystroke costs one layout, and so
    // does the block being typed in, which each keystroke's repaint draws.
    QTextLayout *layout = block.layout();
    layout->setCacheEnabled(chosen.large || edited);
    const QList<QTextLayout::FormatRange> controls =
            chosen.large ? controlRuns(text) : QList<QTextLayout::FormatRange>();
    if (layout->formats() != controls)
        layout->setFormats(controls);

    QTextDocument *doc = document();
    const QTextOption before = doc->defaultTextOption();
    if (chosen.option.wrapMode() == before.wrapMode()
        && chosen.option.textDirection() == before.textDirection()) {
        work();
        return;
    }
    const auto setOption = [this, doc](const QTextOption &to) {
        const QScopedValueRollback<bool> own(m_settingOption, true);
        doc->setDefaultTextOption(to);
    };
    setOption(chosen.option);
    work();
    setOption(before);
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
    QTextDocument *doc = document();
    if (m_settingOption)
        return;
    // Whatever else changed, the option in force is the box's now.
    m_boxOption = doc->defaultTextOption();
    // The blocks the change touched ask afresh what their layout needs.
    QTextBlock first = doc->findBlock(from);
    const QTextBlock last = doc->findBlock(qMax(0, from + charsRemoved + charsAdded - 1));
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        block.setUserState(Undecided);
        if (block == last)
            break;
    }
    // A change within one block lays that block out at once; a wider one only clears layouts.
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
