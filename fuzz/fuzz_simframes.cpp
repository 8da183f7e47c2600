// The simulator's frame reader and terminal on any bytes. The first byte of each pair of
// input bytes picks how the line delivers: a burst of that many bytes, then now and again a
// quiet line. Every byte must land in one frame, in order; no frame may pass the reader's
// limit; every answer is whole CR LF lines.
#include "framereader.h"
#include "fuzzcheck.h"
#include "simterminal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QDateTime host(QDate(2026, 12, 4), QTime(10, 20, 30));
    FrameReader reader;
    SimTerminal terminal;
    QByteArray framed;
    const auto take = [&](const QList<QByteArray> &frames) {
        for (const QByteArray &frame : frames) {
            fuzzcheck::require(!frame.isEmpty() && frame.size() <= FrameReader::maxFrameLength, "frame within the limit");
            framed += frame;
            const QByteArray answer = terminal.handle(frame, host).answer;
            fuzzcheck::require(answer.isEmpty() || answer.endsWith("\r\n"), "answers end in CR LF");
        }
    };
    QByteArray delivered;
    qsizetype at = 0;
    while (at < input.size()) {
        const quint8 control = quint8(input[at++]);
        const QByteArrayView burst = input.sliced(at, std::min<qsizetype>(control % 32 + 1, input.size() - at));
        at += burst.size();
        delivered += burst;
        take(reader.feed(burst));
        if (control & 0x80)
            take(reader.quiet());
    }
    take(reader.quiet());
    fuzzcheck::require(framed == delivered, "every byte in one frame, in order");
    fuzzcheck::require(terminal.counter() >= 0 && terminal.counter() < SimTerminal::counterLimit, "counter in range");
    return 0;
}
