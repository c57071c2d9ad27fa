#pragma once

#include <QAccessibleWidget>

class QLineEdit;

// What screen readers see of a one-line field, in place of Qt's own, which has two faults from
// Qt 5 through 6.8 at least, Qt 6.4 included (no fix released that we know of):
// - QAccessibleTextInterface::textAtOffset() loops for ever when asked for the word or sentence
//   at the end of the text, which a reader does on Ctrl+Left: at the end, the boundary finder
//   answers -1, which the loop takes for "not there yet".
// - QAccessibleLineEdit::attributes() reports an empty run at every offset, so a reader that
//   reads a value run by run drops the last character.
// This one answers every boundary at every offset from 0 to the length, and one run for the
// whole text. Once a Qt in use has both mended, Qt's own interface can serve again.
class LineEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface
{
public:
    explicit LineEditAccessible(QLineEdit *lineEdit);

    // Makes every QLineEdit created from now on answer through this class; safe to call again.
    static void install();

    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text t, const QString &text) override;
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType t) override;

    // QAccessibleTextInterface
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    QLineEdit *lineEdit() const;
    // The text as the field shows it: asterisks for a password, nothing when it echoes nothing.
    QString shownText() const;
    enum class Direction { Before, At, After };
    QString segment(Direction direction, int offset, QAccessible::TextBoundaryType boundaryType,
                    int *startOffset, int *endOffset) const;
};
