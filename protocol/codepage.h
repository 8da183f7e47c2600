#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// The terminal and the operator's texts share one single-byte code page, Windows-1254 (Turkish).
// Every byte maps to exactly one character and back, so frames keep their length.
namespace codepage {

// Each byte becomes one character; bytes Windows-1254 leaves undefined become their C1 controls.
QString toUnicode(QByteArrayView bytes);
QChar toUnicode(char byte);

// Each character becomes one byte; a character the code page cannot represent becomes '?'.
QByteArray fromUnicode(QStringView text);

// The bytes of `text` when the code page has every one of its characters.
std::optional<QByteArray> fromUnicodeExactly(QStringView text);

} // namespace codepage
