// How the console shows received bytes: one shown character per byte (a CR LF pair one line
// break), no control character left on screen but the line break, and different bytes
// never drawn alike.
#include "codepage.h"
#include "consoletext.h"
#include "fuzzcheck.h"

#include <algorithm>

namespace {

void received(QByteArrayView bytes)
{
    const QString text = codepage::toUnicode(bytes);
    const QString shown = consoletext::displayText(text);
    fuzzcheck::require(shown.size() == text.size() - text.count(u"\r\n"), "one shown character per byte, CR LF one");
    fuzzcheck::require(
        std::none_of(shown.begin(), shown.end(),
                     [](QChar c) { return c.category() == QChar::Other_Control && c != consoletext::lineBreak; }),
        "every control is drawn as a picture");
    fuzzcheck::require(shown.count(QChar(consoletext::lineBreak)) == text.count(u"\r\n"), "a line break for each CR LF");
}

void distinct(QByteArrayView bytes)
{
    if (bytes.size() < 2 || bytes[0] == bytes[1])
        return;
    const QString pair = codepage::toUnicode(bytes.first(2));
    if (pair == u"\r\n")
        return;
    fuzzcheck::require(consoletext::visibleForm(pair[0]) != consoletext::visibleForm(pair[1]),
                       "different bytes are drawn differently");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    received(QByteArrayView(data, qsizetype(size)));
    distinct(QByteArrayView(data, qsizetype(size)));
    return 0;
}
