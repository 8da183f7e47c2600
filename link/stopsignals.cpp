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

#ifdef Q_OS_WIN
#include <windows.h>

namespace {

std::atomic<StopSignals *> eventLoopForm = nullptr;
// Set once the event-loop form is gone: the program has ended its work.
HANDLE workEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Windows ends the process when the handler returns from a close, log-off or shut-down, and
// at the latest after about 5 s: the handler waits for the program's own end until shortly before.
constexpr DWORD closeGraceMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    ++signalsSeen;
    // Ctrl+C and Ctrl+Break as SIGINT; a closed console, log-off and shut-down as SIGHUP.
    if (StopSignals *form = eventLoopForm)
        form->requestStop();
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::WaitForSingleObject(workEnded, closeGraceMs);
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    eventLoopForm = this;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopSignals::~StopSignals()
{
    eventLoopForm = nullptr;
    ::SetEvent(workEnded);
}

void StopSignals::onSignal() {}

void stopsignals::armForBlockingWaits()
{
    seenWhenArmed = signalsSeen.load();
}
#endif
