#pragma once

#include "clock.h"

#include <QtGlobal>

// Waits for `ticks` changes of the clock's seconds value while the window's events keep
// running (receive poll, clicks, the window closing). A clock set to another second counts
// at once. Returns early when the application is quitting.
void PacedWait(quint8 ticks, const Clock &clock = systemNow);
