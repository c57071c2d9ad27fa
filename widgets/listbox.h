#pragma once

#include "listdocument.h"
#include "textbox.h"

// A text box that holds a list of records, however long: its document is a ListDocument.
class ListBox : public TextBox
{
    Q_OBJECT

public:
    explicit ListBox(QWidget *parent = nullptr);

    ListDocument *list() const { return m_list; }
    // Replaces the whole list as ListDocument::setText() does, the cursor back at the start.
    void setList(const ListDocument::Shape &shape, const ListDocument::Pieces &text,
                 const ListDocument::Piece &held);
    QString setList(const QString &text);

private:
    ListDocument *m_list;
};
