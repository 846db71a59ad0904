#ifndef TERMINATIONSIGNALS_H
#define TERMINATIONSIGNALS_H

#include <QObject>

class QSocketNotifier;

// Ends the event loop when the session asks the process to stop (SIGTERM at log-out, SIGINT from a
// terminal, SIGHUP), as closing the window would. Without it such a stop would skip the window's
// clean-up and leave the lock marker behind. On platforms without these signals it does nothing.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

private:
    void quitApplication();

    QSocketNotifier *notifier = nullptr;
};

#endif // TERMINATIONSIGNALS_H
