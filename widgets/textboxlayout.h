#pragma once

#include <QPlainTextDocumentLayout>
#include <QTextOption>

// The text boxes' line layout. Wrapping at word boundaries costs Qt time that grows with the
// square of a run without a break opportunity (it looks for the run's end again for every line),
// so a block holding such a run, longer than any line can show, is wrapped anywhere instead: a
// megabyte without a space, or a zero-filled file, then opens and edits in linear time.
class TextBoxLayout : public QPlainTextDocumentLayout
{
    Q_OBJECT

public:
    explicit TextBoxLayout(QTextDocument *document);

    // Qt lays a block out in these two and nowhere else: here when a block is first needed,
    // in documentChanged() when an edit stays within one block.
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
    // \a edited: the block a keystroke just changed.
    template<typename Work>
    void layOut(const QTextBlock &block, Work work, bool edited) const;

    // Set while this layout itself changes the document's text option around a block's layout.
    mutable bool m_switching = false;
    // The wrap mode and direction the box asked for, while others are in force for one block.
    mutable QTextOption::WrapMode m_wanted = QTextOption::WrapAtWordBoundaryOrAnywhere;
    mutable Qt::LayoutDirection m_wantedDirection = Qt::LayoutDirectionAuto;
    mutable int m_depth = 0;
    // The document's lines as the box last heard of them.
    int m_reportedLines = 0;
};
