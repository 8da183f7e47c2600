#include "designfonts.h"

#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>

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

} // namespace

void install()
{
    // Stand-ins with a true bold at every size; Liberation Sans keeps the captions' widths
    // nearest to the design's.
    const QStringList sans{QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")};
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    const QDir dir(QString::fromLatin1(wineFontDir));
    for (const WineFace &face : {WineFace{"Tahoma", {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}},
                                 WineFace{"MS Sans Serif", {QStringLiteral("ms_sans_serif.ttf")}}}) {
        const QString family = QString::fromLatin1(face.family);
        QFont::insertSubstitutions(family, sans);
        if (QFontDatabase::families().contains(family))
            continue;
        QList<int> added;
        for (const QString &file : face.files) {
            if (dir.exists(file))
                added << QFontDatabase::addApplicationFont(dir.filePath(file));
        }
        // fonts-wine's Tahoma Bold draws as light as its regular; its MS Sans Serif is a 13 px bitmap.
        if (!drawsAsDesigned(family)) {
            for (const int id : added)
                QFontDatabase::removeApplicationFont(id);
        }
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
