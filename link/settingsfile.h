#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// The optional file whose first two lines name the baud rate: beside the program, else in
// the user's or the machine's configuration folder.
namespace settingsfile {

inline constexpr char fileName[] = "Vxl00.Def";
inline constexpr char defaultBaudRateText[] = "4800";
// How far each of the first two lines is followed, so that reading stays bounded.
inline constexpr qsizetype maxLineLength = 64 * 1024;
// Enough of any file to decide its baud rate text.
inline constexpr qsizetype headLimit = 2 * maxLineLength + 4;
// DOS editors end a text file with this byte; nothing after it belongs to the file.
inline constexpr char endOfFileMark = '\x1a';

// Baud rate text of a file whose first bytes are `head` (the whole file, or its first
// headLimit bytes): the last of its first two lines, or the default for an empty file.
// Lines end in CR LF, LF or CR. The line goes to the port as it stands, control characters
// and length included: the port refuses what is no baud rate (380), so the operator sees the
// fault instead of a silent 4800. nullopt when either line runs past maxLineLength; such a
// file counts as absent.
std::optional<QString> baudRateText(QByteArrayView head);

// The baud rate text for the file at `path`; a missing or unreadable file, one whose
// lines run past the limit, or a directory of that name, gives the default.
QString readBaudRateText(const QString &path);

// The program's configuration folders, the user's first ($XDG_CONFIG_HOME/terminal-kontrol,
// then each of $XDG_CONFIG_DIRS, /etc/xdg by default; on Windows %APPDATA%\terminal-kontrol,
// then %PROGRAMDATA%\terminal-kontrol): the installed program's own folder belongs to root
// (the administrators), so an operator's files live there.
QStringList configFolders();

// The settings file in use: the first of beside the program, then each configuration
// folder, that is an ordinary file; the one beside the program when there is none.
QString locate(const QString &programDir);

} // namespace settingsfile
