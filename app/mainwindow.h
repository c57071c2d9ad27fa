#pragma once

// The program's one window and the wiring of its buttons and menus to the commands.

#include "messages.h"

#include <QMainWindow>

#include <memory>

class Commands;
class Form;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Messages go to modal boxes unless \a messages is given (tests record them instead).
    explicit MainWindow(std::unique_ptr<Messages> messages = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createPlayerPanel(QWidget *client);
    void createServerPanel(QWidget *client);
    void createListTabs(QWidget *client);
    void createHiddenBox(QWidget *client);
    void createMenus();
    void setTabOrder();

    std::unique_ptr<Messages> m_messages;
    std::unique_ptr<Form> m_form;
    std::unique_ptr<Commands> m_commands;
};
