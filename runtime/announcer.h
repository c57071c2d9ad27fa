#pragma once

#include <QWidget>

// Tells a screen reader what a command did where nothing else would: a widget that takes no room
// and draws nothing, which readers meet as a notification each time it appears. Qt 6.4 has no
// announcement event, and a reader presents a notification whatever has the focus, and again
// when it reappears with the same words.
class Announcer : public QWidget
{
    Q_OBJECT

public:
    explicit Announcer(QWidget *parent);

    void say(const QString &text);
};
