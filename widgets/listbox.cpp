#include "listbox.h"

#include <QTextCursor>

ListBox::ListBox(QWidget *parent)
    : TextBox(new ListDocument, parent)
    , m_list(static_cast<ListDocument *>(document()))
{ }

void ListBox::setList(const ListDocument::Shape &shape, const ListDocument::Pieces &text,
                      const ListDocument::Piece &held)
{
    m_list->setText(shape, text, held);
    setTextCursor(QTextCursor(m_list));
}

QString ListBox::setList(const QString &text)
{
    QString held = m_list->setText(text);
    setTextCursor(QTextCursor(m_list));
    return held;
}
