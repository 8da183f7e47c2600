#pragma once

#include "clock.h"

#include <QString>

// What the whole run shares: the port chosen in Form0, the folder beside the program
// (settings file and COMn links), and where "now" comes from.
struct Module1
{
    quint8 SelectedPort = 0;
    QString programDir;
    Clock clock = systemNow;
};
