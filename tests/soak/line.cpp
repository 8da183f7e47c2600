#include "soak.h"

#include "harness.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace std::chrono_literals;

namespace soak {

// Open, random bytes, the far end gone mid-stream, reopen: through the main window and its
// console, or through the port link alone (the console's own speed aside).
int cycles(int count, qsizetype bytesPerCycle, bool window)
{
    Tally tally;
    removeSettingsFile();
    StreamFigures figures;
    constexpr int warmCycles = 5;
    qint64 warm = liveHeap();
    for (int cycle = 0; cycle < count; ++cycle) {
        if (cycle == warmCycles)
            warm = liveHeap();
        const QByteArray data = randomBytes(bytesPerCycle, quint32(cycle));
        const QString name = QStringLiteral("cycle %1").arg(cycle);
        QByteArray polled;
        const auto collect = [&](const QByteArray &bytes) { polled += bytes; };
        if (window) {
            Form1Harness h(5);
            QObject::connect(&h.form->link(), &PortLink::received, collect);
            const auto midStream = [&] {
                h.click(h.form->informationButton);
                tally.compareStream("@S", h.far.read(2), false, name + QStringLiteral(": @S on the line"));
            };
            streamThenHangUp(
                tally, h.far, data, polled, [&] { return h.form->link().port().isOpen(); }, midStream, name, figures);
            tally.check(h.form->console->text().startsWith(baudLine4800), name + QStringLiteral(": baud rate line kept"));
            tally.compareStream(polled, consoleBytes(*h.form, baudLine4800), false, name + QStringLiteral(": console"));
        } else {
            Pty far;
            far.linkAs(programDir(), 5);
            PortLink link(programDir());
            try {
                link.open(QStringLiteral("4800"), 5);
            } catch (const CommError &failure) {
                tally.check(false, name + QStringLiteral(": opening failed with %1").arg(failure.number()));
                continue;
            }
            far.waitForRawMode();
            QObject::connect(&link, &PortLink::received, collect);
            const auto midStream = [&] {
                link.send("@S");
                tally.compareStream("@S", far.read(2), false, name + QStringLiteral(": @S on the line"));
            };
            streamThenHangUp(
                tally, far, data, polled, [&] { return link.port().isOpen(); }, midStream, name, figures);
            link.close();
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qint64 growth = liveHeap() - warm;
    tally.check(growth < 1024 * 1024, QStringLiteral("heap grew by %1 bytes over the cycles").arg(growth));
    std::printf("cycles through the %s: %d, bytes sent %lld, received %lld, dropped with the line at hang-up %lld, "
                "heap growth after the first %d: %+lld bytes\n",
                window ? "window" : "port link", count, qlonglong(figures.sent), qlonglong(figures.received),
                qlonglong(figures.cutAtHangUp), warmCycles, qlonglong(growth));
    return tally.finish(window ? "cycles-window" : "cycles-link");
}

// Days of use in a few hundred rounds: data arrives and the operator clears the console, again
// and again. Once the caches are warm, the heap in use must stay where it was.
int memory(int rounds)
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(11);
    constexpr int warmRounds = 20;
    constexpr qint64 allowedGrowth = 1024 * 1024;
    qint64 warm = 0;
    for (int round = 0; round < rounds; ++round) {
        // Lines as a terminal sends them, with some binary among them.
        QByteArray data = randomBytes(8192, quint32(round));
        for (qsizetype i = 62; i < data.size(); i += 64)
            data.replace(i, 2, "\r\n");
        h.far.write(data);
        waitUntil([&] { return h.form->console->text().size() >= baudLine4800.size() * (round == 0) + data.size(); }, 30s);
        tally.compareStream(data, consoleBytes(*h.form, round == 0 ? baudLine4800 : QString()), false,
                            QStringLiteral("round %1").arg(round));
        h.click(h.form->clearButton);
        QCoreApplication::processEvents();
        if (round + 1 == warmRounds)
            warm = liveHeap();
    }
    const qint64 end = liveHeap();
    tally.check(end - warm < allowedGrowth,
                QStringLiteral("heap grew by %1 bytes over %2 rounds").arg(end - warm).arg(rounds - warmRounds));
    std::printf(
        "memory: %d rounds of 8 KB then a clear; heap in use %.1f MB after %d rounds, %.1f MB after %d (%+lld bytes)\n",
        rounds, warm / 1048576.0, warmRounds, end / 1048576.0, rounds, qlonglong(end - warm));
    return tally.finish("memory");
}

// A terminal at another baud rate sends garbage without line ends, for hours: one console line
// that only grows. At 4800 baud (480 bytes a second, as the poll takes them) the program must
// keep up with it without taking the processor.
int trickle(int lineKilobytes, int seconds)
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(12);
    const auto withoutLineEnds = [](QByteArray bytes) {
        for (char &c : bytes) {
            if (c == '\r' || c == '\n')
                c = '.';
        }
        return bytes;
    };
    const QByteArray line = withoutLineEnds(randomBytes(lineKilobytes * 1024, 1));
    h.far.write(line);
    waitUntil([&] { return h.form->console->text().size() >= baudLine4800.size() + line.size(); }, 300s);

    constexpr auto tick = 100ms;
    constexpr qsizetype bytesPerTick = 48;
    const QByteArray stream = withoutLineEnds(randomBytes(bytesPerTick * seconds * 10, 2));
    qsizetype at = 0;
    QTimer feed;
    feed.setInterval(tick);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        if (at < stream.size()) {
            h.far.write(stream.sliced(at, bytesPerTick));
            at += bytesPerTick;
        }
    });
    feed.start();
    const double load = loopLoad(std::chrono::seconds(seconds));
    feed.stop();
    waitUntil([&] { return h.form->console->text().size() >= baudLine4800.size() + line.size() + at; });
    tally.compareStream(line + stream.first(at), consoleBytes(*h.form, baudLine4800), false, QStringLiteral("trickle"));
    tally.check(load < 0.5, QStringLiteral("at 4800 baud onto a %1 KB line the program takes %2% of a core")
                                .arg(lineKilobytes)
                                .arg(load * 100, 0, 'f', 1));
    std::printf("trickle: 480 bytes/s for %d s onto a %d KB line without line ends: %.1f%% of a core\n", seconds,
                lineKilobytes, load * 100);
    return tally.finish("trickle");
}

