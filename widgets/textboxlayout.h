#pragma once

#include <QPlainTextDocumentLayout>
#include <QTextOption>

// The text boxes' line layout. Wrapping at word boundaries costs Qt time that grows with the
// square of a run without a break opportunity (it looks for the run's end again for every line),
// so a block holding such a run, longer than any line can show, is wrapped anywhere instead: a
// megabyte without a space, or a zero-filled file, then opens and edits in linear time.
//
// Qt lays a block out with the document's own text option, in a private function it reaches
// from blockBoundingRect(), for a block without lines, and from documentChanged(), for an edit
// within one block: both lay the block out here, with the option its text asks for, in force for
// that block alone. tst_window's multiLineBoxes fails on a Qt that lays blocks out elsewhere.
class TextBoxLayout : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    explicit TextBoxLayout(QTextDocument *document);

    QRectF blockBoundingRect(const QTextBlock &block) const override;

    // Runs this long without a break opportunity are wrapped anywhere; far longer than a line.
    static constexpr qsizetype LongRun = 500;
    // Blocks this long keep their glyphs between layouts, and are laid out with a few shortcuts.
    static constexpr int KeptGlyphs = 10'000;
    // Whether \a text holds a run without a break opportunity of LongRun characters or more.
    static bool hasLongRun(const QString &text);

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    struct BlockOption
    {
        QTextOption option;
        // Laid out with a few shortcuts, its glyphs kept between layouts.
        bool large;
    };
    // How \a block, holding \a text, is laid out: as the box asks, but for what the text asks.
    BlockOption optionFor(const QTextBlock &block, const QString &text) const;
    // Runs \a work, which lays \a block out, with the block's own option in force.
    // \a edited: the block a keystroke just changed.
    template<typename Work>
    void layOut(const QTextBlock &block, Work work, bool edited) const;

    // The option the box set on the document, whatever is in force for one block's layout.
    QTextOption m_boxOption;
    // True only while this layout itself sets the document's option: Qt reports that as a change
    // of the whole document.
    mutable bool m_settingOption = false;
    // The document's lines as the box last heard of them.
    int m_reportedLines = 0;
};
