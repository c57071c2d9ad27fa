#pragma once

#include <QObject>

namespace Recovery {

// SIGTERM, SIGHUP and SIGINT, told on the event loop: the handler itself only writes to a pipe.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    // The signals' usual handling comes back.
    ~TerminationSignals() override;

    // Ends the process by \a signal, as it would have ended had nobody caught the signal.
    [[noreturn]] static void endBy(int signal);

signals:
    void received(int signal);
};

} // namespace Recovery
