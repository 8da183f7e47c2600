// Each command button's bytes at the far end of a pseudo-terminal, the message sequence
// with its wait, and what a refused write does to a click's sequence.
#include "fakeclock.h"
#include "harness.h"
#include "receiveconsole.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
const QDateTime midSecond(QDate(2026, 12, 4), QTime(10, 20, 30));
const QByteArray firstHalf("@L\0\1", 4);

QByteArray secondHalf(const QByteArray &text)
{
    return QByteArray("@W") + text + QByteArray(1, '\0');
}
} // namespace

class TestCommandFrames : public QObject
{
    Q_OBJECT

private slots:
    void init() { writeSettingsFile(nullptr); }
    void buttonFrames_data();
    void buttonFrames();
    void accessKeySendsAtOnce();
    void counterBoxShowsPaddedValue_data();
    void counterBoxShowsPaddedValue();
    void freeCommandLeavesPollAlone();
    void repeatedClicksRepeatFrames();
    void refusedWriteEndsTheSequence();
    void messageTextTypedDuringTheWait();
    void otherButtonBetweenTheHalves();
    void secondMessageInsideTheFirst();
    void messageClickStorm();
    void consoleFillsDuringTheWait();
    void windowClosedDuringTheWait();
    void deviceLostDuringTheWait();
};

void TestCommandFrames::buttonFrames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("access") << "Command17"
                            << ""
                            << "" << QByteArray("@A");
    QTest::newRow("reset") << "Command19"
                           << ""
                           << "" << QByteArray("@V");
    QTest::newRow("information") << "Command10"
                                 << ""
                                 << "" << QByteArray("@S");
    QTest::newRow("card counter read") << "Command11"
                                       << ""
                                       << "" << QByteArray("@K");
    QTest::newRow("card counter zero") << "Command5"
                                       << ""
                                       << "" << QByteArray("@Z");
    QTest::newRow("company name empty") << "Command1"
                                        << "Text6"
                                        << "" << QByteArray("@F");
    QTest::newRow("company name Turkish") << "Command1"
                                          << "Text6" << QStringLiteral("Şeker Ağ")
                                          << QByteArray("@F\xDE"
                                                        "eker A\xF0");
    QTest::newRow("company name full length") << "Command1"
                                              << "Text6" << QString(20, u'Z') << QByteArray("@F") + QByteArray(20, 'Z');
    QTest::newRow("company name unrepresentable") << "Command1"
                                                  << "Text6" << QStringLiteral("a\u4E2Db") << QByteArray("@Fa?b");
    QTest::newRow("counter empty") << "Command14"
                                   << "Text11"
                                   << "" << QByteArray("@I0000");
    QTest::newRow("counter 7") << "Command14"
                               << "Text11"
                               << "7" << QByteArray("@I0007");
    QTest::newRow("counter letters") << "Command14"
                                     << "Text11"
                                     << "ab" << QByteArray("@I00ab");
    QTest::newRow("counter four characters") << "Command14"
                                             << "Text11"
                                             << "1234" << QByteArray("@I1234");
    QTest::newRow("dial empty") << "Command18"
                                << "Text10"
                                << "" << QByteArray("ATDT\r\n");
    QTest::newRow("dial number") << "Command18"
                                 << "Text10"
                                 << "0,2125551234" << QByteArray("ATDT0,2125551234\r\n");
    QTest::newRow("free command empty") << "Command9"
                                        << "Text3"
                                        << "" << QByteArray("@");
    QTest::newRow("free command S") << "Command9"
                                    << "Text3"
                                    << "S" << QByteArray("@S");
    QTest::newRow("free command long") << "Command9"
                                       << "Text3" << QString(300, u'ü') << QByteArray("@") + QByteArray(300, '\xFC');
    QTest::newRow("free command past 32767") << "Command9"
                                             << "Text3" << QString(40000, u'y') << QByteArray("@") + QByteArray(40000, 'y');
    QTest::newRow("dial past 32767") << "Command18"
                                     << "Text10" << QString(40000, u'9') << "ATDT" + QByteArray(40000, '9') + "\r\n";
    QTest::newRow("message empty") << "Command6"
                                   << "Text4"
                                   << "" << firstHalf + secondHalf("");
    QTest::newRow("message full length") << "Command6"
                                         << "Text4" << QStringLiteral("İYİ GÜNLER ÇÖŞ")
                                         << firstHalf + secondHalf("\xDDY\xDD G\xDCNLER \xC7\xD6\xDE");
}

void TestCommandFrames::buttonFrames()
{
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);

    // Started just before a second ends, the message's wait is short.
    FakeClock fake(midSecond.addMSecs(950));
    Form1Harness h(5, fake.clock());
    if (!box.isEmpty())
        h.form->findChild<QLineEdit *>(box)->setText(typed);
    h.click(h.form->findChild<QPushButton *>(button));
    QCOMPARE(hexDump(h.far.readWithExtras(bytes.size())), hexDump(bytes));
}

void TestCommandFrames::accessKeySendsAtOnce()
{
    Form1Harness h;
    h.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.form));
    QSignalSpy clicked(h.form->informationButton, &QPushButton::clicked);
    QTest::keyClick(h.form->windowHandle(), Qt::Key_T, Qt::AltModifier);
    // The key itself clicks, with no turn of the event loop (the toolkit's press animation) between.
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(hexDump(h.far.read(2)), hexDump("@S"));
}

void TestCommandFrames::counterBoxShowsPaddedValue_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << ""
                           << "0000";
    QTest::newRow("one digit") << "7"
                               << "0007";
    QTest::newRow("four characters unchanged") << "9876"
                                               << "9876";
}

