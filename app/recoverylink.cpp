#include "recoverylink.h"

#include "commands.h"
#include "form.h"
#include "listbox.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;
using ListFiles::List;

RecoveryLink::RecoveryLink(QWidget &window, Form &form)
    : m_window(window)
    , m_form(form)
{
    m_boxes[size_t(List::Servers)] = window.findChild<ListBox *>(u"txtserver"_s);
    m_boxes[size_t(List::Friends)] = window.findChild<ListBox *>(u"txtfriends"_s);
}

ListDocument *RecoveryLink::document(List list) const
{
    return m_boxes[size_t(list)]->list();
}

void RecoveryLink::connectTo(Recovery::Keeper &keeper)
{
    for (const List list : {List::Servers, List::Friends}) {
        connect(m_boxes[size_t(list)], &ListBox::listChanged, this,
                [&keeper, list](int position, int removed, int added) {
                    keeper.edited(list, position, removed, added);
                });
    }
    const auto edited = [&keeper] { keeper.fieldsEdited(); };
    for (const QString &name : Commands::textFields()) {
        auto *field = m_window.findChild<QWidget *>(name);
        if (auto *line = qobject_cast<QLineEdit *>(field))
            connect(line, &QLineEdit::textChanged, this, edited);
        else if (auto *box = qobject_cast<QPlainTextEdit *>(field))
            connect(box, &QPlainTextEdit::textChanged, this, edited);
    }
    for (const QString &name : Commands::optionFields())
        connect(m_window.findChild<QAbstractButton *>(name), &QAbstractButton::toggled, this,
                edited);
}

qsizetype RecoveryLink::length(List list) const
{
    // Less the document's last, implicit paragraph break.
    return document(list)->characterCount() - 1;
}

QString RecoveryLink::text(List list, qsizetype from, qsizetype count) const
{
    QTextDocument *shown = document(list);
    if (from == 0 && count == length(list))
        return shown->toRawText();
    QTextCursor cursor(shown);
    cursor.setPosition(int(from));
    cursor.setPosition(int(from + count), QTextCursor::KeepAnchor);
    return cursor.selectedText();
}

bool RecoveryLink::separatorsAreBreaks(List list) const
{
    return document(list)->separatorsAreBreaks();
}

bool RecoveryLink::isModified(List list) const
{
    return document(list)->isModified();
}

Recovery::Fields RecoveryLink::fields() const
{
    Recovery::Fields fields;
    for (const QString &name : Commands::textFields())
        fields.texts.append({name, m_form.text(name)});
    for (const QString &name : Commands::optionFields())
        fields.options.append({name, m_form.value(name)});
    return fields;
}
