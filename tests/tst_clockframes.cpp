// Reading typed dates and times in two locales, and the date and time frames built from them.
#include "clockframes.h"

#include <QTest>

namespace {

// Writes as a reader compares them: one hex string per write; no value at all on failure.
QStringList hexWrites(const std::optional<QList<QByteArray>> &writes)
{
    QStringList hex;
    if (!writes)
        return {QStringLiteral("failure")};
    for (const QByteArray &write : *writes)
        hex.append(QString::fromLatin1(write.toHex(' ')));
    return hex;
}

const QStringList failure{QStringLiteral("failure")};

} // namespace

class TestClockFrames : public QObject
{
    Q_OBJECT

private slots:
    void typedDate_data();
    void typedDate();
    void typedTime_data();
    void typedTime();
    void dateFrame_data();
    void dateFrame();
    void timeFrame_data();
    void timeFrame();
    void dateWrites_data();
    void dateWrites();
    void timeWrite_data();
    void timeWrite();
};

void TestClockFrames::typedDate_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("date");

    const QDate none;
    QTest::newRow("tr leading zeros") << "tr_TR"
                                      << "04.12.2026" << QDate(2026, 12, 4);
    QTest::newRow("tr no leading zeros") << "tr_TR"
                                         << "4.12.2026" << QDate(2026, 12, 4);
    QTest::newRow("tr leading zero on month only") << "tr_TR"
                                                   << "4.02.2026" << QDate(2026, 2, 4);
    QTest::newRow("tr two-digit year") << "tr_TR"
                                       << "4.12.26" << QDate(2026, 12, 4);
    QTest::newRow("tr two-digit year 00 is 2000") << "tr_TR"
                                                  << "01.01.00" << QDate(2000, 1, 1);
    QTest::newRow("tr 29 February 00 is a leap day") << "tr_TR"
                                                     << "29.02.00" << QDate(2000, 2, 29);
    QTest::newRow("tr two-digit year 29 is 2029") << "tr_TR"
                                                  << "1.1.29" << QDate(2029, 1, 1);
    QTest::newRow("tr two-digit year 30 is 1930") << "tr_TR"
                                                  << "1.1.30" << none;
    QTest::newRow("tr two-digit year 99 is 1999") << "tr_TR"
                                                  << "31.12.99" << none;
    QTest::newRow("tr ISO") << "tr_TR"
                            << "2026-12-04" << QDate(2026, 12, 4);
    QTest::newRow("tr first year") << "tr_TR"
                                   << "1.1.2000" << QDate(2000, 1, 1);
    QTest::newRow("tr last year") << "tr_TR"
                                  << "31.12.2255" << QDate(2255, 12, 31);
    QTest::newRow("tr 1999") << "tr_TR"
                             << "31.12.1999" << none;
    QTest::newRow("tr 2256") << "tr_TR"
                             << "1.1.2256" << none;
    QTest::newRow("tr letters") << "tr_TR"
                                << "abc" << none;
    QTest::newRow("tr 31 February") << "tr_TR"
                                    << "31.02.2026" << none;
    QTest::newRow("tr 29 February, common year") << "tr_TR"
                                                 << "29.02.2026" << none;
    QTest::newRow("tr month 13") << "tr_TR"
                                 << "1.13.2026" << none;
    QTest::newRow("tr time of day") << "tr_TR"
                                    << "10:30" << none;
    QTest::newRow("tr day and month alone") << "tr_TR"
                                            << "4.12" << none;
    QTest::newRow("tr three-digit year") << "tr_TR"
                                         << "4.12.026" << none;
    QTest::newRow("tr one-digit year") << "tr_TR"
                                       << "4.12.6" << none;
    QTest::newRow("tr three-digit day") << "tr_TR"
                                        << "004.12.2026" << none;
    QTest::newRow("tr American order") << "tr_TR"
                                       << "12/4/2026" << none;
    QTest::newRow("tr empty") << "tr_TR"
                              << "" << none;
    QTest::newRow("tr spaces around") << "tr_TR"
                                      << " 4.12.2026 " << QDate(2026, 12, 4);
    QTest::newRow("tr ISO without zeros") << "tr_TR"
                                          << "2026-12-4" << none;
    QTest::newRow("tr ISO with trailing text") << "tr_TR"
                                               << "2026-12-04x" << none;

    QTest::newRow("en month first") << "en_US"
                                    << "12/4/2026" << QDate(2026, 12, 4);
    QTest::newRow("en leading zeros") << "en_US"
                                      << "12/04/2026" << QDate(2026, 12, 4);
    QTest::newRow("en two-digit year") << "en_US"
                                       << "12/4/26" << QDate(2026, 12, 4);
    QTest::newRow("en 29 February 00 is a leap day") << "en_US"
                                                     << "2/29/00" << QDate(2000, 2, 29);
    QTest::newRow("en two-digit year 30 is 1930") << "en_US"
                                                  << "1/1/30" << none;
    QTest::newRow("en ISO") << "en_US"
                            << "2026-12-04" << QDate(2026, 12, 4);
    QTest::newRow("en last year") << "en_US"
                                  << "12/31/2255" << QDate(2255, 12, 31);
    QTest::newRow("en 2256") << "en_US"
                             << "1/1/2256" << none;
    QTest::newRow("en 1999") << "en_US"
                             << "12/31/1999" << none;
    QTest::newRow("en day first is month 13") << "en_US"
                                              << "13/4/2026" << none;
    QTest::newRow("en Turkish dots") << "en_US"
                                     << "4.12.2026" << none;
    QTest::newRow("en 29 February, common year") << "en_US"
                                                 << "2/29/2026" << none;
    QTest::newRow("en time of day") << "en_US"
                                    << "10:30" << none;
    QTest::newRow("en letters") << "en_US"
                                << "abc" << none;

    QTest::newRow("C month name") << "C"
                                  << "4 Dec 2026" << QDate(2026, 12, 4);
    QTest::newRow("C leading zero") << "C"
                                    << "04 Dec 2026" << QDate(2026, 12, 4);
    QTest::newRow("C two-digit year") << "C"
                                      << "4 Dec 26" << QDate(2026, 12, 4);
    QTest::newRow("C 29 February 00 is a leap day") << "C"
                                                    << "29 Feb 00" << QDate(2000, 2, 29);
    QTest::newRow("C last year") << "C"
                                 << "31 Dec 2255" << QDate(2255, 12, 31);
    QTest::newRow("C 2256") << "C"
                            << "1 Jan 2256" << none;
    QTest::newRow("C month number") << "C"
                                    << "4 12 2026" << none;
    QTest::newRow("C ISO") << "C"
                           << "2026-12-04" << QDate(2026, 12, 4);
}

