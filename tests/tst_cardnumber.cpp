// The card number rules without a window: lenient reading of the box, the random card
// numbers, padding for the card read, and the "@P" frame with its byte rounding.
#include "cardnumber.h"
#include "commandframes.h"

#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

QByteArray frameOf(quint8 high, quint8 low)
{
    return QByteArray("@P").append(char(high)).append(char(low)).append(QByteArray(21, '\0'));
}

} // namespace

class TestCardNumber : public QObject
{
    Q_OBJECT

private slots:
    void lenientValue_data();
    void lenientValue();
    void lenientValueLongDigitRuns_data();
    void lenientValueLongDigitRuns();
    void normalised_data();
    void normalised();
    void randomCardsFreshRun();
    void randomCardsRepeatPerRun();
    void randomCardsWholePeriod();
    void randomCardsSinglePrecision();
    void cardFrame_data();
    void cardFrame();
};

void TestCardNumber::lenientValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("plain") << "1000" << 1000.0;
    QTest::newRow("padded by the card read") << "0007" << 7.0;
    QTest::newRow("blanks everywhere") << " 1 2 3" << 123.0;
    QTest::newRow("tab and line feed inside") << "1\t2\n3" << 123.0;
    QTest::newRow("only blanks") << " \t\n " << 0.0;
    QTest::newRow("carriage return stops") << "12\r3" << 12.0;
    QTest::newRow("no-break space stops") << QStringLiteral("12\u00A03") << 12.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("minus sign") << "-5" << -5.0;
    QTest::newRow("blank after sign") << "- 5" << -5.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("two signs") << "+-5" << 0.0;
    QTest::newRow("sign after digits stops") << "5-3" << 5.0;
    QTest::newRow("decimal point") << "1.5" << 1.5;
    QTest::newRow("second point stops") << "1.5.3" << 1.5;
    QTest::newRow("comma is no point") << "1,5" << 1.0;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("trailing point") << "5." << 5.0;
    QTest::newRow("point alone") << "." << 0.0;
    QTest::newRow("negative fraction") << "-.25" << -0.25;
    QTest::newRow("exponent E") << "1E3" << 1000.0;
    QTest::newRow("exponent e") << "1e3" << 1000.0;
    QTest::newRow("exponent D") << "1D2" << 100.0;
    QTest::newRow("exponent d") << "1d2" << 100.0;
    QTest::newRow("negative exponent") << "25e-1" << 2.5;
    QTest::newRow("signed exponent") << "1e+2" << 100.0;
    QTest::newRow("blanks in exponent") << "1 e - 2" << 0.01;
    QTest::newRow("exponent without digits") << "1e" << 1.0;
    QTest::newRow("exponent with sign only") << "1e+" << 1.0;
    QTest::newRow("exponent then letters") << "7eab" << 7.0;
    QTest::newRow("exponent without mantissa") << "e5" << 0.0;
    QTest::newRow("fractional exponent stops") << "1e2.5" << 100.0;
    QTest::newRow("huge exponent") << "1e400" << infinity;
    QTest::newRow("huge negative") << "-1e400" << -infinity;
    QTest::newRow("exponent beyond any integer") << "1e99999999999999999999" << infinity;
    QTest::newRow("tiny exponent") << "1e-400" << 0.0;
    QTest::newRow("zero with huge exponent") << "0e99999" << 0.0;
    QTest::newRow("digits then letters") << "12abc" << 12.0;
    QTest::newRow("letters first") << "abc" << 0.0;
    QTest::newRow("Turkish letter stops") << QStringLiteral("12ş3") << 12.0;
    QTest::newRow("other script digits stop") << QStringLiteral("1\u0663") << 1.0;
    QTest::newRow("hex") << "&HFF" << 255.0;
    QTest::newRow("hex lower case") << "&hff" << 255.0;
    QTest::newRow("hex three digits") << "&H100" << 256.0;
    QTest::newRow("hex 16-bit top") << "&H7FFF" << 32767.0;
    QTest::newRow("hex 16-bit negative") << "&H8000" << -32768.0;
    QTest::newRow("hex all ones 16-bit") << "&HFFFF" << -1.0;
    QTest::newRow("hex leading zeros do not widen") << "&H0FFFF" << -1.0;
    QTest::newRow("hex five digits") << "&H10000" << 65536.0;
    QTest::newRow("hex 32-bit top") << "&H7FFFFFFF" << 2147483647.0;
    QTest::newRow("hex 32-bit negative") << "&H80000000" << -2147483648.0;
    QTest::newRow("hex all ones 32-bit") << "&HFFFFFFFF" << -1.0;
    QTest::newRow("hex beyond 32 bits") << "&H100000000" << infinity;
    QTest::newRow("hex far beyond 32 bits") << "&H" + QString(40, u'F') << infinity;
    QTest::newRow("hex blanks inside") << "& H 1 0" << 16.0;
    QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("hex has no point") << "&H1.8" << 1.0;
    QTest::newRow("hex E is a digit") << "&H1E2" << 482.0;
    QTest::newRow("sign before hex") << "-&H10" << 0.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal lower case") << "&o17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O18" << 1.0;
    QTest::newRow("octal 16-bit negative") << "&O100000" << -32768.0;
    QTest::newRow("octal all ones 16-bit") << "&O177777" << -1.0;
    QTest::newRow("octal past 16 bits") << "&O200000" << 65536.0;
    QTest::newRow("octal all ones 32-bit") << "&O37777777777" << -1.0;
    QTest::newRow("octal beyond 32 bits") << "&O40000000000" << infinity;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("ampersand other letter") << "&B101" << 0.0;
}