// The far end gone: the port must be closed, the loop idle, and commands refused with a message.
int afterHangUp()
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(9);
    const double openIdle = loopLoad(3s);
    h.far.write("before");
    waitUntil([&] { return h.form->console->text().endsWith(QStringLiteral("before")); });
    h.far.hangUp();
    tally.check(waitUntil([&] { return !h.form->link().port().isOpen(); }, 5s), QStringLiteral("port closed after hang-up"));
    const double goneIdle = loopLoad(3s);
    tally.check(goneIdle < 0.2, QStringLiteral("after hang-up the loop takes %1% of a core").arg(goneIdle * 100, 0, 'f', 1));
    {
        MessageBoxCatcher catcher;
        h.click(h.form->accessButton);
        tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 8018")},
                    QStringLiteral("a command after hang-up: %1").arg(catcher.texts.join(u'|')));
    }
    tally.check(h.form->console->text() == baudLine4800 + QStringLiteral("before"),
                QStringLiteral("console kept what came"));
    std::printf("processor use: %.1f%% of a core idle with the port open, %.1f%% after the far end closed\n", openIdle * 100,
                goneIdle * 100);
    return tally.finish("hangup");
}

// A far end that takes `bytesPerSecond` (a 4800-baud line takes 480) while frames longer than
// the line's buffer are sent one after another, with other buttons pressed in between.
int slowLine(int cycles, int frameBytes, int bytesPerSecond)
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(11);
    MessageBoxCatcher boxes;
    QByteArray sent, got;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        QByteArray chunk(bytesPerSecond / 10, Qt::Uninitialized);
        const ssize_t n = ::read(h.far.masterFd(), chunk.data(), size_t(chunk.size()));
        got.append(chunk.first(std::max<ssize_t>(0, n)));
    });
    reader.start(100);
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const QByteArray frame = QByteArray(frameBytes, char('a' + cycle % 26));
        h.form->commandBox->setText(QString::fromLatin1(frame));
        h.click(h.form->commandButton);
        h.click(h.form->accessButton);
        sent += "@" + frame + "@A";
        // The next frame goes while this one is still on its way.
        waitUntil([&] { return got.size() >= sent.size() - frameBytes / 2; },
                  std::chrono::seconds(2 * frameBytes / bytesPerSecond));
    }
    waitUntil([&] { return got.size() >= sent.size(); }, std::chrono::seconds(2 + sent.size() / bytesPerSecond));
    tally.compareStream(sent, got, false, QStringLiteral("frames at %1 bytes a second").arg(bytesPerSecond));
    tally.check(h.form->link().port().isOpen(), QStringLiteral("port still open"));
    tally.check(boxes.texts.isEmpty(), QStringLiteral("messages: %1").arg(boxes.texts.join(u'|')));
    std::printf("slow line: %d frames of %d bytes at %d bytes a second, %lld of %lld bytes arrived\n", cycles, frameBytes,
                bytesPerSecond, qlonglong(got.size()), qlonglong(sent.size()));
    return tally.finish("slowline");
}

} // namespace soak
