#pragma once

#include "keeper.h"

#include <QObject>

#include <array>

class Form;
class ListBox;
class ListDocument;
class QWidget;

// The window as the recovery keeper sees it: the two lists' documents and the entry fields.
class RecoveryLink final : public QObject, public Recovery::Keeper::Window
{
public:
    RecoveryLink(QWidget &window, Form &form);

    // Tells \a keeper of every change to the lists and the fields.
    void connectTo(Recovery::Keeper &keeper);

    qsizetype length(ListFiles::List list) const override;
    QString text(ListFiles::List list, qsizetype from, qsizetype count) const override;
    bool separatorsAreBreaks(ListFiles::List list) const override;
    bool isModified(ListFiles::List list) const override;
    Recovery::Fields fields() const override;

private:
    // The document a list box shows now: Open gives it another.
    ListDocument *document(ListFiles::List list) const;

    QWidget &m_window;
    Form &m_form;
    std::array<ListBox *, 2> m_boxes = {}; // by ListFiles::List
};
