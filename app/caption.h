#pragma once

#include <QString>

inline constexpr int versionMajor = 6;
inline constexpr int versionMinor = 2;

// The caption both windows carry: "Vexla Terminal Kontrol V 6.2".
inline QString WindowCaption()
{
    return QStringLiteral("Vexla Terminal Kontrol V %1.%2").arg(versionMajor).arg(versionMinor);
}