void TestClockFrames::typedDate()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QDate, date);

    const auto read = clockframes::typedDate(text, QLocale(locale));
    QCOMPARE(read.value_or(QDate()), date);
    QCOMPARE(read.has_value(), date.isValid());
}

void TestClockFrames::typedTime_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QTime>("time");

    const QTime none;
    const QTime midnight(0, 0);
    for (const QString &locale : {QStringLiteral("tr_TR"), QStringLiteral("en_US")}) {
        const auto row = [&locale](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", qPrintable(locale.left(2)), name) << locale;
        };
        row("hh:mm") << "07:05" << QTime(7, 5);
        row("h:mm") << "7:05" << QTime(7, 5);
        row("h:m") << "7:5" << QTime(7, 5);
        row("hh:m") << "07:5" << QTime(7, 5);
        row("midnight") << "00:00" << midnight;
        row("last minute") << "23:59" << QTime(23, 59);
        row("24:00") << "24:00" << none;
        row("25:00") << "25:00" << none;
        row("minute 60") << "7:60" << none;
        row("three-digit hour") << "007:05" << none;
        row("hour alone") << "7" << none;
        row("letters") << "abc" << none;
        row("seconds") << "7:05:30" << none;
        row("negative hour") << "-1:05" << none;
        row("spaces around") << " 7:05 " << QTime(7, 5);
        row("ISO date alone") << "2026-12-04" << midnight;
        row("empty") << "" << none;
    }
    QTest::newRow("tr day and month alone") << "tr_TR"
                                            << "4.12" << midnight;
    QTest::newRow("tr 29 February alone") << "tr_TR"
                                          << "29.02" << midnight;
    QTest::newRow("tr 31 February alone") << "tr_TR"
                                          << "31.02" << none;
    QTest::newRow("tr full short date") << "tr_TR"
                                        << "04.12.2026" << midnight;
    QTest::newRow("tr two-digit year date") << "tr_TR"
                                            << "4.12.26" << midnight;
    QTest::newRow("tr date the terminal cannot hold") << "tr_TR"
                                                      << "4.12.1999" << midnight;
    QTest::newRow("tr American day and month") << "tr_TR"
                                               << "12/4" << none;
    QTest::newRow("en month and day alone") << "en_US"
                                            << "12/4" << midnight;
    QTest::newRow("en full short date") << "en_US"
                                        << "12/4/2026" << midnight;
    QTest::newRow("en month 13 alone") << "en_US"
                                       << "13/4" << none;
    QTest::newRow("en Turkish day and month") << "en_US"
                                              << "4.12" << none;
    QTest::newRow("C day and month alone") << "C"
                                           << "4 Dec" << midnight;
    QTest::newRow("C full short date") << "C"
                                       << "4 Dec 2026" << midnight;
}

