#include "form.h"

#include "listbox.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

namespace {

QPlainTextEdit *multiLine(QWidget *control)
{
    return qobject_cast<QPlainTextEdit *>(control);
}

QAbstractButton *button(QWidget *control)
{
    auto *found = qobject_cast<QAbstractButton *>(control);
    if (!found)
        qFatal("%s is not an option button", qPrintable(control->objectName()));
    return found;
}

} // namespace

Form::Form(QWidget &window, Messages &messages)
    : m_window(window)
    , m_messages(messages)
{ }

ListBox *Form::list(const QString &name) const
{
    auto *box = qobject_cast<ListBox *>(control(name));
    if (!box)
        qFatal("%s is not a list box", qPrintable(name));
    return box;
}

QWidget *Form::control(const QString &name) const
{
    auto *found = m_window.findChild<QWidget *>(name);
    // The names are fixed when the window is built; a missing one is a programming error.
    if (!found)
        qFatal("The window has no control named %s", qPrintable(name));
    return found;
}

QString Form::text(const QString &name) const
{
    QWidget *box = control(name);
    // toPlainText() would turn no-break spaces into spaces: read the document's own characters.
    if (auto *list = qobject_cast<ListBox *>(box))
        return list->list()->text();
    if (auto *edit = multiLine(box))
        return ListDocument::crlfText(edit->document()->toRawText(), false);
    if (auto *line = qobject_cast<QLineEdit *>(box))
        return line->text();
    qFatal("%s is not a text box", qPrintable(name));
}

QString Form::setText(const QString &name, const QString &text)
{
    QWidget *box = control(name);
    // A document reads CR LF, as any other line break, as a paragraph break.
    if (auto *list = qobject_cast<ListBox *>(box))
        return list->setList(text);
    if (auto *edit = multiLine(box))
        edit->setPlainText(text);
    else if (auto *line = qobject_cast<QLineEdit *>(box))
        line->setText(text);
    else
        qFatal("%s is not a text box", qPrintable(name));
    return this->text(name);
}

void Form::appendText(const QString &name, QStringView text)
{
    QWidget *box = control(name);
    if (auto *list = qobject_cast<ListBox *>(box)) {
        list->list()->append(text);
        return;
    }
    auto *edit = multiLine(box);
    if (!edit)
        qFatal("%s is not a multi-line text box", qPrintable(name));
    // A cursor of our own: the user's cursor, selection and scroll position stay where they are.
    QTextCursor end(edit->document());
    end.movePosition(QTextCursor::End);
    end.beginEditBlock();
    end.insertText(text.toString());
    end.endEditBlock();
}

bool Form::readList(const QString &name, const ListDocument::Piece &piece) const
{
    return list(name)->list()->read(piece);
}

qsizetype Form::listSize(const QString &name) const
{
    // Each line break is one character in the document, and two read out.
    const QTextDocument *document = list(name)->list();
    return document->characterCount() - 1 + document->blockCount() - 1;
}

std::unique_ptr<ListBox::Replacement> Form::buildList(const QString &name,
                                                      const ListDocument::Shape &shape,
                                                      const ListDocument::Pieces &text,
                                                      const ListDocument::Piece &held)
{
    std::unique_ptr<ListBox::Replacement> built = list(name)->replacement();
    if (!built->setText(shape, text, held))
        return {};
    return built;
}

void Form::showList(const QString &name, std::unique_ptr<ListBox::Replacement> built)
{
    list(name)->replaceList(std::move(built));
}

bool Form::isModified(const QString &name) const
{
    auto *edit = multiLine(control(name));
    return edit && edit->document()->isModified();
}

void Form::setUnmodified(const QString &name)
{
    if (auto *edit = multiLine(control(name)))
        edit->document()->setModified(false);
}

void Form::setModified(const QString &name)
{
    if (auto *edit = multiLine(control(name)))
        edit->document()->setModified(true);
}

bool Form::value(const QString &name) const
{
    return button(control(name))->isChecked();
}

void Form::setValue(const QString &name, bool value)
{
    QAbstractButton *option = button(control(name));
    if (value || !option->isChecked()) {
        option->setChecked(value);
        return;
    }
    // Qt keeps one button of an exclusive group checked; let go of exclusivity to clear it.
    QButtonGroup *group = option->group();
    const bool groupExclusive = group && group->exclusive();
    const bool autoExclusive = option->autoExclusive();
    if (groupExclusive)
        group->setExclusive(false);
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(autoExclusive);
    if (groupExclusive)
        group->setExclusive(true);
}

void Form::showInformation(const QString &prompt, const QString &title)
{
    m_messages.information(prompt, title);
}

void Form::reportError(const QString &text)
{
    m_messages.error(text);
}

Choice Form::ask(const Question &question)
{
    return m_messages.ask(question);
}

void Form::announce(const QString &text)
{
    m_messages.announce(text);
}

std::unique_ptr<Progress> Form::progress(const QString &text)
{
    return m_messages.progress(text);
}

void Form::unload()
{
    m_window.close();
}
