// The card number box read leniently, and the card frame and card-read text made from it.
// Each text is read a second time, by a pattern for the decimal form with the C library's
// conversion, or by the library's integer conversion for "&H" and "&O"; both readings must
// agree. Blanks put anywhere, a stop and anything after it, and a sign in front must change
// the value only as the rule says.
#include "cardnumber.h"
#include "commandframes.h"
#include "fuzzcheck.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

using fuzzcheck::require;

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double largestCardValue = 65535;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The text as the second reading sees it: blanks gone, and every character beyond ASCII,
// none of which can continue a number, as '?' so that the pattern always meets valid UTF-16.
QString readableForm(QStringView text)
{
    QString kept;
    for (const QChar c : text) {
        if (!isBlank(c))
            kept.append(c.unicode() < 0x80 ? c : QChar(u'?'));
    }
    return kept;
}

double prefixedReference(QStringView digits, int base)
{
    while (digits.startsWith(u'0'))
        digits = digits.sliced(1);
    const qsizetype widest = base == 16 ? 8 : 11;
    if (digits.size() > widest)
        return infinity;
    const quint64 value = digits.isEmpty() ? 0 : digits.toULongLong(nullptr, base);
    if (value > 0xFFFFFFFF)
        return infinity;
    if (value <= 0xFFFF)
        return qint16(quint16(value));
    return qint32(quint32(value));
}

double referenceValue(QStringView text)
{
    static const QRegularExpression decimal(QStringLiteral("^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?"));
    static const QRegularExpression hex(QStringLiteral("^&[Hh]([0-9A-Fa-f]*)"));
    static const QRegularExpression octal(QStringLiteral("^&[Oo]([0-7]*)"));

    const QString readable = readableForm(text);
    if (readable.startsWith(u'&')) {
        if (const auto match = hex.match(readable); match.hasMatch())
            return prefixedReference(match.capturedView(1), 16);
        if (const auto match = octal.match(readable); match.hasMatch())
            return prefixedReference(match.capturedView(1), 8);
        return 0;
    }
    const auto match = decimal.match(readable);
    if (!match.hasMatch())
        return 0;
    // The C library knows no D exponent; no locale is set here, so its point is ".".
    QByteArray number = match.captured().toLatin1();
    number.replace('d', 'e').replace('D', 'e');
    return std::strtod(number.constData(), nullptr);
}

QChar firstShown(QStringView text)
{
    for (const QChar c : text) {
        if (!isBlank(c))
            return c;
    }
    return QChar(u'\0');
}

// A blank, a tab or a line feed before each position the bytes name.
QString withBlanks(const QString &text, QByteArrayView places)
{
    static constexpr char16_t blanks[] = {u' ', u'\t', u'\n'};
    QString spread = text;
    for (const char place : places) {
        const auto byte = quint8(place);
        spread.insert(byte % (spread.size() + 1), QChar(blanks[byte % 3]));
    }
    return spread;
}

void checkFrame(double value)
{
    const std::optional<QByteArray> frame = cardnumber::cardFrame(value);
    const bool whole = std::trunc(value) == value;
    if (whole && value >= 0 && value <= largestCardValue)
        require(frame.has_value(), "every whole value 0..65535 has a frame");
    if (!frame)
        return;
    require(frame->size() == 25, "a frame is 25 bytes");
    require(frame->startsWith("@P"), "a frame starts with \"@P\"");
    require(frame->sliced(4) == QByteArray(21, '\0'), "a frame ends in 21 NULs");
    const double carried = quint8(frame->at(2)) * 256.0 + quint8(frame->at(3));
    require(!std::signbit(value) || value == 0, "no frame for a negative value");
    require(carried == std::nearbyint(value), "the frame carries the value rounded, halves to even");
}

void checkNormalised(const QString &text)
{
    const QString normal = commandframes::zeroPadded(text);
    require(normal.size() == std::max<qsizetype>(4, text.size()), "at least four characters, no more than needed");
    require(normal.endsWith(text), "the text itself at the end");
    require(normal.chopped(text.size()).count(u'0') == normal.size() - text.size(), "only zeros in front");
}

void checkText(const QString &text, QByteArrayView places)
{
    const double value = cardnumber::lenientValue(text);
    require(!std::isnan(value), "a value or an infinity, never NaN");
    require(value == referenceValue(text), "the same value as the second reading");
    require(cardnumber::lenientValue(withBlanks(text, places)) == value, "blanks anywhere change nothing");
    require(cardnumber::lenientValue(text + u'\r' + text) == value, "reading stops at a carriage return");

    const QChar first = firstShown(text);
    const bool canStart =
        first == u'&' || first == u'+' || first == u'-' || first == u'.' || (first >= u'0' && first <= u'9');
    if (!canStart)
        require(value == 0, "a text that starts with no number reads 0");
    if (first == u'.' || (first >= u'0' && first <= u'9')) {
        require(cardnumber::lenientValue(u'-' + text) == -value, "a minus in front negates");
        require(cardnumber::lenientValue(u'+' + text) == value, "a plus in front changes nothing");
    }

    checkFrame(value);
    checkNormalised(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QByteArrayView places = bytes.first(std::min<qsizetype>(bytes.size(), 8));

    // What an operator types is mostly ASCII; the whole of UTF-16 comes second.
    checkText(QString::fromLatin1(bytes), places);
    QString wide(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(wide.data(), data, size / 2 * 2);
    checkText(wide, places);

    // The frame alone: any double the bytes make, and quarters from -1 to 69999 for the halves
    // and the edges of the bytes.
    if (size >= sizeof(double)) {
        double any = 0;
        std::memcpy(&any, data, sizeof any);
        checkFrame(any);
        quint32 bits = 0;
        std::memcpy(&bits, data, sizeof bits);
        checkFrame(double(bits % 280'000) / 4 - 1);
    }
    return 0;
}
