#include "buildinfo.h"
#include "clicommandline.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
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
