#include "lineeditaccessible.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QMetaMethod>
#include <QTextBoundaryFinder>
#include <QValidator>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QAccessibleInterface *lineEditFactory(const QString &className, QObject *object)
{
    // Asked once per class on the way up from the object's own class.
    if (className != QLatin1StringView(QLineEdit::staticMetaObject.className()))
        return nullptr;
    auto *lineEdit = qobject_cast<QLineEdit *>(object);
    return lineEdit ? new LineEditAccessible(lineEdit) : nullptr;
}

// Every position where a segment of the given kind starts or ends, in increasing order, from 0
// to the text's length. A line or a paragraph is the whole text; for words, a run of spaces or
// punctuation between two words is one segment of its own.
QList<int> boundaries(const QString &text, QAccessible::TextBoundaryType boundaryType)
{
    const int length = int(text.size());
    QList<int> result{0};
    QTextBoundaryFinder::BoundaryType type;
    switch (boundaryType) {
    case QAccessible::CharBoundary:
        type = QTextBoundaryFinder::Grapheme;
        break;
    case QAccessible::WordBoundary:
        type = QTextBoundaryFinder::Word;
        break;
    case QAccessible::SentenceBoundary:
        type = QTextBoundaryFinder::Sentence;
        break;
    default:
        if (length > 0)
            result << length;
        return result;
    }
    QTextBoundaryFinder finder(type, text);
    // Never more steps than characters, whatever the finder answers.
    for (int step = 0; step < length; ++step) {
        const qsizetype next = finder.toNextBoundary();
        if (next <= result.last() || next >= length)
            break;
        const bool wordEdge = finder.boundaryReasons()
                & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
        if (type != QTextBoundaryFinder::Word || wordEdge)
            result << int(next);
    }
    if (length > 0)
        result << length;
    return result;
}

} // namespace

LineEditAccessible::LineEditAccessible(QLineEdit *lineEdit)
    : QAccessibleWidget(lineEdit, QAccessible::EditableText)
{
    for (const QMetaMethod &signal : {QMetaMethod::fromSignal(&QLineEdit::textChanged),
                                      QMetaMethod::fromSignal(&QLineEdit::returnPressed)})
        addControllingSignal(QString::fromLatin1(signal.methodSignature()));
}

void LineEditAccessible::install()
{
    // Qt asks every installed factory in turn, so one is enough however many windows there are.
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(lineEditFactory);
    installed = true;
}

QLineEdit *LineEditAccessible::lineEdit() const
{
    return static_cast<QLineEdit *>(widget());
}

QString LineEditAccessible::shownText() const
{
    switch (lineEdit()->echoMode()) {
    case QLineEdit::Normal:
        return lineEdit()->text();
    case QLineEdit::NoEcho:
        return {};
    default:
        return QString(lineEdit()->text().size(), u'*');
    }
}

QString LineEditAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return shownText();
    return QAccessibleWidget::text(t);
}

void LineEditAccessible::setText(QAccessible::Text t, const QString &text)
{
    if (t != QAccessible::Value) {
        QAccessibleWidget::setText(t, text);
        return;
    }
    if (lineEdit()->isReadOnly())
        return;
    QString newText = text;
    int position = 0;
    if (const QValidator *validator = lineEdit()->validator();
        validator && validator->validate(newText, position) != QValidator::Acceptable)
        return;
    lineEdit()->setText(newText);
}

QAccessible::State LineEditAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (lineEdit()->isReadOnly())
        state.readOnly = true;
    else
        state.editable = true;
    state.passwordEdit = lineEdit()->echoMode() != QLineEdit::Normal;
    state.selectableText = true;
    return state;
}

void *LineEditAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (t == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

void LineEditAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && lineEdit()->hasSelectedText()) {
        *startOffset = lineEdit()->selectionStart();
        *endOffset = lineEdit()->selectionEnd();
    }
}

int LineEditAccessible::selectionCount() const
{
    return lineEdit()->hasSelectedText() ? 1 : 0;
}

void LineEditAccessible::addSelection(int startOffset, int endOffset)
{
    // A one-line field has one selection; a new one replaces it.
    setSelection(0, startOffset, endOffset);
}

void LineEditAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        lineEdit()->deselect();
}

void LineEditAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        lineEdit()->setSelection(startOffset, endOffset - startOffset);
}

int LineEditAccessible::cursorPosition() const
{
    return std::clamp(lineEdit()->cursorPosition(), 0, characterCount());
}

void LineEditAccessible::setCursorPosition(int position)
{
    lineEdit()->setCursorPosition(position);
}

QString LineEditAccessible::text(int startOffset, int endOffset) const
{
    const QString shown = shownText();
    const int length = int(shown.size());
    // -1 as the end stands for the end of the text.
    if (endOffset == -1)
        endOffset = length;
    startOffset = std::clamp(startOffset, 0, length);
    endOffset = std::clamp(endOffset, startOffset, length);
    return shown.mid(startOffset, endOffset - startOffset);
}

