#pragma once

#include "messages.h"

#include <QPointer>

class Announcer;
class QWidget;

// Messages as modal message boxes over the window.
class DialogMessages final : public Messages
{
public:
    explicit DialogMessages(QWidget *parent);

    void information(const QString &prompt, const QString &title) override;
    void error(const QString &text) override;
    Choice ask(const Question &question) override;
    void announce(const QString &text) override;
    std::unique_ptr<Progress> progress(const QString &text) override;

private:
    QWidget *m_parent = nullptr;
    QPointer<Announcer> m_announcer;
};
