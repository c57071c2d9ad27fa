#pragma once

#include <QCursor>
#include <QGuiApplication>

// Shows the busy pointer for as long as it lives, however the work it covers ends.
class BusyPointer
{
public:
    BusyPointer() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    Q_DISABLE_COPY_MOVE(BusyPointer)
};
