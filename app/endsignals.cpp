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
}
