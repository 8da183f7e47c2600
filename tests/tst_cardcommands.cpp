// The card read button and the card frame heading, at the far end of a pseudo-terminal:
// what reaches the line, what the card box and the console show, and what is refused.
#include "clickablelabel.h"
#include "harness.h"
#include "receiveconsole.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

const QString okNote = QStringLiteral("\r\nOK.\r\n");
const QString wrongCardNumber = QStringLiteral("Hatalı Kart Numarası");

QByteArray cardFrame(const QByteArray &valueBytes)
{
    return QByteArray("@P") + valueBytes + QByteArray(21, '\0');
}

} // namespace

class TestCardCommands : public QObject
{
    Q_OBJECT

private slots:
    void init() { writeSettingsFile(nullptr); }
    void cardRead_data();
    void cardRead();
    void cardReadTypedByTheOperator();
    void cardReadDrawsWhenEmpty();
    void cardFrameSent_data();
    void cardFrameSent();
    void cardFrameAfterCardRead();
    void cardFrameRefused_data();
    void cardFrameRefused();
    void failingWrite();
};

void TestCardCommands::cardRead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("one digit padded") << "7"
                                      << "0007" << QByteArray("0007");
    QTest::newRow("three digits padded") << "123"
                                         << "0123" << QByteArray("0123");
    QTest::newRow("four characters unchanged") << "4321"
                                               << "4321" << QByteArray("4321");
    QTest::newRow("five digits unchanged") << "12345"
                                           << "12345" << QByteArray("12345");
    QTest::newRow("six characters unchanged") << "000001"
                                              << "000001" << QByteArray("000001");
    QTest::newRow("letters padded without a digit check") << "AB"
                                                          << "00AB" << QByteArray("00AB");
    QTest::newRow("blank counts as a character") << " 5"
                                                 << "00 5" << QByteArray("00 5");
    QTest::newRow("Turkish letter in the code page") << QStringLiteral("ğ1") << QStringLiteral("00ğ1")
                                                     << QByteArray("00\xF0"
                                                                   "1");
}

void TestCardCommands::cardRead()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QFETCH(QByteArray, bytes);

    Form1Harness h;
    h.form->cardNumberBox->setText(text);
    h.click(h.form->cardReadButton);
    QCOMPARE(h.form->cardNumberBox->text(), shown);
    const QByteArray line = h.far.read(bytes.size());
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump(bytes));
}

void TestCardCommands::cardReadTypedByTheOperator()
{
    Form1Harness h;
    // The box takes six characters; the seventh never arrives.
    QTest::keyClicks(h.form->cardNumberBox, QStringLiteral("1234567"));
    h.click(h.form->cardReadButton);
    QCOMPARE(h.form->cardNumberBox->text(), QStringLiteral("123456"));
    const QByteArray line = h.far.read(6);
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump("123456"));
}

void TestCardCommands::cardReadDrawsWhenEmpty()
{
    Form1Harness h;
    h.click(h.form->cardReadButton);
    QCOMPARE(h.form->cardNumberBox->text(), QStringLiteral("0353"));
    QByteArray line = h.far.read(4);
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump("0353"));

    // A filled box draws nothing: the next draw is still the run's second number.
    h.click(h.form->cardReadButton);
    line = h.far.read(4);
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump("0353"));

    h.form->cardNumberBox->clear();
    h.click(h.form->cardReadButton);
    QCOMPARE(h.form->cardNumberBox->text(), QStringLiteral("0267"));
    line = h.far.read(4);
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump("0267"));
}

void TestCardCommands::cardFrameSent_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("valueBytes");

    QTest::newRow("1000") << "1000" << QByteArray("\x03\xE8");
    QTest::newRow("empty") << "" << QByteArray(2, '\0');
    QTest::newRow("non-numeric") << "kart" << QByteArray(2, '\0');
    QTest::newRow("65535") << "65535" << QByteArray("\xFF\xFF");
    QTest::newRow("256") << "256" << QByteArray("\x01\x00", 2);
    QTest::newRow("12abc") << "12abc" << QByteArray("\x00\x0C", 2);
    QTest::newRow("padded 0007") << "0007" << QByteArray("\x00\x07", 2);
    QTest::newRow("blanks skipped") << " 3 00" << QByteArray("\x01\x2C", 2);
    QTest::newRow("hex") << "&H1FF" << QByteArray("\x01\xFF", 2);
    QTest::newRow("exponent") << "1e3" << QByteArray("\x03\xE8");
    QTest::newRow("half rounds to even") << "2.5" << QByteArray("\x00\x02", 2);
}

void TestCardCommands::cardFrameSent()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, valueBytes);

    Form1Harness h;
    h.form->cardNumberBox->setText(text);
    const QString before = h.form->console->text();
    h.click(h.form->cardFrameHeading);

    const QByteArray frame = cardFrame(valueBytes);
    QCOMPARE(frame.size(), 25);
    const QByteArray line = h.far.read(frame.size());
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump(frame));
    QCOMPARE(h.form->console->text(), before + okNote);
    QCOMPARE(h.form->cardNumberBox->text(), text);
}

void TestCardCommands::cardFrameAfterCardRead()
{
    Form1Harness h;
    h.form->cardNumberBox->setText(QStringLiteral("7"));
    h.click(h.form->cardReadButton);
    QCOMPARE(hexDump(h.far.read(4)), hexDump("0007"));

    const QString before = h.form->console->text();
    h.click(h.form->cardFrameHeading);
    const QByteArray frame = cardFrame(QByteArray("\x00\x07", 2));
    const QByteArray line = h.far.read(frame.size());
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump(frame));
    QCOMPARE(h.form->console->text(), before + okNote);

    // What the terminal answers afterwards goes after the note.
    h.far.write("AB");
    QVERIFY(waitUntil([&] { return h.form->console->text() == before + okNote + "AB"; }));
}

void TestCardCommands::cardFrameRefused_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("999999") << "999999";
    QTest::newRow("-1") << "-1";
    QTest::newRow("65536") << "65536";
    QTest::newRow("low part rounds to 256") << "255.5";
    QTest::newRow("huge exponent") << "1e400";
}

void TestCardCommands::cardFrameRefused()
{
    QFETCH(QString, text);

    Form1Harness h;
    MessageBoxCatcher boxes;
    h.form->cardNumberBox->setText(text);
    const QString before = h.form->console->text();
    h.click(h.form->cardFrameHeading);

    QCOMPARE(boxes.texts, QStringList{wrongCardNumber});
    QCOMPARE(hexDump(h.far.readAll()), QString());
    QCOMPARE(h.form->console->text(), before);
    QCOMPARE(h.form->cardNumberBox->text(), text);
}

void TestCardCommands::failingWrite()
{
    Form1Harness h;
    MessageBoxCatcher boxes;
    h.far.hangUp();
    QVERIFY(waitUntil([&] { return !h.form->link().port().isOpen(); }));
    boxes.texts.clear();

    h.form->cardNumberBox->setText(QStringLiteral("7"));
    h.click(h.form->cardReadButton);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    // The padded number stands in the box before the write is tried.
    QCOMPARE(h.form->cardNumberBox->text(), QStringLiteral("0007"));

    boxes.texts.clear();
    h.form->cardNumberBox->setText(QStringLiteral("1000"));
    const QString before = h.form->console->text();
    h.click(h.form->cardFrameHeading);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    QCOMPARE(h.form->console->text(), before);
}

QTEST_MAIN(TestCardCommands)
#include "tst_cardcommands.moc"
