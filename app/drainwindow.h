#pragma once

#include <QtGlobal>

// The program's last step, after its last window closed: lets what the windows sent reach
// the line. While that takes more than about a second, a small window says how much is left
// and for how long at most, and offers to stop sending; it goes by itself when all is out.
// A stop that leaves bytes behind, or a line that does not take them in time, is told once.
// Returns the bytes left behind.
qint64 finishSending();
