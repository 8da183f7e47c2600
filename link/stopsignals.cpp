#include "stopsignals.h"

namespace {
std::atomic<int> signalsSeen = 0;
// -1 while the blocking form is not armed.
std::atomic<int> seenWhenArmed = -1;
} // namespace

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onStopSignal(int)
{
    ++signalsSeen;
    if (signalPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    }
}

void catchStopSignals(int flags)
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    for (int number : stopSignals)
        ::sigaction(number, &action, nullptr);
}

} // namespace

void stopsignals::armForBlockingWaits()
{
    seenWhenArmed = signalsSeen.load();
    // Without SA_RESTART, so that a blocked wait returns to look.
    catchStopSignals(0);
}

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onSignal);
    catchStopSignals(SA_RESTART);
}

StopSignals::~StopSignals()
{
    for (int number : stopSignals)
        ::signal(number, SIG_DFL);
}

void StopSignals::onSignal()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
    requestStop();
}
#endif

bool stopsignals::arrivedSinceArmed()
{
    const int armed = seenWhenArmed;
    return armed >= 0 && signalsSeen > armed;
}

void StopSignals::requestStop()
{
    ++m_count;
    emit stopRequested();
}

#ifndef Q_OS_UNIX
// Elsewhere the program ends through its windows or the console's own handling.
StopSignals::StopSignals(QObject *parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::onSignal() {}
void stopsignals::armForBlockingWaits()
{
    seenWhenArmed = signalsSeen.load();
}
#endif
