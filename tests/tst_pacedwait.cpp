// The paced wait: where in the second it starts, clock jumps, a count of 0, and that
// the window's events run inside it.
#include "fakeclock.h"
#include "pacedwait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {
const QDate someDay(2026, 12, 4);
}

class TestPacedWait : public QObject
{
    Q_OBJECT

private slots:
    void whereInTheSecondItStarts_data();
    void whereInTheSecondItStarts();
    void clockSetToAnotherSecondCountsAtOnce_data();
    void clockSetToAnotherSecondCountsAtOnce();
    void zeroTicksRunsNoEvent();
    void eventsRunDuringTheWait();
    void severalTicks();
    void arrivalStampsReadTheClockOnceASecond();
};

void TestPacedWait::whereInTheSecondItStarts_data()
{
    QTest::addColumn<int>("startMs");
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<int>("atMostMs");

    QTest::newRow("just before a change returns almost at once") << 980 << 0 << 150;
    QTest::newRow("just after a change waits about a second") << 20 << 900 << 1300;
    QTest::newRow("second 59 wraps to 0") << 59'900 << 50 << 300;
}

void TestPacedWait::whereInTheSecondItStarts()
{
    QFETCH(int, startMs);
    QFETCH(int, atLeastMs);
    QFETCH(int, atMostMs);

    FakeClock fake(QDateTime(someDay, QTime(10, 20, 0).addMSecs(startMs)));
    QElapsedTimer took;
    took.start();
    PacedWait(1, fake.clock());
    QVERIFY2(took.elapsed() >= atLeastMs && took.elapsed() <= atMostMs, qPrintable(QString::number(took.elapsed())));
}

void TestPacedWait::clockSetToAnotherSecondCountsAtOnce_data()
{
    QTest::addColumn<QTime>("setTo");
    QTest::newRow("forward") << QTime(10, 25, 7);
    QTest::newRow("backward") << QTime(9, 0, 3);
}

void TestPacedWait::clockSetToAnotherSecondCountsAtOnce()
{
    QFETCH(QTime, setTo);
    FakeClock fake(QDateTime(someDay, QTime(10, 20, 30)));
    fake.freeze();
    QElapsedTimer took;
    QTimer::singleShot(200, [&] {
        took.start();
        fake.set(QDateTime(someDay, setTo));
    });
    PacedWait(1, fake.clock());
    QVERIFY(took.isValid());
    QVERIFY2(took.elapsed() <= 30, qPrintable(QString::number(took.elapsed())));
}

void TestPacedWait::zeroTicksRunsNoEvent()
{
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QElapsedTimer took;
    took.start();
    PacedWait(0);
    QVERIFY(!ran);
    QVERIFY(took.elapsed() < 50);
    QTRY_VERIFY(ran);
}

void TestPacedWait::eventsRunDuringTheWait()
{
    FakeClock fake(QDateTime(someDay, QTime(10, 20, 30)));
    fake.freeze();
    int ticks = 0;
    QTimer other;
    QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
    other.start(10);
    QTimer::singleShot(300, [&] { fake.set(QDateTime(someDay, QTime(10, 20, 31))); });
    PacedWait(1, fake.clock());
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
}

void TestPacedWait::severalTicks()
{
    FakeClock fake(QDateTime(someDay, QTime(10, 20, 30)));
    fake.freeze();
    int changes = 0;
    QTimer stepper;
    QObject::connect(&stepper, &QTimer::timeout, [&] {
        ++changes;
        fake.set(QDateTime(someDay, QTime(10, 20, 30 + changes)));
    });
    stepper.start(50);
    PacedWait(3, fake.clock());
    QCOMPARE(changes, 3);
}

void TestPacedWait::arrivalStampsReadTheClockOnceASecond()
{
    FakeClock fake(QDateTime(someDay, QTime(10, 20, 30)));
    fake.freeze();
    int reads = 0;
    TimeOfDayStamp stamp([&] {
        ++reads;
        return fake.clock()();
    });
    QTime last = stamp.now();
    QCOMPARE(last, QTime(10, 20, 30));
    for (int i = 0; i < 1000; ++i) {
        const QTime now = stamp.now();
        QVERIFY(now >= last && now < QTime(10, 20, 31));
        last = now;
    }
    QCOMPARE(reads, 1);
    // A clock set anew shows within a second.
    fake.set(QDateTime(someDay, QTime(8, 0)));
    QTRY_VERIFY_WITH_TIMEOUT(stamp.now() < QTime(9, 0), 1500);
    QCOMPARE(reads, 2);
}

QTEST_GUILESS_MAIN(TestPacedWait)
#include "tst_pacedwait.moc"
