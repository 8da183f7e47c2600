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
inline constexpr char messageEnd = '\0';
inline constexpr QByteArrayView companyNameCode = "@F";
inline constexpr QByteArrayView freeCommandCode = "@";
inline constexpr QByteArrayView setDate = "@D";
inline constexpr QByteArrayView setTime = "@T";
inline constexpr QByteArrayView cardFrameCode = "@P";
inline constexpr QByteArrayView dialPrefix = "ATDT";
inline constexpr QByteArrayView dialEnd = "\r\n";

// The counter assignment and the card read send their box at least this wide.
inline constexpr qsizetype paddedWidth = 4;
// "@P", the card value's two bytes, 21 NULs.
inline constexpr qsizetype cardFrameLength = 25;

// The whole length of a frame that has one, by its code; 0 for the others (typed text, the
// message's write, the dial string). What the far end needs to cut the line into frames.
qsizetype fixedLength(QByteArrayView frame);

QByteArray companyName(QByteArrayView name);
QByteArray freeCommand(QByteArrayView command);
QByteArray dial(QByteArrayView phoneNumber);

// `text` with "0"s in front up to four characters; longer text is kept. The counter
// assignment and the card read both send their box this way.
QString zeroPadded(const QString &text);

// A string of the single character with code `value`.
QByteArray byteField(quint8 value);

} // namespace commandframes
