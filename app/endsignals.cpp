#include "endsignals.h"

#include "commport.h"
#include "portdrain.h"
#include "stopsignals.h"

#include <QApplication>

#include <cstdlib>

namespace {
bool ending = false;
}

bool endingBySignal()
{
    return ending;
}

void closePortsAtEveryEnd()
{
    auto *stop = new StopSignals(qApp);
    QObject::connect(stop, &StopSignals::stopRequested, [] {
        if (ending) {
            PortDrain::closeAll();
        } else {
            ending = true;
            QApplication::closeAllWindows();
        }
        QCoreApplication::quit();
    });
    // The X11 connection's loss ends the process through exit(), past every window.
    std::atexit(&CommPort::closeAllNow);
#ifdef Q_OS_WIN
    // Windows ends the process right after telling that the session ends, past exit handlers
    // and the drain's window: what is queued goes out while the toolkit says it quits.
    static bool sessionEnding = false;
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, [] { sessionEnding = true; });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
        if (sessionEnding)
            CommPort::closeAllNow();
    });
#endif
}
