#include "buildinfo.h"
#include "clicommandline.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
#ifdef __MINGW32__
    // MinGW frees a thread's thread_local storage before it runs their destructors (GCC bug
    // 80816). Qt's holder of a PCRE2 JIT stack, set up by a port's first match on its pool
    // thread, then takes its pointer from freed memory at that thread's end and crashes it;
    // the pool waits for the thread forever. Without the JIT Qt sets up no holder.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("terminal-kontrol-cli"));
    QCoreApplication::setApplicationVersion(QLatin1String(programVersion));
    // A reader that goes (| head) must end the run through its ports' close, not kill it.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    StopSignals stop;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCommandLine(QCoreApplication::arguments(),
                          {QCoreApplication::applicationDirPath(), systemNow, &out, &err, &stop});
}