void TestCommandFrames::counterBoxShowsPaddedValue()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    Form1Harness h;
    h.form->counterBox->setText(typed);
    h.click(h.form->counterAssignButton);
    QCOMPARE(h.form->counterBox->text(), shown);
    QCOMPARE(h.far.read(6).size(), 6);
}

void TestCommandFrames::freeCommandLeavesPollAlone()
{
    Form1Harness h;
    h.form->link().setReceiving(false);
    h.form->commandBox->setText(QStringLiteral("S"));
    h.click(h.form->commandButton);
    QCOMPARE(hexDump(h.far.read(2)), hexDump("@S"));
    QVERIFY(!h.form->link().isReceiving());
    h.click(h.form->informationButton);
    QCOMPARE(hexDump(h.far.read(2)), hexDump("@S"));
    QVERIFY(h.form->link().isReceiving());
}

void TestCommandFrames::repeatedClicksRepeatFrames()
{
    Form1Harness h;
    for (int i = 0; i < 3; ++i)
        h.click(h.form->resetButton);
    h.click(h.form->accessButton);
    QCOMPARE(hexDump(h.far.readWithExtras(8)), hexDump("@V@V@V@A"));
}

void TestCommandFrames::refusedWriteEndsTheSequence()
{
    Form1Harness h;
    h.far.hangUp();
    QVERIFY(waitUntil([&] { return !h.form->link().port().isOpen(); }));
    MessageBoxCatcher boxes;
    h.click(h.form->counterAssignButton);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    // "@I" failed before the box was read, so the box is left as typed.
    QCOMPARE(h.form->counterBox->text(), QString());
    h.click(h.form->messageButton);
    QCOMPARE(boxes.texts.size(), 2);
}

void TestCommandFrames::messageTextTypedDuringTheWait()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    h.form->messageBox->setText(QStringLiteral("before"));
    QTimer::singleShot(100, [&] {
        h.form->messageBox->clear();
        QTest::keyClicks(h.form->messageBox, QStringLiteral("typed"));
        fake.set(midSecond.addSecs(1));
    });
    h.click(h.form->messageButton);
    QCOMPARE(hexDump(h.far.readWithExtras(4 + 8)), hexDump(firstHalf + secondHalf("typed")));
}

void TestCommandFrames::otherButtonBetweenTheHalves()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    QTimer::singleShot(100, [&] {
        h.click(h.form->accessButton);
        fake.set(midSecond.addSecs(1));
    });
    h.click(h.form->messageButton);
    QCOMPARE(hexDump(h.far.readWithExtras(4 + 2 + 3)), hexDump(firstHalf + "@A" + secondHalf("")));
}

void TestCommandFrames::secondMessageInsideTheFirst()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    h.form->messageBox->setText(QStringLiteral("1"));
    QTimer::singleShot(100, [&] {
        h.form->messageBox->setText(QStringLiteral("2"));
        QTimer::singleShot(100, [&] { fake.set(midSecond.addSecs(1)); });
        h.click(h.form->messageButton);
    });
    h.click(h.form->messageButton);
    // The inner sequence runs whole inside the outer one's wait; both then send the box as it is.
    QCOMPARE(hexDump(h.far.readWithExtras(16)), hexDump(firstHalf + firstHalf + secondHalf("2") + secondHalf("2")));
}

void TestCommandFrames::messageClickStorm()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    constexpr int clicks = 3000;
    int clicked = 0;
    QTimer storm;
    // Posted, as the window system's clicks are, so that each one arrives inside the waits.
    QObject::connect(&storm, &QTimer::timeout, [&] {
        QMetaObject::invokeMethod(h.form->messageButton, &QPushButton::click, Qt::QueuedConnection);
        if (++clicked == clicks) {
            storm.stop();
            fake.set(midSecond.addSecs(1));
        }
    });
    storm.start(0);
    h.click(h.form->messageButton);
    QCOMPARE(clicked, clicks);
    QCOMPARE(hexDump(h.far.readWithExtras((clicks + 1) * 7)),
             hexDump(firstHalf.repeated(clicks + 1) + secondHalf("").repeated(clicks + 1)));
}

void TestCommandFrames::consoleFillsDuringTheWait()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    QString seenDuringWait;
    // The wait lasts until the clock is set: the reply must show before that.
    QTimer::singleShot(50, [&] {
        h.far.write("reply");
        waitUntil([&] { return h.form->console->text().endsWith(u"reply"); });
        seenDuringWait = h.form->console->text();
        fake.set(midSecond.addSecs(1));
    });
    h.click(h.form->messageButton);
    QCOMPARE(seenDuringWait, QStringLiteral("Baud Rate : 4800\r\nreply"));
}

void TestCommandFrames::windowClosedDuringTheWait()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    MessageBoxCatcher boxes;
    QTimer::singleShot(100, [&] {
        h.form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        fake.set(midSecond.addSecs(1));
    });
    h.click(h.form->messageButton);
    QVERIFY(!h.form);
    QCOMPARE(hexDump(h.far.readAll()), hexDump(firstHalf));
    QCOMPARE(boxes.texts, QStringList());
}

void TestCommandFrames::deviceLostDuringTheWait()
{
    FakeClock fake(midSecond);
    fake.freeze();
    Form1Harness h(5, fake.clock());
    MessageBoxCatcher boxes;
    QTimer::singleShot(100, [&] {
        h.far.hangUp();
        QTimer::singleShot(100, [&] { fake.set(midSecond.addSecs(1)); });
    });
    h.click(h.form->messageButton);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    QVERIFY(h.form->isVisible());
}

QTEST_MAIN(TestCommandFrames)
#include "tst_commandframes.moc"
