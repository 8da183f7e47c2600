// The console fed as the receive poll feeds it: chunks of any size, a CR at the end of one
// and its LF at the start of the next, clears and the operator's typing in between. Its text
// must be exactly what came, in order, after what the screen held when the operator last
// typed; until the operator types, the screen must show that text and nothing else.
//
// Input: one byte choosing the text the console starts with, then records of one length
// byte and that many bytes (length % 64). A length byte of 0xFF clears the console; 0xFE is
// the operator typing: a position byte and one UTF-16 character (two bytes) follow.
#include "codepage.h"
#include "consoletext.h"
#include "fuzzcheck.h"
#include "receiveconsole.h"

#include <QTextDocument>

namespace {

constexpr quint8 clearRecord = 0xFF;
constexpr quint8 typingRecord = 0xFE;
constexpr int chunkLimit = 64;

const QString startTexts[] = {
    QStringLiteral("Baud Rate : 4800\r\n"),
    QString(),
    QStringLiteral("Baud Rate : 4800\r"),
    QStringLiteral("\r"),
};

ReceiveConsole &console()
{
    fuzzcheck::application();
    static ReceiveConsole *instance = [] {
        auto *c = new ReceiveConsole;
        c->resize(240, 380);
        c->show();
        return c;
    }();
    return *instance;
}

QString screenText(const ReceiveConsole &c)
{
    QString raw = c.document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QChar(consoletext::lineBreak));
    return raw;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ReceiveConsole &c = console();
    QString expected = startTexts[data[0] % std::size(startTexts)];
    c.setText(expected);

    bool typed = false;
    size_t at = 1;
    while (at < size) {
        const quint8 record = data[at++];
        if (record == clearRecord) {
            c.setText(QString());
            expected.clear();
            continue;
        }
        if (record == typingRecord) {
            if (size - at < 3)
                break;
            QTextCursor cursor(c.document());
            cursor.setPosition(data[at] % c.document()->characterCount());
            cursor.insertText(QString(QChar(char16_t(data[at + 1] | data[at + 2] << 8))));
            at += 3;
            typed = true;
            expected = consoletext::modelText(c.document()->toRawText());
            fuzzcheck::require(c.text() == expected, "the console takes what the operator typed");
            continue;
        }
        const size_t length = std::min<size_t>(record % chunkLimit, size - at);
        const QString chunk = codepage::toUnicode(QByteArrayView(data + at, qsizetype(length)));
        at += length;
        c.appendText(chunk);
        expected += chunk;
        fuzzcheck::require(c.text() == expected, "the console holds what came, in order");
    }
    fuzzcheck::require(consoletext::modelText(screenText(c)) == expected, "the screen means the text");
    if (!typed)
        fuzzcheck::require(screenText(c) == consoletext::displayText(expected), "the screen shows the text");
    QCoreApplication::processEvents();
    return 0;
}
