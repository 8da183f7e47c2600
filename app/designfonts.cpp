#include "designfonts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>

#include <optional>

namespace designfonts {
namespace {

// Debian's fonts-wine ships these faces outside fontconfig's search path.
constexpr char wineFontDir[] = "/usr/share/wine/fonts";
struct WineFace
{
    const char *family;
    QStringList files;
};

// How dark a sample of `font` draws: a bold that is no darker than its regular is no bold.
qint64 ink(const QFont &font)
{
    QImage image(320, 3 * font.pixelSize(), QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Gönderilen Komutlar COM PORT"));
    painter.end();
    qint64 total = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            total += 255 - line[x];
    }
    return total;
}

// Scalable (a bitmap face keeps its one size at every scale factor), drawn at the design's
// pixel sizes, and with a bold that is really heavier.
bool drawsAsDesigned(const QString &family)
{
    if (!QFontDatabase::isSmoothlyScalable(family))
        return false;
    for (const int pixels : {smallPixels, largePixels}) {
        const QFont regular = font(family, pixels, false);
        if (QFontInfo(regular).pixelSize() != pixels || ink(font(family, pixels, true)) < ink(regular) * 6 / 5)
            return false;
    }
    return true;
}

// Drawing the check costs more than the rest of the start together, so its verdict is kept
// until a face's file (or Qt) changes: one line per family, "family<TAB>stamp<TAB>0|1".
class VerdictCache
{
public:
    VerdictCache() : m_path(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/designfonts"))
    {
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            m_lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static QString stamp(const QDir &dir, const QStringList &files)
    {
        QStringList parts{QString::fromLatin1(qVersion())};
        for (const QString &file : files) {
            const QFileInfo info(dir, file);
            parts << file + QLatin1Char(':') + QString::number(info.size()) + QLatin1Char(':')
                         + QString::number(info.lastModified().toMSecsSinceEpoch());
        }
        return parts.join(QLatin1Char(' '));
    }

    std::optional<bool> verdict(const QString &family, const QString &stamp) const
    {
        const QString key = family + QLatin1Char('\t') + stamp + QLatin1Char('\t');
        for (const QString &line : m_lines) {
            if (line.startsWith(key))
                return line.mid(key.size()) == QLatin1String("1");
        }
        return std::nullopt;
    }

    void keep(const QString &family, const QString &stamp, bool drawsAsDesigned)
    {
        m_lines.removeIf([&](const QString &line) { return line.startsWith(family + QLatin1Char('\t')); });
        m_lines << family + QLatin1Char('\t') + stamp + QLatin1Char('\t') + QLatin1Char(drawsAsDesigned ? '1' : '0');
        QDir().mkpath(QFileInfo(m_path).path());
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            file.write(m_lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

private:
    QString m_path;
    QStringList m_lines;
};

} // namespace

void install()
{
    // Stand-ins with a true bold at every size; Liberation Sans keeps the captions' widths
    // nearest to the design's.
    const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")};
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    const QDir dir(QString::fromLatin1(wineFontDir));
    VerdictCache cache;
    for (const WineFace &face : {WineFace{"Tahoma", {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}},
                                 WineFace{"MS Sans Serif", {QStringLiteral("ms_sans_serif.ttf")}}}) {
        const QString family = QString::fromLatin1(face.family);
        QFont::insertSubstitutions(family, sans);
        // Before the system's list of families, which takes milliseconds to gather.
        const QString stamp = VerdictCache::stamp(dir, face.files);
        const std::optional<bool> known = cache.verdict(family, stamp);
        if (known == false || QFontDatabase::families().contains(family))
            continue;
        QList<int> added;
        for (const QString &file : face.files) {
            if (dir.exists(file))
                added << QFontDatabase::addApplicationFont(dir.filePath(file));
        }
        if (known)
            continue;
        // fonts-wine's Tahoma Bold draws as light as its regular; its MS Sans Serif is a 13 px bitmap.
        const bool asDesigned = drawsAsDesigned(family);
        if (!asDesigned) {
            for (const int id : added)
                QFontDatabase::removeApplicationFont(id);
        }
        cache.keep(family, stamp, asDesigned);
    }
}

QFont font(const QString &family, int pixelSize, bool bold)
{
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace designfonts
