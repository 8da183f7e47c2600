#pragma once

#include "cardnumber.h"
#include "clock.h"

#include <QString>

// What the whole run shares: the port chosen in Form0, the folder beside the program
// (settings file and COMn links), where "now" comes from, and the card read's random
// numbers, which go on from one main window to the next.
struct Module1
{
    quint8 SelectedPort = 0;
    QString programDir;
    Clock clock = systemNow;
    cardnumber::RandomCards randomCards;
};
