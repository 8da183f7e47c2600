#include "settingsfile.h"

#include "codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace settingsfile {

std::optional<QString> baudRateText(QByteArrayView head)
{
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
    // Not AppConfigLocation: the window and its companions carry different application names.
    QStringList folders;
    for (const QString &base : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        folders << QDir(base).filePath(QStringLiteral("terminal-kontrol"));
    return folders;
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
