#pragma once

#include "line.h"

#include <QString>

#include <chrono>
#include <memory>

// Opens a line to `device`: a device path, or a device server's URL (which may still be
// connecting when this returns, for at most `connectTimeout`). Throws CommError. The one
// place that picks a kind of line.
std::unique_ptr<Line> openLine(const QString &device, const LineSettings &settings,
                               std::chrono::milliseconds connectTimeout);
