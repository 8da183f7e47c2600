#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// The card number box's two commands: the card read (bare text) and the "@P" card frame.
namespace cardnumber {

// Reads the number at the start of `text` the lenient way operators expect of the box:
// - blanks, tabs and line feeds are skipped wherever they stand (" 1 2 3" reads 123);
// - one optional sign, digits, one "." as the decimal point whatever the locale, and an
//   exponent led by E or D in either case ("1e3", "1D2"); an exponent without digits is
//   no exponent ("1e" reads 1);
// - "&H" (hex) or "&O" (octal) in either case, then digits, as the classic integer literals:
//   a value up to FFFF reads as a signed 16-bit number, up to FFFFFFFF as a signed 32-bit one
//   ("&HFFFF" reads -1, "&H10000" 65536); leading zeros do not count. A sign before "&" is not
//   part of such a number;
// - reading stops at the first character that cannot continue the number ("12abc" reads 12);
//   text without a leading number, "" and "-" among them, reads 0.
// A number too large for a double, including a prefixed one beyond 32 bits, reads as an
// infinity, which no card value accepts; one too small to tell from 0 reads 0.
double lenientValue(QStringView text);

// "@P", high and low byte of the card value, 21 NULs. std::nullopt when either byte, after
// rounding halves to even, falls outside 0..255: the value is negative (-0 is not), 65536
// or more, or its low part rounds up to 256 ("255.5").
std::optional<QByteArray> cardFrame(double value);

// The card read's random numbers, 1 to 500: a 24-bit linear congruential generator with a
// fixed seed, so every run of the program draws the same sequence.
class RandomCards
{
public:
    int next();
    // The next number as the card read shows it, "0001" to "0500".
    QString nextText();

private:
    static constexpr quint32 seed = 0x50000;
    quint32 m_state = seed;
};

} // namespace cardnumber
