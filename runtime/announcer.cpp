#include "announcer.h"

#include "accessiblerole.h"

Announcer::Announcer(QWidget *parent)
    : QWidget(parent)
{
    installAccessibleRole<Announcer, QAccessible::Notification>();
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    hide();
}

void Announcer::say(const QString &text)
{
    // A reader speaks a notification as it appears, reading its name then; one that is already
    // showing says nothing when renamed.
    hide();
    setAccessibleName(text);
    show();
}
