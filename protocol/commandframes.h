#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The fixed commands and the frames built around typed text. Typed text arrives here
// already in the terminal's code page (codepage::fromUnicode), one byte per character.
namespace commandframes {

inline constexpr QByteArrayView readInformation = "@S";
inline constexpr QByteArrayView readCardCounter = "@K";
inline constexpr QByteArrayView assignCardCounter = "@I";
inline constexpr QByteArrayView zeroCardCounter = "@Z";
inline constexpr QByteArrayView access = "@A";
inline constexpr QByteArrayView reset = "@V";
inline constexpr QByteArrayView messageLoad = "@L";
inline constexpr QByteArrayView messageWrite = "@W";

QByteArray companyName(QByteArrayView name);
QByteArray freeCommand(QByteArrayView command);
QByteArray dial(QByteArrayView phoneNumber);

// `text` with "0"s in front up to four characters; longer text is kept. The counter
// assignment and the card read both send their box this way.
QString zeroPadded(const QString &text);

// A string of the single character with code `value`.
QByteArray byteField(quint8 value);

} // namespace commandframes
