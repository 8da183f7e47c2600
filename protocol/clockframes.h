#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTime>

#include <optional>

// The terminal's date and clock frames, and the reading of the dates and times the
// operator types. The terminal's year is one byte counted from 2000.
namespace clockframes {

inline constexpr int firstYear = 2000;
inline constexpr int lastYear = firstYear + 255;

// A typed date: the locale's short form with or without leading zeros, with four or two
// year digits (00..29 are 2000..2029, 30..99 are 1930..1999), or ISO yyyy-MM-dd.
// Fails on anything else and on a year the terminal cannot hold.
std::optional<QDate> typedDate(const QString &text, const QLocale &locale);

// A typed time: h:m with or without leading zeros, 24-hour clock. Text that holds only a
// date (a typed date as above with any year, or the locale's day and month alone) is midnight.
std::optional<QTime> typedTime(const QString &text, const QLocale &locale);

// "@D", day, month, year - 2000, weekday (Monday 1 .. Sunday 7): five writes.
std::optional<QList<QByteArray>> dateFrame(QDate date);
// "@T", hour, minute: one write.
QByteArray timeFrame(QTime time);

// Everything the date button writes, worked out before the first write. The calendar's
// date is checked even when a date is typed, so a clock out of range fails either way.
std::optional<QList<QByteArray>> dateWrites(const QString &typed, const QDateTime &now, const QLocale &locale);
// The time button's one write: the typed time, or the clock's with nothing typed.
std::optional<QByteArray> timeWrite(const QString &typed, const QDateTime &now, const QLocale &locale);

} // namespace clockframes
