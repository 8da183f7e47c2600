#include "codepage.h"

#include <QHash>
#include <QStringDecoder>

#include <array>

namespace codepage {
namespace {

struct Table
{
    std::array<char16_t, 256> toUnicode{};
    QHash<char16_t, char> fromUnicode;

    Table()
    {
        QStringDecoder decoder("windows-1254");
        for (int byte = 0; byte < 256; ++byte) {
            const char raw = char(byte);
            const QString decoded = decoder.decode(QByteArrayView(&raw, 1));
            // A decoder without the code page, or one that substitutes, would corrupt every frame.
            const char16_t ch = decoded.size() == 1 && decoded.at(0) != QChar::ReplacementCharacter
                                    ? decoded.at(0).unicode()
                                    : char16_t(byte);
            toUnicode[byte] = ch;
            fromUnicode.insert(ch, raw);
        }
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
