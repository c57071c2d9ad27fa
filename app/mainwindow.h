#pragma once

// The program's one window and the wiring of its buttons and menus to the commands.

#include "messages.h"

#include <QList>
#include <QMainWindow>
#include <QRect>

#include <memory>
#include <optional>

class Commands;
class Form;
class QPlainTextEdit;
class RecoveryLink;
namespace Recovery {
class Keeper;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Messages go to modal boxes unless \a messages is given (tests record them instead).
    explicit MainWindow(std::unique_ptr<Messages> messages = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Keeps unsaved work aside from here on, after offering back what a program that ended
    // without closing kept. SIGTERM, SIGHUP, SIGINT and a logout then end the program at once,
    // with the work kept for the next start.
    void keepUnsavedWork();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createPlayerPanel(QWidget *client);
    void createServerPanel(QWidget *client);
    void createListTabs(QWidget *client);
    void createHiddenBox(QWidget *client);
    void createMenus();
    void setTabOrder();
    void addRecord(void (Commands::*add)(), const QString &list);
    void showRecord(QPlainTextEdit *box, int start);
    void markUnsavedLists();
    void rememberTwipsLayout();
    double fontScale() const;
    void fitToFont();
    void endKeepingWork(int signal);
    // Ends as endKeepingWork() would have, had a command not been at work when it was asked.
    void endIfAsked();

    std::unique_ptr<Messages> m_messages;
    std::unique_ptr<Form> m_form;
    std::unique_ptr<Commands> m_commands;
    // The link first, so that the keeper, which reads the window through it, goes before it.
    std::unique_ptr<RecoveryLink> m_link;
    std::unique_ptr<Recovery::Keeper> m_keeper;
    bool m_ending = false;
    // The signal that is to end the program once the command at work has stopped (0: a logout).
    std::optional<int> m_endAsked;

    // Each placed control with its geometry in pixels at 15 twips each, before any scaling.
    struct Placed
    {
        QWidget *control = nullptr;
        QRect geometry;
    };
    QList<Placed> m_twipsLayout;
};