void TestClockFrames::typedTime()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QTime, time);

    const auto read = clockframes::typedTime(text, QLocale(locale));
    QCOMPARE(read.value_or(QTime()), time);
    QCOMPARE(read.has_value(), time.isValid());
}

void TestClockFrames::dateFrame_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QStringList>("writes");

    QTest::newRow("Friday 4 December 2026") << QDate(2026, 12, 4) << QStringList{"40 44", "04", "0c", "1a", "05"};
    QTest::newRow("Sunday is 7") << QDate(2026, 12, 6) << QStringList{"40 44", "06", "0c", "1a", "07"};
    QTest::newRow("Monday is 1") << QDate(2026, 12, 7) << QStringList{"40 44", "07", "0c", "1a", "01"};
    QTest::newRow("first day of 2000") << QDate(2000, 1, 1) << QStringList{"40 44", "01", "01", "00", "06"};
    QTest::newRow("leap day 2000") << QDate(2000, 2, 29) << QStringList{"40 44", "1d", "02", "00", "02"};
    QTest::newRow("last day of 2255") << QDate(2255, 12, 31) << QStringList{"40 44", "1f", "0c", "ff", "01"};
    QTest::newRow("last day of 1999") << QDate(1999, 12, 31) << failure;
    QTest::newRow("first day of 2256") << QDate(2256, 1, 1) << failure;
    QTest::newRow("no date") << QDate() << failure;
}

void TestClockFrames::dateFrame()
{
    QFETCH(QDate, date);
    QFETCH(QStringList, writes);
    QCOMPARE(hexWrites(clockframes::dateFrame(date)), writes);
}

void TestClockFrames::timeFrame_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<QString>("bytes");

    QTest::newRow("midnight is two NULs") << QTime(0, 0) << "40 54 00 00";
    QTest::newRow("07:05") << QTime(7, 5) << "40 54 07 05";
    QTest::newRow("last minute") << QTime(23, 59) << "40 54 17 3b";
    QTest::newRow("seconds are dropped") << QTime(12, 34, 56) << "40 54 0c 22";
}

void TestClockFrames::timeFrame()
{
    QFETCH(QTime, time);
    QFETCH(QString, bytes);
    QCOMPARE(QString::fromLatin1(clockframes::timeFrame(time).toHex(' ')), bytes);
}

