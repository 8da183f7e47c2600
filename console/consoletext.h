#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// How the console shows its text. The console keeps the received characters exactly;
// on screen a CR LF pair is one line break and every other control character is drawn
// as a visible picture, so nothing that follows it is hidden or cut off.
namespace consoletext {

inline constexpr char16_t lineBreak = u'\n';

// The picture of one character that has no visible form of its own, or the character itself.
QChar visibleForm(QChar ch);

// The shown form of `text`: CR LF pairs become lineBreak, controls their pictures.
QString displayText(QStringView text);

// Bytes in one row of the byte view.
inline constexpr qsizetype bytesPerRow = 16;
// Character cells a byte takes in a row's hex part: two digits and a space.
inline constexpr qsizetype hexCells = 3;
// Where the characters start in a row of the byte view, in character cells.
inline constexpr qsizetype byteRowTextColumn = hexCells * bytesPerRow + 1;

// One row of the byte view, as hex viewers show it: each byte in hex, then each byte as its
// character, or '.' for one that has no visible form. Up to bytesPerRow bytes.
QString byteRow(QByteArrayView windows1254);
// The same row written at `out`, which has room for byteRowLength(windows1254.size()) characters,
// so that many rows can fill one string made at its final size.
inline constexpr qsizetype byteRowLength(qsizetype bytes)
{
    return byteRowTextColumn + bytes;
}
void writeByteRow(QChar *out, QByteArrayView windows1254);

} // namespace consoletext
