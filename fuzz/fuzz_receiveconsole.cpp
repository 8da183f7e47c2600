// The console fed as the receive poll feeds it: chunks of any size, a CR at the end of one
// and its LF at the start of the next, clears and the operator's typing in between. Its text
// must be exactly what came, in order, with what the operator typed where the caret stood.
//
// Input: one byte choosing the text the console starts with, then records of one length
// byte and that many bytes (length % 64). A length byte of 0xFF clears the console; 0xFE is
// the operator typing: a position byte and one UTF-16 character (two bytes) follow. 0xFD
// switches the byte view and the arrival times on or off; the byte view takes no typing.
#include "codepage.h"
#include "fuzzcheck.h"
#include "receiveconsole.h"

#include <QKeyEvent>

namespace {

constexpr quint8 clearRecord = 0xFF;
constexpr quint8 typingRecord = 0xFE;
constexpr quint8 viewRecord = 0xFD;
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

// The operator types one character with the caret at `position` (never inside a CR LF pair).
void type(ReceiveConsole &c, QString &expected, qsizetype position, QChar ch)
{
    if (!ch.isPrint() || ch.isSurrogate())
        return;
    if (position > 0 && position < expected.size() && expected[position - 1] == u'\r' && expected[position] == u'\n')
        --position;
    c.select(position, position);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QCoreApplication::sendEvent(&c, &press);
    if (!c.showsBytes())
        expected.insert(position, ch);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ReceiveConsole &c = console();
    QString expected = startTexts[data[0] % std::size(startTexts)];
    c.setText(expected);
    c.setShowsBytes(false);

    size_t at = 1;
    while (at < size) {
        const quint8 record = data[at++];
        if (record == clearRecord) {
            c.setText(QString());
            expected.clear();
            continue;
        }
        if (record == viewRecord) {
            c.setShowsBytes(!c.showsBytes());
            c.setShowsArrivalTimes(c.showsBytes());
            c.repaint();
            continue;
        }
        if (record == typingRecord) {
            if (size - at < 3)
                break;
            type(c, expected, data[at] % (expected.size() + 1), QChar(char16_t(data[at + 1] | data[at + 2] << 8)));
            at += 3;
            fuzzcheck::require(c.text() == expected, "the console takes what the operator typed");
            continue;
        }
        const size_t length = std::min<size_t>(record % chunkLimit, size - at);
        const QByteArrayView chunk(data + at, qsizetype(length));
        at += length;
        c.appendBytes(chunk);
        expected += codepage::toUnicode(chunk);
        fuzzcheck::require(c.text() == expected, "the console holds what came, in order");
    }
    QCoreApplication::processEvents();
    return 0;
}
