#pragma once

#include "clock.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

class StopSignals;

// Where a command line run finds its files, its clock and its streams.
struct CommandLineContext
{
    QString programDir; // Vxl00.Def and the COMn links, as beside the window
    Clock clock = systemNow;
    QTextStream *out = nullptr;
    QTextStream *err = nullptr;
    StopSignals *stop = nullptr;
};

// Runs `arguments` (the program's name first) on every port at once, each in a pool thread of its own
// (`--jobs`), and returns the exit status. Output keeps the order the ports were given, but for
// `monitor` on several ports, whose lines print as they come.
int runCommandLine(const QStringList &arguments, const CommandLineContext &context);
