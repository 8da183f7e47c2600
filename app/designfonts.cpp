#include "designfonts.h"

#include <QDir>
#include <QFontDatabase>

namespace designfonts {
namespace {

// Debian's fonts-wine ships these faces outside fontconfig's search path.
constexpr char wineFontDir[] = "/usr/share/wine/fonts";
constexpr const char *wineFontFiles[] = {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"};

} // namespace

void install()
{
    const QStringList families = QFontDatabase::families();
    if (!families.contains(QStringLiteral("Tahoma")) || !families.contains(QStringLiteral("MS Sans Serif"))) {
        const QDir dir(QString::fromLatin1(wineFontDir));
        for (const char *file : wineFontFiles) {
            if (dir.exists(QLatin1String(file)))
                QFontDatabase::addApplicationFont(dir.filePath(QLatin1String(file)));
        }
    }
    QFont::insertSubstitutions(QStringLiteral("Verdana"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
}

QFont font(const QString &family, int pixelSize, bool bold)
{
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

} // namespace designfonts
