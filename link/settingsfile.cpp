#include "settingsfile.h"

#include "codepage.h"

#include <QFile>
#include <QFileInfo>

namespace settingsfile {
namespace {

constexpr qsizetype headLimit = 2 * maxLineLength + 4;

bool isBinary(QByteArrayView line)
{
    for (const char c : line) {
        if (quint8(c) < 0x20 && c != '\t')
            return true;
    }
    return false;
}

} // namespace

std::optional<QString> baudRateText(QByteArrayView head)
{
    QString baudRate = QString::fromLatin1(defaultBaudRateText);
    qsizetype pos = 0;
    for (int lineNumber = 0; lineNumber < 2 && pos < head.size(); ++lineNumber) {
        qsizetype end = pos;
        while (end < head.size() && head[end] != '\r' && head[end] != '\n')
            ++end;
        const QByteArrayView line = head.sliced(pos, end - pos);
        if (line.size() > maxLineLength || isBinary(line))
            return std::nullopt;
        baudRate = codepage::toUnicode(line);
        pos = end;
        if (pos < head.size() && head[pos] == '\r') {
            ++pos;
            if (pos < head.size() && head[pos] == '\n')
                ++pos;
        } else if (pos < head.size()) {
            ++pos; // LF
        }
    }
    return baudRate;
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

} // namespace settingsfile