void TestClockFrames::dateWrites_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QStringList>("writes");

    const QDateTime friday(QDate(2026, 12, 4), QTime(10, 0));
    const QStringList fridayFrame{"40 44", "04", "0c", "1a", "05"};
    for (const QString &locale : {QStringLiteral("tr_TR"), QStringLiteral("en_US")}) {
        const auto row = [&locale](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", qPrintable(locale.left(2)), name) << locale;
        };
        row("nothing typed takes the clock") << "" << friday << fridayFrame;
        row("clock in 2000") << "" << QDateTime(QDate(2000, 1, 1), QTime(0, 0))
                             << QStringList{"40 44", "01", "01", "00", "06"};
        row("clock in 2255") << "" << QDateTime(QDate(2255, 12, 31), QTime(23, 59))
                             << QStringList{"40 44", "1f", "0c", "ff", "01"};
        row("clock in 1999") << "" << QDateTime(QDate(1999, 12, 31), QTime(23, 59)) << failure;
        row("clock in 2256") << "" << QDateTime(QDate(2256, 1, 1), QTime(0, 0)) << failure;
        row("typed ISO date on a clock in 1999") << "2026-12-04" << QDateTime(QDate(1999, 12, 31), QTime(12, 0)) << failure;
        row("typed ISO date on a clock in 2256") << "2026-12-04" << QDateTime(QDate(2256, 1, 1), QTime(12, 0)) << failure;
        row("typed ISO Sunday sends its own weekday")
            << "2026-12-06" << friday << QStringList{"40 44", "06", "0c", "1a", "07"};
        row("letters") << "abc" << friday << failure;
        row("time of day") << "10:30" << friday << failure;
        row("blank text is not empty") << " " << friday << failure;
    }
    QTest::newRow("tr typed Monday") << "tr_TR"
                                     << "7.12.2026" << friday << QStringList{"40 44", "07", "0c", "1a", "01"};
    QTest::newRow("tr typed 2000") << "tr_TR"
                                   << "01.01.00" << friday << QStringList{"40 44", "01", "01", "00", "06"};
    QTest::newRow("tr typed 1999") << "tr_TR"
                                   << "31.12.1999" << friday << failure;
    QTest::newRow("tr typed 2256") << "tr_TR"
                                   << "1.1.2256" << friday << failure;
    QTest::newRow("tr typed in 2255") << "tr_TR"
                                      << "31.12.2255" << friday << QStringList{"40 44", "1f", "0c", "ff", "01"};
    QTest::newRow("en typed Monday") << "en_US"
                                     << "12/7/2026" << friday << QStringList{"40 44", "07", "0c", "1a", "01"};
    QTest::newRow("en typed 1999") << "en_US"
                                   << "12/31/99" << friday << failure;
    QTest::newRow("en typed Turkish date") << "en_US"
                                           << "7.12.2026" << friday << failure;
    QTest::newRow("C typed Monday") << "C"
                                    << "7 Dec 2026" << friday << QStringList{"40 44", "07", "0c", "1a", "01"};
}

void TestClockFrames::dateWrites()
{
    QFETCH(QString, locale);
    QFETCH(QString, typed);
    QFETCH(QDateTime, now);
    QFETCH(QStringList, writes);
    QCOMPARE(hexWrites(clockframes::dateWrites(typed, now, QLocale(locale))), writes);
}

void TestClockFrames::timeWrite_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("bytes");

    const QDateTime ten(QDate(2026, 12, 4), QTime(10, 0));
    for (const QString &locale : {QStringLiteral("tr_TR"), QStringLiteral("en_US")}) {
        const auto row = [&locale](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", qPrintable(locale.left(2)), name) << locale;
        };
        row("nothing typed at midnight") << "" << QDateTime(QDate(2026, 12, 4), QTime(0, 0)) << "40 54 00 00";
        row("nothing typed, seconds dropped") << "" << QDateTime(QDate(2026, 12, 4), QTime(23, 59, 59)) << "40 54 17 3b";
        row("clock year does not matter") << "" << QDateTime(QDate(1999, 12, 31), QTime(8, 30)) << "40 54 08 1e";
        row("typed 07:05 whatever the clock") << "07:05" << ten << "40 54 07 05";
        row("typed 7:5") << "7:5" << ten << "40 54 07 05";
        row("typed 24:00") << "24:00" << ten << "failure";
        row("letters") << "abc" << ten << "failure";
    }
    QTest::newRow("tr typed date alone is midnight") << "tr_TR"
                                                     << "4.12" << ten << "40 54 00 00";
    QTest::newRow("en typed date alone is midnight") << "en_US"
                                                     << "12/4" << ten << "40 54 00 00";
}

void TestClockFrames::timeWrite()
{
    QFETCH(QString, locale);
    QFETCH(QString, typed);
    QFETCH(QDateTime, now);
    QFETCH(QString, bytes);
    const auto write = clockframes::timeWrite(typed, now, QLocale(locale));
    QCOMPARE(write ? QString::fromLatin1(write->toHex(' ')) : QStringLiteral("failure"), bytes);
}

QTEST_APPLESS_MAIN(TestClockFrames)
#include "tst_clockframes.moc"
