#include "unixsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] written by the handler, [1] read on the event loop. One pair a process:
// signal dispositions are process-wide anyway.
int pipeEnds[2] = {-1, -1};

const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT};

} // namespace

UnixSignals::UnixSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pipeEnds) != 0) {
        qWarning("PostOwl: no socket pair for signals; ending by signal will not save the window position");
        return;
    }
    // A full buffer must never block the handler; a lost duplicate is harmless.
    for (int end : pipeEnds)
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = &UnixSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : endingSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

UnixSignals::~UnixSignals()
{
    // Whatever arrives after this object is gone takes the default way out.
    for (int signalNumber : endingSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void UnixSignals::handle(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &number, 1);
    errno = savedErrno;
}

void UnixSignals::readPending()
{
    unsigned char number = 0;
    while (::read(pipeEnds[1], &number, 1) == 1)
        emit received(number);
}
