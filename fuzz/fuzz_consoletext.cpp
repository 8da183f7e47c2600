// The console's two forms. Received bytes shown on screen and read back are the bytes again,
// with no control character left on screen but the line break; text an operator edited on
// screen keeps its meaning when it is shown and read back again.
#include "codepage.h"
#include "consoletext.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cstring>

namespace {

void received(QByteArrayView bytes)
{
    const QString text = codepage::toUnicode(bytes);
    const QString shown = consoletext::displayText(text);
    fuzzcheck::require(consoletext::modelText(shown) == text, "received text survives the screen");
    fuzzcheck::require(shown.size() == text.size() - text.count(u"\r\n"), "one shown character per byte, CR LF one");
    fuzzcheck::require(std::none_of(shown.begin(), shown.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control && c != consoletext::lineBreak; }),
                       "every control is drawn as a picture");
    fuzzcheck::require(shown.count(QChar(consoletext::lineBreak)) == text.count(u"\r\n"), "a line break for each CR LF");
}

void edited(QStringView screen)
{
    const QString text = consoletext::modelText(screen);
    fuzzcheck::require(consoletext::modelText(consoletext::displayText(text)) == text, "edited text keeps its meaning");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    received(QByteArrayView(data, qsizetype(size)));

    QString screen(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(screen.data(), data, size / 2 * 2);
    edited(screen);
    return 0;
}