void TestCardNumber::lenientValue()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(cardnumber::lenientValue(text), value);
}

void TestCardNumber::lenientValueLongDigitRuns_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");

    QTest::newRow("thousand leading zeros") << QString(1000, u'0') + "42" << 42.0;
    QTest::newRow("thousand fraction digits") << "3." + QString(1000, u'3') << 10.0 / 3;
    QTest::newRow("thousand digits overflow") << QString(1000, u'9') << infinity;
    QTest::newRow("thousand digits and small exponent") << "1" + QString(999, u'0') + "e-990" << 1e9;
}

void TestCardNumber::lenientValueLongDigitRuns()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(cardnumber::lenientValue(text), value);
}

void TestCardNumber::normalised_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normal");

    QTest::newRow("one digit") << "7"
                               << "0007";
    QTest::newRow("three digits") << "123"
                                  << "0123";
    QTest::newRow("four digits kept") << "1234"
                                      << "1234";
    QTest::newRow("five digits kept") << "12345"
                                      << "12345";
    QTest::newRow("letters padded too") << "AB"
                                        << "00AB";
    QTest::newRow("blank counts") << " 1"
                                  << "00 1";
    QTest::newRow("empty") << ""
                           << "0000";
}

void TestCardNumber::normalised()
{
    QFETCH(QString, text);
    QFETCH(QString, normal);
    QCOMPARE(commandframes::zeroPadded(text), normal);
}

void TestCardNumber::randomCardsFreshRun()
{
    cardnumber::RandomCards cards;
    const QStringList expected = {"0353", "0267", "0290", "0145", "0151", "0388", "0008", "0381", "0408", "0355"};
    QStringList drawn;
    for (qsizetype i = 0; i < expected.size(); ++i)
        drawn.append(cards.nextText());
    QCOMPARE(drawn, expected);
}

void TestCardNumber::randomCardsRepeatPerRun()
{
    cardnumber::RandomCards first;
    cardnumber::RandomCards second;
    for (int i = 0; i < 1000; ++i)
        first.next();
    // A generator made later starts where every run starts, not where another one stands.
    QCOMPARE(second.next(), 353);
}

