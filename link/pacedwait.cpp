#include "pacedwait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>

using namespace std::chrono_literals;

namespace {
// Often enough to notice a clock jump at once, rarely enough to leave the processor idle.
constexpr auto clockCheckInterval = 5ms;
} // namespace

void PacedWait(quint8 ticks, const Clock &clock)
{
    if (ticks == 0)
        return;
    int referenceSecond = clock().time().second();
    quint8 counted = 0;

    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(clockCheckInterval);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        const int second = clock().time().second();
        if (second == referenceSecond)
            return;
        ++counted;
        referenceSecond = clock().time().second();
        if (counted >= ticks)
            loop.quit();
    });
    check.start();
    // The nested loop runs pending events and sleeps between them instead of spinning.
    loop.exec();
}
