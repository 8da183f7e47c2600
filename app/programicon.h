#pragma once

#include <QIcon>

// The program's 32x32 icon: a card before a terminal's display.
QIcon programIcon();
