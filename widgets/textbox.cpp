#include "textbox.h"

#include "textboxlayout.h"

#include <QKeyEvent>
#include <QTextDocument>

using namespace Qt::Literals::StringLiterals;

TextBox::TextBox(QWidget *parent)
    : TextBox(new QTextDocument, parent)
{ }

TextBox::TextBox(QTextDocument *text, QWidget *parent)
    : QPlainTextEdit(parent)
{
    // Scripts that need shaping still get it; for the rest, such as the Latin of most lists,
    // skipping it makes laying a block out after a keystroke two to three times cheaper, at
    // the cost of kerning.
    QFont unshaped = font();
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    setFont(unshaped);
    // A document as Qt makes for itself, with the line layout of our own.
    text->setParent(this);
    layOut(text);
    text->setDefaultFont(font());
    setDocument(text);
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Always there, so a long list never re-lays itself out when a bar would appear.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void TextBox::layOut(QTextDocument *text) const
{
    auto *layout = new TextBoxLayout(text);
    layout->setPaintDevice(viewport());
    text->setDocumentLayout(layout);
}

void TextBox::fit(QTextDocument *text) const
{
    const QTextDocument *shown = document();
    text->setDefaultFont(shown->defaultFont());
    text->setDefaultTextOption(shown->defaultTextOption());
    text->setDocumentMargin(shown->documentMargin());
    layOut(text);
    const auto *from = qobject_cast<QPlainTextDocumentLayout *>(shown->documentLayout());
    static_cast<QPlainTextDocumentLayout *>(text->documentLayout())
            ->setCursorWidth(from->cursorWidth());
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Shift+Enter would insert a line separator, which is no line break of a list; every Enter
    // makes the same break here.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers().testFlag(Qt::ShiftModifier) && !isReadOnly()) {
        insertPlainText(u"\n"_s);
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}
