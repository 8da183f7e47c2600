#include "designfonts.h"

#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QRawFont>

#include <algorithm>

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

// A bitmap face keeps its one size: its glyphs advance alike at both of the design's sizes.
// Told from the file, so that a face that cannot pass is not added and removed again, which
// makes the toolkit gather every family afresh.
bool scalesInFile(const QString &path)
{
    const QRawFont small(path, smallPixels);
    const QRawFont large(path, largePixels);
    const QList<quint32> glyphs = small.glyphIndexesForString(QStringLiteral("M"));
    return small.isValid() && !glyphs.isEmpty()
           && small.advancesForGlyphIndexes(glyphs) != large.advancesForGlyphIndexes(glyphs);
}

// Each face is tried when a window first asks for it: the port window needs only MS Sans
// Serif, and drawing Tahoma's samples would hold up its first frame.
QList<WineFace> &facesNotTried()
{
    static QList<WineFace> faces;
    return faces;
}

void tryWineFace(const QString &family)
{
    QList<WineFace> &faces = facesNotTried();
    const auto face =
        std::find_if(faces.begin(), faces.end(), [&](const WineFace &f) { return family == QLatin1String(f.family); });
    if (face == faces.end())
        return;
    const QStringList files = face->files;
    faces.erase(face);
    // The file first: the system's list of families takes milliseconds to gather.
    const QDir dir(QString::fromLatin1(wineFontDir));
    if (!scalesInFile(dir.filePath(files.first())) || QFontDatabase::families().contains(family))
        return;
    QList<int> added;
    for (const QString &file : files) {
        if (dir.exists(file))
            added << QFontDatabase::addApplicationFont(dir.filePath(file));
    }
    // fonts-wine's Tahoma Bold draws as light as its regular; its MS Sans Serif is a 13 px bitmap.
    if (!drawsAsDesigned(family)) {
        for (const int id : added)
            QFontDatabase::removeApplicationFont(id);
    }
}

} // namespace

void install()
{
    // Stand-ins with a true bold at every size, only where the design's faces are missing (as
    // on Debian, or wine); Liberation Sans keeps the captions' widths nearest to the design's.
    const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")};
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
#ifndef Q_OS_WIN
    facesNotTried() = {WineFace{"Tahoma", {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}},
                       WineFace{"MS Sans Serif", {QStringLiteral("ms_sans_serif.ttf")}}};
#endif
}

QFont font(const QString &family, int pixelSize, bool bold)
{
    tryWineFace(family);
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace designfonts
