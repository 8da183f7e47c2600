// Any settings file: the baud rate text is the last of the first two lines or the default,
// never a line end but every other byte as it stands, and the file read from disk (only its head)
// gives what the whole of it gives.
#include "codepage.h"
#include "fuzzcheck.h"
#include "settingsfile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// The same rule, read off the file in another way: past a byte-order mark, cut at the
// end-of-file mark, every line end made LF, then split.
std::optional<QString> expectedBaudRateText(QByteArrayView file)
{
    if (file.startsWith("\xEF\xBB\xBF"))
        file = file.sliced(3);
    if (const qsizetype mark = file.indexOf(settingsfile::endOfFileMark); mark >= 0)
        file.truncate(mark);
    if (file.isEmpty())
        return QString::fromLatin1(settingsfile::defaultBaudRateText);
    QByteArray normalized = file.toByteArray().replace("\r\n", "\n").replace('\r', '\n');
    if (normalized.endsWith('\n'))
        normalized.chop(1);
    QByteArrayList lines = normalized.split('\n');
    if (lines.size() > 2)
        lines.resize(2);
    if (std::any_of(lines.begin(), lines.end(),
                    [](const QByteArray &line) { return line.size() > settingsfile::maxLineLength; }))
        return std::nullopt;
    return codepage::toUnicode(lines.last());
}

QString diskPath()
{
    static QTemporaryDir dir;
    return dir.filePath(QLatin1String(settingsfile::fileName));
}

QString readFromDisk(QByteArrayView content)
{
    QFile file(diskPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write the file");
    file.write(content.data(), content.size());
    file.close();
    return settingsfile::readBaudRateText(diskPath());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView file(data, qsizetype(size));
    const std::optional<QString> text = settingsfile::baudRateText(file);
    fuzzcheck::require(text == expectedBaudRateText(file), "the last of the first two lines, or nothing");

    fuzzcheck::require(settingsfile::baudRateText(file.first(std::min(file.size(), settingsfile::headLimit))) == text,
                       "the file's head decides as the whole file does");
    fuzzcheck::require(readFromDisk(file) == text.value_or(QString::fromLatin1(settingsfile::defaultBaudRateText)),
                       "the file on disk reads as its bytes do");
    if (text) {
        fuzzcheck::require(text->size() <= settingsfile::maxLineLength, "a line is never longer than the limit");
        fuzzcheck::require(!text->contains(u'\r') && !text->contains(u'\n'), "no line end reaches the settings string");
    }
    return 0;
}
