#pragma once

#include <QString>

// The classic component's ports run from COM1 to COM255.
inline constexpr int highestPortNumber = 255;

// "COM4" (any case, no leading zero) to 4; 0 for anything else, COM0 and past COM255 included.
// The one reading of a COMn name for the window, the command line, the port maps and the
// simulator. "COM04" is refused: the links and map lines are looked up as "COM4", so a name
// with a zero would reach a port under another name than the one given.
int comNumber(const QString &name);
