#pragma once

#include <QDateTime>

#include <functional>

// Where "now" comes from, so that date, time and wait behaviour can be tested exactly.
using Clock = std::function<QDateTime()>;

inline QDateTime systemNow()
{
    return QDateTime::currentDateTime();
}
