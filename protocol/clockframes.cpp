#include "clockframes.h"

#include "commandframes.h"

#include <QRegularExpression>

namespace clockframes {

namespace {

const QString isoDateFormat = QStringLiteral("yyyy-MM-dd");
const QString timeFormat = QStringLiteral("h:m");
constexpr int twoDigitPivot = 30;

bool terminalYear(QDate date)
{
    return date.isValid() && date.year() >= firstYear && date.year() <= lastYear;
}

// Qt reads a single "d" or "M" with or without its leading zero, so both spellings pass.
// Names ("MMM" in the C locale's "d MMM yyyy", "ddd") stay names.
QString shortDateFormat(const QLocale &locale, const QString &yearLetters)
{
    static const QRegularExpression days(QStringLiteral("(?<!d)dd(?!d)"));
    static const QRegularExpression months(QStringLiteral("(?<!M)MM(?!M)"));
    static const QRegularExpression years(QStringLiteral("y+"));
    return locale.dateFormat(QLocale::ShortFormat)
        .replace(days, QStringLiteral("d"))
        .replace(months, QStringLiteral("M"))
        .replace(years, yearLetters);
}

// Qt would read two year digits as 19yy, where 29.02.00 does not exist; the century goes
// into the text first instead. Short forms keep the year at one end.
QDate twoDigitYearDate(const QString &text, const QLocale &locale)
{
    const QString format = shortDateFormat(locale, QStringLiteral("yy"));
    qsizetype at = -1;
    if (format.startsWith(u"yy"))
        at = 0;
    else if (format.endsWith(u"yy"))
        at = text.size() - 2;
    if (at < 0 || text.size() < 2)
        return {};
    const QStringView digits = QStringView(text).sliced(at, 2);
    const int tens = digits[0].digitValue();
    const int ones = digits[1].digitValue();
    if (tens < 0 || ones < 0)
        return {};
    QString widened = text;
    widened.insert(at, 10 * tens + ones < twoDigitPivot ? QStringLiteral("20") : QStringLiteral("19"));
    return locale.toDate(widened, shortDateFormat(locale, QStringLiteral("yyyy")));
}

// Any of the accepted date forms, whatever the year.
QDate anyDate(const QString &text, const QLocale &locale)
{
    if (const QDate date = locale.toDate(text, shortDateFormat(locale, QStringLiteral("yyyy"))); date.isValid())
        return date;
    if (const QDate date = QLocale::c().toDate(text, isoDateFormat); date.isValid())
        return date;
    return twoDigitYearDate(text, locale);
}

// The short form without its year ("4.12"); read in a leap year so that 29 February counts.
bool dayAndMonth(const QString &text, const QLocale &locale)
{
    static const QRegularExpression yearAndSeparator(QStringLiteral("^y+[^dM]*|[^dM]*y+"));
    const QString format = shortDateFormat(locale, QStringLiteral("yyyy")).remove(yearAndSeparator);
    return locale.toDate(text + QStringLiteral(" 2000"), format + QStringLiteral(" yyyy")).isValid();
}

} // namespace

std::optional<QDate> typedDate(const QString &text, const QLocale &locale)
{
    const QDate date = anyDate(text.trimmed(), locale);
    return terminalYear(date) ? std::optional(date) : std::nullopt;
}

std::optional<QTime> typedTime(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (const QTime time = QLocale::c().toTime(trimmed, timeFormat); time.isValid())
        return time;
    if (anyDate(trimmed, locale).isValid() || dayAndMonth(trimmed, locale))
        return QTime(0, 0);
    return std::nullopt;
}

std::optional<QList<QByteArray>> dateFrame(QDate date)
{
    if (!terminalYear(date))
        return std::nullopt;
    using commandframes::byteField;
    // Qt counts Monday 1 .. Sunday 7, as the terminal does.
    return QList<QByteArray>{commandframes::setDate.toByteArray(), byteField(date.day()), byteField(date.month()),
                             byteField(date.year() - firstYear), byteField(date.dayOfWeek())};
}

QByteArray timeFrame(QTime time)
{
    using commandframes::byteField;
    return commandframes::setTime.toByteArray() + byteField(time.hour()) + byteField(time.minute());
}

std::optional<QList<QByteArray>> dateWrites(const QString &typed, const QDateTime &now, const QLocale &locale)
{
    const auto today = dateFrame(now.date());
    if (!today || typed.isEmpty())
        return today;
    const auto date = typedDate(typed, locale);
    return date ? dateFrame(*date) : std::nullopt;
}

std::optional<QByteArray> timeWrite(const QString &typed, const QDateTime &now, const QLocale &locale)
{
    if (typed.isEmpty())
        return timeFrame(now.time());
    const auto time = typedTime(typed, locale);
    return time ? std::optional(timeFrame(*time)) : std::nullopt;
}

} // namespace clockframes
