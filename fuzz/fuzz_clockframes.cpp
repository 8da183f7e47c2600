// Typed dates and times in three locales, with a clock anywhere from 1990 to 2300. What the date
// and time buttons write always has the frames' shape and says what the typed text or the clock
// says, and a date or time written the locale's way reads back as itself (a two-digit year as
// its widening makes it).
//
// The input: byte 0 picks the locale, bytes 1-7 make the clock, bytes 8-10 a date of the
// terminal's years and bytes 11-12 a time of day to read back; the rest, as UTF-8, is typed.
#include "clockframes.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

#include <array>
#include <cstring>

namespace {

using clockframes::firstYear;
using clockframes::lastYear;
using fuzzcheck::require;

constexpr qsizetype headerSize = 13;
constexpr int firstClockYear = 1990;
constexpr int clockYears = 311;
// Two year digits below this are 20yy.
constexpr int twoDigitPivot = 30;

const QLocale &localeOf(quint8 byte)
{
    static const std::array<QLocale, 3> locales{QLocale(QStringLiteral("tr_TR")), QLocale(QStringLiteral("en_US")),
                                                QLocale::c()};
    return locales[byte % locales.size()];
}

bool terminalYear(QDate date)
{
    return date.isValid() && date.year() >= firstYear && date.year() <= lastYear;
}

// The date five writes carry, after checking their shape.
QDate writtenDate(const QList<QByteArray> &writes)
{
    require(writes.size() == 5, "a date is five writes");
    require(writes[0] == "@D", "\"@D\" is the first write");
    for (qsizetype i = 1; i < writes.size(); ++i)
        require(writes[i].size() == 1, "each value is a write of one byte");
    const int day = quint8(writes[1][0]);
    const int month = quint8(writes[2][0]);
    const int year = firstYear + quint8(writes[3][0]);
    const int weekday = quint8(writes[4][0]);
    require(day >= 1 && day <= 31, "day 1..31");
    require(month >= 1 && month <= 12, "month 1..12");
    require(weekday >= 1 && weekday <= 7, "weekday 1..7");
    const QDate date(year, month, day);
    require(date.isValid(), "a day the calendar has");
    require(date.dayOfWeek() == weekday, "the date's own weekday, Monday 1 .. Sunday 7");
    return date;
}

// The time one write carries, after checking its shape.
QTime writtenTime(const QByteArray &write)
{
    require(write.size() == 4, "a time is four bytes");
    require(write.startsWith("@T"), "a time starts with \"@T\"");
    const int hour = quint8(write[2]);
    const int minute = quint8(write[3]);
    require(hour <= 23, "hour 0..23");
    require(minute <= 59, "minute 0..59");
    return QTime(hour, minute);
}

void checkTyped(const QString &typed, const QDateTime &now, const QLocale &locale)
{
    const std::optional<QDate> date = clockframes::typedDate(typed, locale);
    if (date)
        require(terminalYear(*date), "a typed date has a year 2000..2255");
    require(clockframes::typedDate(QStringLiteral(" \t") + typed + u' ', locale) == date,
            "blanks around a typed date change nothing");

    const std::optional<QTime> time = clockframes::typedTime(typed, locale);
    if (time)
        require(time->isValid() && time->second() == 0 && time->msec() == 0, "a typed time is hours and minutes");
    if (date)
        require(time == QTime(0, 0), "a typed date alone is midnight");

    const auto dates = clockframes::dateWrites(typed, now, locale);
    if (dates)
        writtenDate(*dates);
    if (!terminalYear(now.date()))
        require(!dates, "a clock out of range fails the date, typed or not");
    else if (typed.isEmpty())
        require(dates && writtenDate(*dates) == now.date(), "nothing typed writes the clock's date");
    else
        require(dates ? date && writtenDate(*dates) == *date : !date, "the date writes carry the typed date");

    const auto clock = clockframes::timeWrite(typed, now, locale);
    if (clock)
        writtenTime(*clock);
    if (typed.isEmpty())
        require(clock && writtenTime(*clock) == QTime(now.time().hour(), now.time().minute()),
                "nothing typed writes the clock's hour and minute");
    else
        require(clock ? time && writtenTime(*clock) == *time : !time, "the time write carries the typed time");
}

// Every day and month number with two digits, or with as few as it needs.
QString numberWidths(QString format, bool padded)
{
    static const QRegularExpression days(QStringLiteral("(?<!d)dd?(?!d)"));
    static const QRegularExpression months(QStringLiteral("(?<!M)MM?(?!M)"));
    return format.replace(days, padded ? QStringLiteral("dd") : QStringLiteral("d"))
        .replace(months, padded ? QStringLiteral("MM") : QStringLiteral("M"));
}

void checkDateReadBack(QDate date, const QLocale &locale)
{
    const QDateTime noon(date, QTime(12, 0), Qt::UTC);
    const QString iso = date.toString(Qt::ISODate);
    require(clockframes::typedDate(iso, locale) == date, "an ISO date reads back");
    const auto isoWrites = clockframes::dateWrites(iso, noon, locale);
    require(isoWrites && writtenDate(*isoWrites) == date, "a typed ISO date is written as itself");

    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    // Two year digits: 00..29 are this century, 30..99 the last one, which the terminal cannot hold.
    QDate expected = date;
    if (!shortFormat.contains(QStringLiteral("yyyy"))) {
        const int twoDigits = date.year() % 100;
        expected = twoDigits < twoDigitPivot ? QDate(firstYear + twoDigits, date.month(), date.day()) : QDate();
    }
    for (const QString &format : {shortFormat, numberWidths(shortFormat, true), numberWidths(shortFormat, false)}) {
        const QString text = locale.toString(date, format);
        require(clockframes::typedDate(text, locale).value_or(QDate()) == expected,
                "a date in the short form reads back, two year digits widened");
        require(clockframes::typedTime(text, locale) == QTime(0, 0), "a date in the short form is midnight");
        const auto writes = clockframes::dateWrites(text, noon, locale);
        require(expected.isValid() ? writes && writtenDate(*writes) == expected : !writes,
                "a typed short date is written as it reads");
    }
}

void checkTimeReadBack(QTime time, const QLocale &locale)
{
    for (const QString &format : {QStringLiteral("hh:mm"), QStringLiteral("h:m"), QStringLiteral("h:mm")}) {
        const QString text = time.toString(format);
        require(clockframes::typedTime(text, locale) == time, "a time as h:m reads back");
        const auto write = clockframes::timeWrite(text, QDateTime(), locale);
        require(write && writtenTime(*write) == time, "a typed time is written as itself");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::array<quint8, headerSize> header{};
    std::memcpy(header.data(), data, std::min(size, header.size()));
    const auto word = [&header](qsizetype at) { return header[at] | header[at + 1] << 8; };

    const QLocale &locale = localeOf(header[0]);
    const QDate january(firstClockYear + word(1) % clockYears, 1, 1);
    const QDateTime now(january.addDays(word(3) % january.daysInYear()),
                        QTime(header[5] % 24, header[6] % 60, header[7] % 60), Qt::UTC);
    const QDate first(firstYear, 1, 1);
    const qint64 terminalDays = first.daysTo(QDate(lastYear, 12, 31)) + 1;
    const QDate date = first.addDays((word(8) | header[10] << 16) % terminalDays);
    const QTime time(header[11] % 24, header[12] % 60);
    const QString typed = size > headerSize ? QString::fromUtf8(reinterpret_cast<const char *>(data) + headerSize,
                                                                qsizetype(size - headerSize))
                                            : QString();

    checkTyped(typed, now, locale);
    checkDateReadBack(date, locale);
    checkTimeReadBack(time, locale);
    return 0;
}
