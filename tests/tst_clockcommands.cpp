// The date and time buttons at the far end of a pseudo-terminal, in two locales, with the
// clock pinned.
#include "harness.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString dateFailure = QStringLiteral("Hatalı Tarih Bilgisi");
const QString timeFailure = QStringLiteral("Hatalı Saat Bilgisi");

QDateTime at(int year, int month, int day, int hour = 10, int minute = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

QByteArray dateFrame(char day, char month, char year, char weekday)
{
    return QByteArray("@D") + day + month + year + weekday;
}

QByteArray timeFrame(char hour, char minute)
{
    return QByteArray("@T") + hour + minute;
}

} // namespace

class TestClockCommands : public QObject
{
    Q_OBJECT

private slots:
    void init() { writeSettingsFile(nullptr); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void dateButton_data();
    void dateButton() { clickTwice(QStringLiteral("Text2"), QStringLiteral("Command2"), dateFailure); }
    void timeButton_data();
    void timeButton() { clickTwice(QStringLiteral("Text7"), QStringLiteral("Command3"), timeFailure); }
    void failingWrite_data();
    void failingWrite();

private:
    void clickTwice(const QString &box, const QString &button, const QString &failure);
};

void TestClockCommands::dateButton_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("bytes");

    const QDateTime friday = at(2026, 12, 4);
    const QByteArray nothing;
    for (const QString &locale : {QStringLiteral("tr_TR"), QStringLiteral("en_US")}) {
        const auto row = [&locale](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", qPrintable(locale.left(2)), name) << locale;
        };
        row("Friday 4 December 2026 from the clock") << "" << friday << dateFrame(0x04, 0x0C, 0x1A, 0x05);
        row("Sunday from the clock") << "" << at(2026, 12, 6) << dateFrame(0x06, 0x0C, 0x1A, 0x07);
        row("Monday from the clock") << "" << at(2026, 12, 7) << dateFrame(0x07, 0x0C, 0x1A, 0x01);
        row("clock in 2000") << "" << at(2000, 1, 1, 0, 0) << dateFrame(0x01, 0x01, 0x00, 0x06);
        row("clock in 2255") << "" << at(2255, 12, 31, 23, 59) << dateFrame(0x1F, 0x0C, char(0xFF), 0x01);
        row("clock in 1999") << "" << at(1999, 12, 31, 23, 59) << nothing;
        row("clock in 2256") << "" << at(2256, 1, 1, 0, 0) << nothing;
        row("typed ISO date on a clock in 1999") << "2026-12-04" << at(1999, 12, 31) << nothing;
        row("typed ISO Sunday sends its own weekday") << "2026-12-06" << friday << dateFrame(0x06, 0x0C, 0x1A, 0x07);
        row("letters") << "abc" << friday << nothing;
        row("time of day alone") << "10:30" << friday << nothing;
    }
    QTest::newRow("tr typed Monday on a Friday") << "tr_TR"
                                                 << "7.12.2026" << friday << dateFrame(0x07, 0x0C, 0x1A, 0x01);
    QTest::newRow("tr typed with leading zeros") << "tr_TR"
                                                 << "04.12.2026" << at(2030, 6, 1) << dateFrame(0x04, 0x0C, 0x1A, 0x05);
    QTest::newRow("tr typed two-digit 00") << "tr_TR"
                                           << "1.1.00" << friday << dateFrame(0x01, 0x01, 0x00, 0x06);
    QTest::newRow("tr typed 2255") << "tr_TR"
                                   << "31.12.2255" << friday << dateFrame(0x1F, 0x0C, char(0xFF), 0x01);
    QTest::newRow("tr typed 1999") << "tr_TR"
                                   << "31.12.1999" << friday << nothing;
    QTest::newRow("tr typed 2256") << "tr_TR"
                                   << "1.1.2256" << friday << nothing;
    QTest::newRow("tr typed 31 February") << "tr_TR"
                                          << "31.02.2026" << friday << nothing;
    QTest::newRow("tr typed American order") << "tr_TR"
                                             << "12/7/2026" << friday << nothing;
    QTest::newRow("en typed Monday on a Friday") << "en_US"
                                                 << "12/7/2026" << friday << dateFrame(0x07, 0x0C, 0x1A, 0x01);
    QTest::newRow("en typed two-digit 00") << "en_US"
                                           << "1/1/00" << friday << dateFrame(0x01, 0x01, 0x00, 0x06);
    QTest::newRow("en typed 2255") << "en_US"
                                   << "12/31/2255" << friday << dateFrame(0x1F, 0x0C, char(0xFF), 0x01);
    QTest::newRow("en typed 1999") << "en_US"
                                   << "12/31/1999" << friday << nothing;
    QTest::newRow("en typed 2256") << "en_US"
                                   << "1/1/2256" << friday << nothing;
    QTest::newRow("en typed Turkish order") << "en_US"
                                            << "7.12.2026" << friday << nothing;
}