void TestCardNumber::randomCardsWholePeriod()
{
    // Every state of the 24-bit generator: numbers stay within 1..500, each one comes up,
    // and after the whole period the sequence starts over.
    constexpr int period = 1 << 24;
    cardnumber::RandomCards cards;
    QList<int> counts(502, 0);
    for (int i = 0; i < period; ++i) {
        const int r = cards.next();
        ++counts[std::clamp(r, 0, 501)];
    }
    QCOMPARE(counts[0], 0);
    QCOMPARE(counts[501], 0);
    QCOMPARE(std::count(counts.begin() + 1, counts.end() - 1, 0), 0);
    QCOMPARE(cards.next(), 353);
    QCOMPARE(cards.next(), 267);
}

void TestCardNumber::randomCardsSinglePrecision()
{
    // The run's 57437th state is 2415919: u × 500 is 71.9999969 exactly, 72 once rounded to
    // a float, so the draw is 73 where a double product would give 72.
    cardnumber::RandomCards cards;
    for (int i = 1; i < 57437; ++i)
        cards.next();
    QCOMPARE(cards.next(), 73);
}

void TestCardNumber::cardFrame_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<std::optional<QByteArray>>("frame");

    QTest::newRow("zero") << 0.0 << std::optional(frameOf(0x00, 0x00));
    QTest::newRow("negative zero") << -0.0 << std::optional(frameOf(0x00, 0x00));
    QTest::newRow("one thousand") << 1000.0 << std::optional(frameOf(0x03, 0xE8));
    QTest::newRow("twelve") << 12.0 << std::optional(frameOf(0x00, 0x0C));
    QTest::newRow("255") << 255.0 << std::optional(frameOf(0x00, 0xFF));
    QTest::newRow("256") << 256.0 << std::optional(frameOf(0x01, 0x00));
    QTest::newRow("65535") << 65535.0 << std::optional(frameOf(0xFF, 0xFF));
    QTest::newRow("half rounds to even up") << 1.5 << std::optional(frameOf(0x00, 0x02));
    QTest::newRow("half rounds to even down") << 2.5 << std::optional(frameOf(0x00, 0x02));
    QTest::newRow("below half rounds down") << 1.4 << std::optional(frameOf(0x00, 0x01));
    QTest::newRow("above half rounds up") << 1.6 << std::optional(frameOf(0x00, 0x02));
    QTest::newRow("low half stays in the byte") << 254.5 << std::optional(frameOf(0x00, 0xFE));
    QTest::newRow("fraction in the top byte") << 65535.4 << std::optional(frameOf(0xFF, 0xFF));
    QTest::newRow("low rounds to 256") << 255.5 << std::optional<QByteArray>();
    QTest::newRow("low rounds to 256 at the top") << 65535.5 << std::optional<QByteArray>();
    QTest::newRow("65536") << 65536.0 << std::optional<QByteArray>();
    QTest::newRow("999999") << 999999.0 << std::optional<QByteArray>();
    QTest::newRow("minus one") << -1.0 << std::optional<QByteArray>();
    // Any negative value has a high part of -1 or less, small as it may be.
    QTest::newRow("small negative") << -0.4 << std::optional<QByteArray>();
    QTest::newRow("smallest negative") << -std::numeric_limits<double>::denorm_min() << std::optional<QByteArray>();
    QTest::newRow("negative that divides to -0") << -1e-322 << std::optional<QByteArray>();
    QTest::newRow("smallest positive") << std::numeric_limits<double>::denorm_min() << std::optional(frameOf(0x00, 0x00));
    QTest::newRow("infinity") << infinity << std::optional<QByteArray>();
    QTest::newRow("negative infinity") << -infinity << std::optional<QByteArray>();
    QTest::newRow("not a number") << std::nan("") << std::optional<QByteArray>();
}

void TestCardNumber::cardFrame()
{
    QFETCH(double, value);
    QFETCH(std::optional<QByteArray>, frame);
    const std::optional<QByteArray> built = cardnumber::cardFrame(value);
    QCOMPARE(built.has_value(), frame.has_value());
    if (frame) {
        QCOMPARE(built->size(), 25);
        QCOMPARE(built->toHex(' '), frame->toHex(' '));
    }
}

QTEST_APPLESS_MAIN(TestCardNumber)
#include "tst_cardnumber.moc"
