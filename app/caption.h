#pragma once

#include "buildinfo.h"

#include <QString>

// The caption both windows carry, "Vexla Terminal Kontrol V 6.2" for version 6.2.
inline QString WindowCaption()
{
    return QStringLiteral("Vexla Terminal Kontrol V %1.%2").arg(versionMajor).arg(versionMinor);
}

// The title of the message boxes. Not a display name: Qt appends that to both windows' own
// captions on X11, and the application name stays the desktop file's id (the window class).
inline QString ProgramTitle()
{
    return QStringLiteral("Terminal Kontrol");
}
