#include "endsignals.h"

#include "commport.h"
#include "portdrain.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdlib>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int signalSocket[2] = {-1, -1};

// Only a write is safe in a signal handler; the event loop does the rest.
void onEndSignal(int)
{
    const char signalled = 1;
    [[maybe_unused]] const auto written = ::write(signalSocket[1], &signalled, 1);
}

void endOnSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char signalled;
        while (::read(signalSocket[0], &signalled, 1) > 0) {
        }
        static bool ending = false;
        if (ending) {
            PortDrain::closeAll();
        } else {
            ending = true;
            QApplication::closeAllWindows();
        }
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif

} // namespace

void closePortsAtEveryEnd()
{
#ifdef Q_OS_UNIX
    endOnSignals();
#endif
    // The X11 connection's loss ends the process through exit(), past every window.
    std::atexit(&CommPort::closeAllNow);
}