void TestClockCommands::timeButton_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("bytes");

    const QDateTime ten = at(2026, 12, 4);
    const QByteArray nothing;
    for (const QString &locale : {QStringLiteral("tr_TR"), QStringLiteral("en_US")}) {
        const auto row = [&locale](const char *name) -> QTestData & {
            return QTest::addRow("%s %s", qPrintable(locale.left(2)), name) << locale;
        };
        row("clock at midnight") << "" << at(2026, 12, 4, 0, 0) << timeFrame(0, 0);
        row("clock at 23:59") << "" << at(2026, 12, 4, 23, 59) << timeFrame(23, 59);
        row("clock in 1999 still sets the time") << "" << at(1999, 12, 31, 8, 30) << timeFrame(8, 30);
        row("typed 07:05 at ten") << "07:05" << ten << timeFrame(7, 5);
        row("typed 07:05 at midnight") << "07:05" << at(2026, 12, 4, 0, 0) << timeFrame(7, 5);
        row("typed 7:5") << "7:5" << ten << timeFrame(7, 5);
        row("typed 00:00") << "00:00" << ten << timeFrame(0, 0);
        row("typed 24:00") << "24:00" << ten << nothing;
        row("typed 25:00") << "25:00" << ten << nothing;
        row("typed 7:60") << "7:60" << ten << nothing;
        row("letters") << "abc" << ten << nothing;
    }
    QTest::newRow("tr typed day and month is midnight") << "tr_TR"
                                                        << "4.12" << ten << timeFrame(0, 0);
    QTest::newRow("en typed month and day is midnight") << "en_US"
                                                        << "12/4" << ten << timeFrame(0, 0);
}

// A failing value shows its message on every click and sends nothing; the box keeps its text.
void TestClockCommands::clickTwice(const QString &box, const QString &button, const QString &failure)
{
    QFETCH(QString, locale);
    QFETCH(QString, typed);
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, bytes);

    QLocale::setDefault(QLocale(locale));
    Form1Harness h(5, [now] { return now; });
    MessageBoxCatcher catcher;
    auto *field = h.form->findChild<QLineEdit *>(box);
    field->setText(typed);
    QCOMPARE(field->text(), typed);

    for (int click = 1; click <= 2; ++click) {
        h.click(h.form->findChild<QPushButton *>(button));
        const QByteArray line = h.far.read(bytes.size());
        QCOMPARE(hexDump(line + h.far.readAll()), hexDump(bytes));
        const QStringList expected = bytes.isEmpty() ? QStringList(click, failure) : QStringList();
        QCOMPARE(catcher.texts, expected);
        QCOMPARE(field->text(), typed);
    }
}

void TestClockCommands::failingWrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");

    QTest::newRow("date") << "Command2" << dateFailure;
    QTest::newRow("time") << "Command3" << timeFailure;
}

void TestClockCommands::failingWrite()
{
    QFETCH(QString, button);
    QFETCH(QString, message);

    QLocale::setDefault(QLocale(QStringLiteral("tr_TR")));
    Form1Harness h(5, [] { return at(2026, 12, 4); });
    MessageBoxCatcher catcher;
    h.far.hangUp();
    QVERIFY(waitUntil([&h] { return !h.form->link().port().isOpen(); }));

    h.click(h.form->findChild<QPushButton *>(button));
    QCOMPARE(catcher.texts, QStringList{message});
}

QTEST_MAIN(TestClockCommands)
#include "tst_clockcommands.moc"
