#pragma once

#include "listdocument.h"
#include "textbox.h"

#include <memory>

// A text box that holds a list of records, however long: its document is a ListDocument.
class ListBox : public TextBox
{
    Q_OBJECT

public:
    // A list built while the box goes on showing its own, until replaceList() shows it instead;
    // dropped unshown, it leaves the box as it was.
    class Replacement
    {
    public:
        ~Replacement();
        Q_DISABLE_COPY_MOVE(Replacement)

        ListDocument *list() const { return m_list.get(); }
        // Builds the list as ListDocument::setText() does; false if \a text stopped.
        bool setText(const ListDocument::Shape &shape, const ListDocument::Pieces &text,
                     const ListDocument::Piece &held);

    private:
        friend class ListBox;
        explicit Replacement(const ListBox &box);

        std::unique_ptr<ListDocument> m_list;
        // Lays the list out at the box's width while it is built, so that the box can take it
        // over without laying out every block again; goes before the list it shows.
        std::unique_ptr<QPlainTextEdit> m_builder;
    };

    explicit ListBox(QWidget *parent = nullptr);

    ListDocument *list() const { return m_list; }
    // Replaces the whole list as ListDocument::setText() does, the cursor back at the start.
    QString setList(const QString &text);

    std::unique_ptr<Replacement> replacement() const;
    // Shows \a replacement's list in place of the box's own, which goes, undo steps and all; the
    // cursor is at the start.
    void replaceList(std::unique_ptr<Replacement> replacement);

signals:
    // The list's document changed, as QTextDocument::contentsChange() tells it, whichever
    // document the box shows.
    void listChanged(int position, int removed, int added);

private:
    void watch();

    ListDocument *m_list;
};
