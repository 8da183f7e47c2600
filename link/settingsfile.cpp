#include "settingsfile.h"

#include "codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace settingsfile {

std::optional<QString> baudRateText(QByteArrayView head)
{
    // Editors that save UTF-8 may put a byte-order mark first; it is no part of the line.
    if (head.startsWith("\xEF\xBB\xBF"))
        head = head.sliced(3);
    if (const qsizetype mark = head.indexOf(endOfFileMark); mark >= 0)
        head = head.first(mark);
    std::optional<QByteArrayView> lastLine;
    qsizetype pos = 0;
    for (int lineNumber = 0; lineNumber < 2 && pos < head.size(); ++lineNumber) {
        qsizetype end = pos;
        while (end < head.size() && head[end] != '\r' && head[end] != '\n')
            ++end;
        lastLine = head.sliced(pos, end - pos);
        if (lastLine->size() > maxLineLength)
            return std::nullopt;
        pos = end;
        if (pos < head.size() && head[pos] == '\r') {
            ++pos;
            if (pos < head.size() && head[pos] == '\n')
                ++pos;
        } else if (pos < head.size()) {
            ++pos; // LF
        }
    }
    if (!lastLine)
        return QString::fromLatin1(defaultBaudRateText);
    return codepage::toUnicode(*lastLine);
}

QString readBaudRateText(const QString &path)
{
    const QString fallback = QString::fromLatin1(defaultBaudRateText);
    if (!QFileInfo(path).isFile())
        return fallback;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fallback;
    const QByteArray head = file.read(headLimit);
    return baudRateText(head).value_or(fallback);
}

QStringList configFolders()
{
#ifdef Q_OS_WIN
    // The user's roaming folder, then the machine's.
    QStringList folders;
    for (const char *variable : {"APPDATA", "PROGRAMDATA"}) {
        const QString base = qEnvironmentVariable(variable);
        if (QDir::isAbsolutePath(base))
            folders << QDir(base).filePath(QStringLiteral("terminal-kontrol"));
    }
    return folders;
#else
    // Not QStandardPaths: it takes a relative folder from the environment, which the XDG rules
    // say to ignore (it would depend on where the program was started).
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    QStringList bases{QDir::isAbsolutePath(home) ? home : QDir::homePath() + QStringLiteral("/.config")};
    const qsizetype machine = bases.size();
    for (const QString &base : qEnvironmentVariable("XDG_CONFIG_DIRS").split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(base))
            bases << base;
    }
    if (bases.size() == machine)
        bases << QStringLiteral("/etc/xdg");
    QStringList folders;
    for (const QString &base : std::as_const(bases))
        folders << QDir(base).filePath(QStringLiteral("terminal-kontrol"));
    return folders;
#endif
}

QString locate(const QString &programDir)
{
    const QString beside = QDir(programDir).filePath(QLatin1String(fileName));
    if (QFileInfo(beside).isFile())
        return beside;
    for (const QString &folder : configFolders()) {
        const QString path = QDir(folder).filePath(QLatin1String(fileName));
        if (QFileInfo(path).isFile())
            return path;
    }
    return beside;
}

} // namespace settingsfile
