#include "terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do next to nothing; it hands the signal to the event loop through this pair.
int signalPipe[2] = {-1, -1};

void writeToPipe(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

} // namespace
#endif

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::quitApplication);

    struct sigaction action = {};
    action.sa_handler = writeToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
#endif
}

TerminationSignals::~TerminationSignals()
{
#ifdef Q_OS_UNIX
    if (!notifier)
        return;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::signal(signalNumber, SIG_DFL);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
#endif
}

void TerminationSignals::quitApplication()
{
#ifdef Q_OS_UNIX
    char byte;
    [[maybe_unused]] const ssize_t bytesRead = ::read(signalPipe[1], &byte, 1);
#endif
    QCoreApplication::quit();
}
