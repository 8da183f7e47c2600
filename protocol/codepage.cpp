#include "codepage.h"

#include <QHash>

#include <array>
#include <utility>

namespace codepage {
namespace {

// Where Windows-1254 differs from Latin-1 (Unicode's CP1254.TXT); its undefined bytes keep
// their C1 controls. A table of its own: the toolkit's decoder would bring in ICU's
// converters, 1.3 MB resident for these 256 characters.
constexpr std::array<std::pair<quint8, char16_t>, 31> notLatin1{{
    {0x80, 0x20AC}, {0x82, 0x201A}, {0x83, 0x0192}, {0x84, 0x201E}, {0x85, 0x2026}, {0x86, 0x2020}, {0x87, 0x2021},
    {0x88, 0x02C6}, {0x89, 0x2030}, {0x8A, 0x0160}, {0x8B, 0x2039}, {0x8C, 0x0152}, {0x91, 0x2018}, {0x92, 0x2019},
    {0x93, 0x201C}, {0x94, 0x201D}, {0x95, 0x2022}, {0x96, 0x2013}, {0x97, 0x2014}, {0x98, 0x02DC}, {0x99, 0x2122},
    {0x9A, 0x0161}, {0x9B, 0x203A}, {0x9C, 0x0153}, {0x9F, 0x0178}, {0xD0, 0x011E}, {0xDD, 0x0130}, {0xDE, 0x015E},
    {0xF0, 0x011F}, {0xFD, 0x0131}, {0xFE, 0x015F},
}};

struct Table
{
    std::array<char16_t, 256> toUnicode{};
    QHash<char16_t, char> fromUnicode;

    Table()
    {
        for (int byte = 0; byte < 256; ++byte)
            toUnicode[byte] = char16_t(byte);
        for (const auto &[byte, ch] : notLatin1)
            toUnicode[byte] = ch;
        for (int byte = 0; byte < 256; ++byte)
            fromUnicode.insert(toUnicode[byte], char(byte));
    }
};

const Table &table()
{
    static const Table instance;
    return instance;
}

} // namespace

QString toUnicode(QByteArrayView bytes)
{
    const Table &t = table();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes)
        *out++ = QChar(t.toUnicode[quint8(byte)]);
    return text;
}

QChar toUnicode(char byte)
{
    return QChar(table().toUnicode[quint8(byte)]);
}

std::optional<QByteArray> fromUnicodeExactly(QStringView text)
{
    const Table &t = table();
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (const QChar ch : text) {
        const auto byte = t.fromUnicode.constFind(ch.unicode());
        if (byte == t.fromUnicode.cend())
            return std::nullopt;
        *out++ = *byte;
    }
    return bytes;
}

QByteArray fromUnicode(QStringView text)
{
    const Table &t = table();
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        // A character outside the BMP is still one typed character: one '?', not two.
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        bytes.append(t.fromUnicode.value(ch.unicode(), '?'));
    }
    return bytes;
}

} // namespace codepage
