#pragma once

#include <QRect>
#include <QtMath>

// The layouts are designed in twips: 15 twips make one pixel at 96 dpi.
inline constexpr int twipsPerPixel = 15;

constexpr int pixels(int twips)
{
    return (twips + twipsPerPixel / 2) / twipsPerPixel;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}