QString LineEditAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int *startOffset, int *endOffset) const
{
    return segment(Direction::Before, offset, boundaryType, startOffset, endOffset);
}

QString LineEditAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return segment(Direction::After, offset, boundaryType, startOffset, endOffset);
}

QString LineEditAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int *startOffset, int *endOffset) const
{
    return segment(Direction::At, offset, boundaryType, startOffset, endOffset);
}

QString LineEditAccessible::segment(Direction direction, int offset,
                                    QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                    int *endOffset) const
{
    const QString shown = shownText();
    const int length = int(shown.size());
    // -2 is where the cursor is.
    if (offset == -2)
        offset = cursorPosition();
    if (offset < 0 || offset > length) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const QList<int> edges = boundaries(shown, boundaryType);
    // Segment i runs from edges[i] to edges[i + 1]; index `end` is the empty one at the end.
    const int end = int(edges.size()) - 1;
    int index;
    if (offset < length)
        index = int(std::upper_bound(edges.begin(), edges.end(), offset) - edges.begin()) - 1;
    else // At the end a reader asks for what it has just passed: the last word, sentence, line.
        index = boundaryType == QAccessible::CharBoundary ? end : std::max(end - 1, 0);
    if (direction == Direction::Before)
        --index;
    else if (direction == Direction::After)
        ++index;

    if (index < 0) {
        *startOffset = *endOffset = 0;
    } else if (index >= end) {
        *startOffset = *endOffset = length;
    } else {
        *startOffset = edges[index];
        *endOffset = edges[index + 1];
    }
    return shown.mid(*startOffset, *endOffset - *startOffset);
}

int LineEditAccessible::characterCount() const
{
    return int(shownText().size());
}

QRect LineEditAccessible::characterRect(int offset) const
{
    QLineEdit *edit = lineEdit();
    const QString shown = edit->displayText();
    if (offset < 0 || offset >= shown.size())
        return {};
    const QList<int> characters = boundaries(shown, QAccessible::CharBoundary);
    const auto next = std::upper_bound(characters.begin(), characters.end(), offset);
    const int start = *(next - 1);
    const int end = *next;
    const int firstEnd = characters.at(1);

    // Where the field draws its text depends on scrolling it keeps to itself; find it the way a
    // click would: left of the first character's middle, the cursor goes before that character.
    const QFontMetrics metrics(edit->font());
    const QRect cursor = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    const int y = cursor.center().y();
    const int span = metrics.horizontalAdvance(shown) + edit->width() + 1;
    int left = -span;
    int right = span;
    while (right - left > 1) {
        const int middle = left + (right - left) / 2;
        if (edit->cursorPositionAt(QPoint(middle, y)) >= firstEnd)
            right = middle;
        else
            left = middle;
    }
    const int textStart = right - metrics.horizontalAdvance(shown.left(firstEnd)) / 2;

    const QRect local(textStart + metrics.horizontalAdvance(shown.left(start)), cursor.top(),
                      metrics.horizontalAdvance(shown.mid(start, end - start)), cursor.height());
    return local.translated(edit->mapToGlobal(QPoint()));
}

int LineEditAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = lineEdit()->mapFromGlobal(point);
    if (!lineEdit()->rect().contains(local))
        return -1;
    // The field answers with the nearest gap between characters; the character under the point
    // may be the one before that gap.
    const int gap = std::clamp(lineEdit()->cursorPositionAt(local), 0, characterCount());
    if (gap > 0 && characterRect(gap - 1).contains(point))
        return gap - 1;
    return gap;
}

void LineEditAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    // The field scrolls only to keep its cursor in view.
    lineEdit()->setCursorPosition(endIndex);
    lineEdit()->setCursorPosition(startIndex);
}

QString LineEditAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    const int length = characterCount();
    if (offset < 0 || offset > length) {
        *startOffset = *endOffset = -1;
        return {};
    }
    // The whole text is one run in the field's font; a reader reads a value run by run.
    *startOffset = 0;
    *endOffset = length;
    const QFont font = lineEdit()->font();
    QString result = u"font-family:\"%1\";"_s.arg(font.family());
    if (font.pointSizeF() > 0)
        result += u"font-size:%1pt;"_s.arg(font.pointSizeF());
    result += u"font-weight:%1;"_s.arg(int(font.weight()));
    result += font.italic() ? u"font-style:italic;"_s : u"font-style:normal;"_s;
    return result;
}

void LineEditAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, {});
}

void LineEditAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void LineEditAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    QLineEdit *edit = lineEdit();
    if (edit->isReadOnly())
        return;
    const int length = int(edit->text().size());
    startOffset = std::clamp(startOffset, 0, length);
    endOffset = std::clamp(endOffset, startOffset, length);
    // As typing does, so undo, the length limit and any validator still apply.
    edit->setCursorPosition(startOffset);
    if (endOffset > startOffset)
        edit->setSelection(startOffset, endOffset - startOffset);
    edit->insert(text);
}
