#include "dialogmessages.h"

#include "announcer.h"
#include "progresswindow.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHash>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString label(Choice choice)
{
    switch (choice) {
    case Choice::Save:
        return QCoreApplication::translate("DialogMessages", "&Save");
    case Choice::Discard:
        return QCoreApplication::translate("DialogMessages", "&Discard");
    case Choice::Replace:
        return QCoreApplication::translate("DialogMessages", "&Replace");
    case Choice::Overwrite:
        return QCoreApplication::translate("DialogMessages", "&Overwrite");
    case Choice::Recover:
        return QCoreApplication::translate("DialogMessages", "&Recover");
    case Choice::Cancel:
        break;
    }
    return QCoreApplication::translate("DialogMessages", "&Cancel");
}

QMessageBox::ButtonRole role(Choice choice)
{
    switch (choice) {
    case Choice::Save:
    case Choice::Replace:
    case Choice::Overwrite:
    case Choice::Recover:
        return QMessageBox::AcceptRole;
    case Choice::Discard:
        return QMessageBox::DestructiveRole;
    case Choice::Cancel:
        break;
    }
    return QMessageBox::RejectRole;
}

// The pointer is busy while the program works, not while a box waits for the user.
void execWithNormalPointer(QMessageBox &box)
{
    const bool busy = QGuiApplication::overrideCursor() != nullptr;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace

DialogMessages::DialogMessages(QWidget *parent)
    : m_parent(parent)
{ }

void DialogMessages::information(const QString &prompt, const QString &title)
{
    QMessageBox box(QMessageBox::Information, title, prompt, QMessageBox::Ok, m_parent);
    // What the program shows is never read as markup.
    box.setTextFormat(Qt::PlainText);
    execWithNormalPointer(box);
}

void DialogMessages::error(const QString &text)
{
    QMessageBox box(QMessageBox::Critical,
                    QCoreApplication::translate("DialogMessages", "Vonnerby"), text,
                    QMessageBox::NoButton, m_parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton *ok = box.addButton(QCoreApplication::translate("DialogMessages", "&OK"),
                                    QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    execWithNormalPointer(box);
}

Choice DialogMessages::ask(const Question &question)
{
    QMessageBox box(QMessageBox::Question, question.title, question.text, QMessageBox::NoButton,
                    m_parent);
    box.setTextFormat(Qt::PlainText);
    QHash<QAbstractButton *, Choice> choices;
    for (const Choice choice : question.choices) {
        QPushButton *button = box.addButton(label(choice), role(choice));
        choices.insert(button, choice);
        if (choice == question.defaultChoice)
            box.setDefaultButton(button);
        if (choice == question.escapeChoice)
            box.setEscapeButton(button);
    }
    // Escape and the close button give the escape choice even when it has no button: without
    // an escape button, a message box takes neither.
    if (!question.choices.contains(question.escapeChoice)) {
        QPushButton *escape = box.addButton(label(question.escapeChoice), QMessageBox::RejectRole);
        escape->hide();
        choices.insert(escape, question.escapeChoice);
        box.setEscapeButton(escape);
    }
    execWithNormalPointer(box);
    return choices.value(box.clickedButton(), question.escapeChoice);
}

void DialogMessages::announce(const QString &text)
{
    // Made with the first announcement, in the window that the reader is in.
    if (!m_parent)
        return;
    if (!m_announcer)
        m_announcer = new Announcer(m_parent);
    m_announcer->say(text);
}

std::unique_ptr<Progress> DialogMessages::progress(const QString &text)
{
    return std::make_unique<ProgressWindow>(m_parent, text);
}
