#include "listbox.h"

#include "memory.h"

#include <QSignalBlocker>
#include <QTextCursor>

ListBox::Replacement::Replacement(const ListBox &box)
    : m_list(std::make_unique<ListDocument>())
    , m_builder(std::make_unique<QPlainTextEdit>())
{
    box.fit(m_list.get());
    m_builder->setLineWrapMode(box.lineWrapMode());
    m_builder->setWordWrapMode(box.wordWrapMode());
    // A QPlainTextEdit lays out every block of a document it is given again, at its own width,
    // unless another one already lays the document out at least as wide; each block then keeps
    // a layout of its own, a tenth of a gigabyte for a million records. The builder, never shown,
    // takes that part while the list is still empty, at the box's width.
    m_builder->viewport()->resize(box.viewport()->size());
    m_builder->setDocument(m_list.get());
}

ListBox::Replacement::~Replacement() = default;

bool ListBox::Replacement::setText(const ListDocument::Shape &shape,
                                   const ListDocument::Pieces &text,
                                   const ListDocument::Piece &held)
{
    // Nobody watches the list yet but the builder, which would have a screen reader sent the whole
    // list as one change: hundreds of megabytes, more than the accessibility bus takes.
    const QSignalBlocker quiet(m_list.get());
    return m_list->setText(shape, text, held);
}

ListBox::ListBox(QWidget *parent)
    : TextBox(new ListDocument, parent)
    , m_list(static_cast<ListDocument *>(document()))
{
    watch();
}

void ListBox::watch()
{
    connect(m_list, &QTextDocument::contentsChange, this, &ListBox::listChanged);
}

QString ListBox::setList(const QString &text)
{
    QString held = m_list->setText(text);
    setTextCursor(QTextCursor(m_list));
    return held;
}

std::unique_ptr<ListBox::Replacement> ListBox::replacement() const
{
    return std::unique_ptr<Replacement>(new Replacement(*this));
}

void ListBox::replaceList(std::unique_ptr<Replacement> replacement)
{
    // The box changed width meanwhile (its font did): it lays the list out anew.
    if (replacement->m_builder->viewport()->width() != viewport()->width())
        replacement->m_builder.reset();
    ListDocument *const old = m_list;
    m_list = replacement->m_list.release();
    m_list->setParent(this);
    setDocument(m_list);
    // Only now may the builder go: the box has taken the layout over as it is.
    replacement.reset();
    watch();
    setTextCursor(QTextCursor(m_list));
    // Not laid out again, the list does not ask to be drawn either.
    viewport()->update();
    delete old;
    // The new list was built while the old one was there: what the old one took is free now, in
    // the middle of the heap.
    Memory::giveBack();
}
