#pragma once

#include <QFont>
#include <QString>

// The window design's faces at its pixel sizes (8.25 pt = 11 px, 9.75 pt = 13 px at 96 dpi).
namespace designfonts {

inline constexpr int smallPixels = 11;
inline constexpr int largePixels = 13;

// Makes Tahoma and MS Sans Serif available where the system lacks them and Debian's copies
// draw as designed (scalable, a true bold at the design's sizes); otherwise they, and Verdana,
// map to a scalable sans face. Call once after the application object exists; each face is
// tried when font() first asks for it.
void install();

QFont font(const QString &family, int pixelSize, bool bold);

} // namespace designfonts
