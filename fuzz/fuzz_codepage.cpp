// Windows-1254 both ways. The input read as bytes must come back byte for byte; read as
// UTF-16 (what a text box may hold) it must become exactly one byte per character, each
// either the character's own byte or '?'.
#include "codepage.h"
#include "fuzzcheck.h"

#include <cstring>

namespace {

void bytesRoundTrip(QByteArrayView bytes)
{
    const QString text = codepage::toUnicode(bytes);
    fuzzcheck::require(text.size() == bytes.size(), "one character per byte");
    fuzzcheck::require(codepage::fromUnicode(text) == bytes, "every byte string comes back unchanged");
}

void typedText(QStringView text)
{
    const QByteArray bytes = codepage::fromUnicode(text);
    qsizetype at = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A surrogate pair is one character; a lone surrogate is one too.
        char32_t ch = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ch = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        fuzzcheck::require(at < bytes.size(), "a byte for every character");
        const char byte = bytes[at++];
        const QString back = codepage::toUnicode(QByteArrayView(&byte, 1));
        fuzzcheck::require(byte == '?' || (ch < 0x10000 && back.at(0).unicode() == ch),
                           "each character is its own byte or '?'");
    }
    fuzzcheck::require(at == bytes.size(), "no byte beyond the characters");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bytesRoundTrip(QByteArrayView(data, qsizetype(size)));

    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    typedText(text);
    return 0;
}
