#include "consoletext.h"

#include "codepage.h"

#include <algorithm>

namespace consoletext {
namespace {

constexpr char16_t controlPicturesBase = 0x2400; // U+2400 SYMBOL FOR NULL .. U+241F
constexpr char16_t deletePicture = 0x2421;
// C1 controls have no pictures; private-use code points keep them distinct.
constexpr char16_t c1PictureBase = 0xE000;
constexpr char16_t softHyphen = 0xAD;

} // namespace

QChar visibleForm(QChar ch)
{
    const char16_t code = ch.unicode();
    if (code < 0x20)
        return QChar(char16_t(controlPicturesBase + code));
    if (code == 0x7F)
        return QChar(deletePicture);
    // Windows-1254 leaves a few bytes undefined; they arrive as C1 controls, which fonts do not draw.
    // The soft hyphen draws nothing on an unbroken line.
    if ((code >= 0x80 && code < 0xA0) || code == softHyphen)
        return QChar(char16_t(c1PictureBase + code));
    return ch;
}

QString displayText(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            shown.append(QChar(lineBreak));
            ++i;
        } else {
            shown.append(visibleForm(text[i]));
        }
    }
    return shown;
}

QString byteRow(QByteArrayView windows1254)
{
    QString row(byteRowLength(windows1254.size()), Qt::Uninitialized);
    writeByteRow(row.data(), windows1254);
    return row;
}

void writeByteRow(QChar *out, QByteArrayView windows1254)
{
    std::fill(out, out + byteRowLength(windows1254.size()), QChar(u' '));
    for (qsizetype i = 0; i < windows1254.size(); ++i) {
        const auto byte = quint8(windows1254[i]);
        out[hexCells * i] = QChar(u"0123456789ABCDEF"[byte >> 4]);
        out[hexCells * i + 1] = QChar(u"0123456789ABCDEF"[byte & 0xF]);
        const QChar ch = codepage::toUnicode(char(byte));
        out[byteRowTextColumn + i] = visibleForm(ch) == ch ? ch : QChar(u'.');
    }
}

} // namespace consoletext
