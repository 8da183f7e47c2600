// Fault soak: what an operator's days against real hardware bring, in minutes. Each scenario
// runs in a process of its own (tools/soak.sh starts them, under the sanitizers) and ends
// with one line "soak <scenario>: checks=N failures=N lost=N reordered=N", the figures
// the script adds up. Details go before it, one line per fault or figure.
#include "soak.h"

#include "designfonts.h"

#include <QApplication>

using namespace soak;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    designfonts::install();
    const QStringList args = app.arguments().mid(1);
    const QString scenario = args.value(0);
    const auto number = [&](int index, int fallback) { return args.size() > index ? args[index].toInt() : fallback; };

    if (scenario == u"cycles")
        return cycles(number(1, 100), number(2, 1024 * 1024), false);
    if (scenario == u"windowcycles")
        return cycles(number(1, 10), number(2, 128 * 1024), true);
    if (scenario == u"settings")
        return settings();
    if (scenario == u"twoinstances")
        return twoInstances();
    if (scenario == u"closeinwait")
        return closeInWait(number(1, 50));
    if (scenario == u"memory")
        return memory(number(1, 300));
    if (scenario == u"trickle")
        return trickle(number(1, 256), number(2, 10));
    if (scenario == u"ports")
        return ports();
    if (scenario == u"wholerun")
        return wholeRun(app);
    if (scenario == u"hangup")
        return afterHangUp();
    if (scenario == u"hold")
        return holdPort(number(1, 7), number(2, 3000));
    if (scenario == u"slowline")
        return slowLine(number(1, 20), number(2, 20000), number(3, 480));
    if (scenario == u"clickstorm")
        return clickStorm(number(1, 5000));
    if (scenario == u"sigterm")
        return sigterm(number(1, 20));
    if (scenario == u"ends")
        return ends(number(1, 3));
    if (scenario == u"deafserver")
        return deafServer(number(1, 200));
    if (scenario == u"rununtilsignal")
        return runUntilSignal(number(1, 13), number(2, 20000));
    std::fprintf(
        stderr,
        "usage: tk_soak cycles|windowcycles [count] [bytes] | settings | ports | twoinstances | closeinwait [count] | hangup | memory [rounds] | trickle [line KB] [seconds] | wholerun | slowline [frames] [bytes] [bytes/s] | clickstorm [clicks] | sigterm [rounds] | ends [rounds] | deafserver [rounds]\n");
    return 2;
}
