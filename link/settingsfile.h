#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// The optional file beside the program whose first two lines name the baud rate.
namespace settingsfile {

inline constexpr char fileName[] = "Vxl00.Def";
inline constexpr char defaultBaudRateText[] = "4800";
// A real baud-rate line is a handful of characters; anything longer is not a settings file.
inline constexpr qsizetype maxLineLength = 1024;

// Baud rate text of a file whose first bytes are `head` (the whole file, or its first
// 2 * maxLineLength + 4 bytes): the last of its first two lines, or the default for an
// empty file. Lines end in CR LF, LF or CR. nullopt when the head is not text or a line
// is too long: such a file counts as absent.
std::optional<QString> baudRateText(QByteArrayView head);

// The baud rate text for the file at `path`; a missing, unreadable or non-text file,
// or a directory of that name, gives the default.
QString readBaudRateText(const QString &path);

} // namespace settingsfile
