#include "cardnumber.h"

#include "commandframes.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace cardnumber {

namespace {

constexpr double byteRange = 256;

constexpr quint32 multiplier = 0x43FD43FD;
constexpr quint32 increment = 0xC39EC3;
constexpr quint32 stateMask = 0xFFFFFF;
constexpr float statePeriod = 0x1000000;
constexpr float drawRange = 500;

bool isSkipped(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isSign(char16_t c)
{
    return c == u'+' || c == u'-';
}

bool isExponentMark(char16_t c)
{
    return c == u'E' || c == u'e' || c == u'D' || c == u'd';
}

// -1 for a character that is no digit of `base`.
int digitValue(char16_t c, int base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c - u'0';
    else if (c >= u'A' && c <= u'F')
        value = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f')
        value = c - u'a' + 10;
    return value < base ? value : -1;
}

// The text's characters one at a time, blanks, tabs and line feeds left out.
class Characters
{
public:
    explicit Characters(QStringView text) : m_text(text) {}

    // u'\0' at the end; a NUL in the text ends a number just the same.
    char16_t peek()
    {
        while (m_pos < m_text.size() && isSkipped(m_text[m_pos].unicode()))
            ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos].unicode() : u'\0';
    }
    void take() { ++m_pos; }

    // Moves the decimal digits that follow onto `number`; returns how many there were.
    qsizetype takeDigits(QString &number)
    {
        qsizetype count = 0;
        for (char16_t c = peek(); digitValue(c, 10) >= 0; c = peek(), ++count) {
            number.append(QChar(c));
            take();
        }
        return count;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

double prefixedValue(Characters &in, int base)
{
    constexpr quint64 widest = 0xFFFFFFFF;
    constexpr quint64 widest16 = 0xFFFF;
    // Saturates just past 32 bits, however many digits follow.
    quint64 value = 0;
    for (int digit = digitValue(in.peek(), base); digit >= 0; digit = digitValue(in.peek(), base)) {
        value = std::min(value * base + quint64(digit), widest + 1);
        in.take();
    }
    if (value > widest)
        return std::numeric_limits<double>::infinity();
    if (value <= widest16)
        return qint16(quint16(value));
    return qint32(quint32(value));
}

double decimalValue(Characters &in)
{
    QString number;
    if (isSign(in.peek())) {
        number.append(QChar(in.peek()));
        in.take();
    }
    qsizetype digits = in.takeDigits(number);
    if (in.peek() == u'.') {
        number.append(u'.');
        in.take();
        digits += in.takeDigits(number);
    }
    if (digits == 0)
        return 0;

    if (isExponentMark(in.peek())) {
        in.take();
        QString exponent = QStringLiteral("e");
        if (isSign(in.peek())) {
            exponent.append(QChar(in.peek()));
            in.take();
        }
        if (in.takeDigits(exponent) > 0)
            number.append(exponent);
    }
    // Well formed by construction; out of double's range it gives an infinity or 0.
    return QLocale::c().toDouble(number);
}

} // namespace

double lenientValue(QStringView text)
{
    Characters in(text);
    if (in.peek() != u'&')
        return decimalValue(in);
    in.take();
    const char16_t base = in.peek();
    in.take();
    if (base == u'H' || base == u'h')
        return prefixedValue(in, 16);
    if (base == u'O' || base == u'o')
        return prefixedValue(in, 8);
    return 0;
}

std::optional<QByteArray> cardFrame(double value)
{
    const double high = std::floor(value / byteRange);
    // Halves go to the even neighbour: the default rounding mode, which nothing here changes.
    const double low = std::nearbyint(value - high * byteRange);
    const auto isByte = [](double part) { return part >= 0 && part <= 255; };
    // Below 256 times the smallest double, a negative value divides to -0, whose floor is
    // -0 and not the -1 of a negative value's high part.
    if (value < 0 || !isByte(high) || !isByte(low))
        return std::nullopt;
    return commandframes::cardFrameCode.toByteArray()
        .append(char(quint8(high)))
        .append(char(quint8(low)))
        .leftJustified(commandframes::cardFrameLength, '\0');
}

int RandomCards::next()
{
    m_state = (m_state * multiplier + increment) & stateMask;
    // The draw is in single precision throughout: the state fits a float's mantissa exactly,
    // and the product rounds as a float before its whole part is taken.
    const float u = float(m_state) / statePeriod;
    const float scaled = u * drawRange;
    return int(std::floor(scaled)) + 1;
}

QString RandomCards::nextText()
{
    return commandframes::zeroPadded(QString::number(next()));
}

} // namespace cardnumber
