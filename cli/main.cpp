#include "clicommandline.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("terminal-kontrol-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("6.2"));
    StopSignals stop;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCommandLine(QCoreApplication::arguments(),
                          {QCoreApplication::applicationDirPath(), systemNow, &out, &err, &stop});
}
