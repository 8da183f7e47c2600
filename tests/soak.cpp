// Fault soak: what an operator's days against real hardware bring, in minutes. Each scenario
// runs in a process of its own (tools/soak.sh starts them, under the sanitizers) and ends
// with one line "soak <scenario>: checks=N failures=N lost=N reordered=N", the figures
// the script adds up. Details go before it, one line per fault or figure.
#include "codepage.h"
#include "designfonts.h"
#include "drainwindow.h"
#include "endsignals.h"
#include "farend.h"
#include "form0.h"
#include "harness.h"
#include "linesettings.h"
#include "portdrain.h"
#include "receiveconsole.h"
#include "settingsfile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <thread>

#include <csignal>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in the sanitizer's quarantine, so only its own count tells what is live.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

const QString baudLine4800 = QStringLiteral("Baud Rate : 4800\r\n");

struct Tally
{
    int checks = 0;
    int failures = 0;
    qint64 lost = 0;
    qint64 reordered = 0;

    void check(bool holds, const QString &what)
    {
        ++checks;
        if (!holds) {
            ++failures;
            std::printf("FAULT: %s\n", qPrintable(what));
            std::fflush(stdout);
        }
    }

    // `got` must be exactly `sent`, or (when the line may drop its tail) a prefix of it.
    void compareStream(const QByteArray &sent, const QByteArray &got, bool tailMayBeCut, const QString &what)
    {
        ++checks;
        const qsizetype common = std::min(sent.size(), got.size());
        qint64 wrong = 0;
        for (qsizetype i = 0; i < common; ++i)
            wrong += sent[i] != got[i];
        const qint64 missing = tailMayBeCut ? 0 : std::max<qint64>(0, sent.size() - got.size());
        const qint64 extra = std::max<qint64>(0, got.size() - sent.size());
        reordered += wrong + extra;
        lost += missing;
        if (wrong + extra + missing > 0) {
            ++failures;
            std::printf("FAULT: %s: %lld of %lld bytes arrived, %lld out of place, %lld extra\n", qPrintable(what),
                        qlonglong(got.size()), qlonglong(sent.size()), qlonglong(wrong), qlonglong(extra));
            std::fflush(stdout);
        }
    }

    int finish(const char *scenario) const
    {
        std::printf("soak %s: checks=%d failures=%d lost=%lld reordered=%lld\n", scenario, checks, failures,
                    qlonglong(lost), qlonglong(reordered));
        return failures == 0 ? 0 : 1;
    }
};

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / qsizetype(sizeof(quint32)));
    return bytes;
}

// What reached the console after its baud rate line, as the bytes that came off the line.
QByteArray consoleBytes(const Form1 &form, const QString &baudLine)
{
    const QString text = form.Text8->text();
    return codepage::fromUnicode(QStringView(text).sliced(std::min(baudLine.size(), text.size())));
}

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

QString settingsPath()
{
    return QDir(programDir()).filePath(QLatin1String(settingsfile::fileName));
}

void removeSettingsFile()
{
    const QString path = settingsPath();
    ::chmod(QFile::encodeName(path).constData(), 0644);
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

// Processor time of this process, user and system.
std::chrono::microseconds processorTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval &t) { return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec); };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

// Share of one core this process takes while its event loop runs for `span`.
double loopLoad(std::chrono::milliseconds span)
{
    const auto before = processorTime();
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
    return double((processorTime() - before).count()) / double(std::chrono::microseconds(span).count());
}

// Closed windows are deleted later; outside a running event loop that means now.
bool gone(const QPointer<Form1> &form)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return form.isNull();
}

// Bytes of heap in use right now.
qint64 liveHeap()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

// The port windows that failed openings brought back.
void closePortWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Form0 *>(w) && w->isVisible())
            w->close();
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct StreamFigures
{
    qint64 sent = 0;
    qint64 received = 0;
    qint64 cutAtHangUp = 0;
};

// Random bytes from the far end: three quarters that must all arrive, then the rest with the
// far end hanging up right behind them. What the kernel still holds then is dropped with the
// line, so from there on only an unbroken prefix may arrive. `midStream` is the operator's
// turn while the data flows.
void streamThenHangUp(Tally &tally, Pty &far, const QByteArray &data, const QByteArray &polled,
                      const std::function<bool()> &portOpen, const std::function<void()> &midStream,
                      const QString &cycle, StreamFigures &figures)
{
    tally.check(portOpen(), cycle + QStringLiteral(": port open"));
    const qsizetype confirmed = data.size() * 3 / 4;
    far.write(data.first(confirmed));
    waitUntil([&] { return polled.size() >= confirmed; }, 120s);
    tally.compareStream(data.first(confirmed), polled, false, cycle + QStringLiteral(": polled before hang-up"));
    midStream();
    far.write(data.sliced(confirmed));
    far.hangUp();
    tally.check(waitUntil([&] { return !portOpen(); }, 5s), cycle + QStringLiteral(": port closed after the far end went"));
    QCoreApplication::processEvents();
    tally.compareStream(data, polled, true, cycle + QStringLiteral(": polled after hang-up"));
    figures.sent += data.size();
    figures.received += polled.size();
    figures.cutAtHangUp += data.size() - polled.size();
}

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
                h.click(h.form->Command10);
                tally.compareStream("@S", h.far.read(2), false, name + QStringLiteral(": @S on the line"));
            };
            streamThenHangUp(tally, h.far, data, polled, [&] { return h.form->link().MSComm1().portOpen(); }, midStream,
                             name, figures);
            tally.check(h.form->Text8->text().startsWith(baudLine4800), name + QStringLiteral(": baud rate line kept"));
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
            streamThenHangUp(tally, far, data, polled, [&] { return link.MSComm1().portOpen(); }, midStream, name, figures);
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

struct HostileFile
{
    const char *name;
    std::function<void(const QString &path)> make;
    // The baud rate text the console must show; a null string for "9600 if the file can be read, else 4800".
    QString baudRate;
};

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QString readableOr4800(const QString &path, const QString &value)
{
    return ::access(QFile::encodeName(path).constData(), R_OK) == 0 ? value : QStringLiteral("4800");
}

// Settings files no one meant to write: each opens the main window, whose first console line
// must name 4800 or the file's line as it stands, and which must either run or say why not.
int settings()
{
    Tally tally;
    const QByteArray hugeLine(100 * 1024 * 1024, '9');
    const std::vector<HostileFile> files = {
        {"random binary", [](const QString &p) { writeBytes(p, randomBytes(4096, 7)); },
         settingsfile::baudRateText(randomBytes(4096, 7)).value_or(QStringLiteral("4800"))},
        {"100 MB line", [&](const QString &p) { writeBytes(p, hugeLine); }, QStringLiteral("4800")},
        {"NUL bytes", [](const QString &p) { writeBytes(p, QByteArray("96\0\0" "00\r\n", 8)); }, QString::fromLatin1("96\0\0" "00", 6)},
        {"a directory", [](const QString &p) { QDir().mkpath(p); }, QStringLiteral("4800")},
        {"no read permission", [](const QString &p) {
             writeBytes(p, "9600\r\n");
             ::chmod(QFile::encodeName(p).constData(), 0);
         }, QString()},
        {"CR only", [](const QString &p) { writeBytes(p, "1200\r2400\r"); }, QStringLiteral("2400")},
        {"very long second line", [](const QString &p) { writeBytes(p, "1200\r\n" + QByteArray(5000, '9') + "\r\n"); },
         QString(5000, u'9')},
        {"empty", [](const QString &p) { writeBytes(p, QByteArray()); }, QStringLiteral("4800")},
        {"UTF-16 text", [](const QString &p) { writeBytes(p, QByteArray("9\0" "6\0" "0\0" "0\0", 8)); }, QString::fromLatin1("9\0" "6\0" "0\0" "0\0", 8)},
        {"UTF-8 mark", [](const QString &p) { writeBytes(p, "\xEF\xBB\xBF" "9600\r\n"); },
         QStringLiteral("\u00EF\u00BB\u00BF9600")},
        {"link to /dev/zero", [](const QString &p) { QFile::link(QStringLiteral("/dev/zero"), p); }, QStringLiteral("4800")},
        {"link to itself", [](const QString &p) { QFile::link(p, p); }, QStringLiteral("4800")},
        {"dangling link", [](const QString &p) { QFile::link(p + QStringLiteral(".gone"), p); }, QStringLiteral("4800")},
        {"named pipe", [](const QString &p) { ::mkfifo(QFile::encodeName(p).constData(), 0644); }, QStringLiteral("4800")},
        {"two lines then 50 MB", [&](const QString &p) { writeBytes(p, "9600\r\n19200\r\n" + hugeLine.first(50 * 1024 * 1024)); },
         QStringLiteral("19200")},
        {"blank lines only", [](const QString &p) { writeBytes(p, "\r\n\r\n"); }, QString::fromLatin1("")},
        {"high bytes", [](const QString &p) { writeBytes(p, "\xFF\xFE\xFD\r\n"); }, QStringLiteral("\u00FF\u015F\u0131")},
        {"tabs around", [](const QString &p) { writeBytes(p, "\t9600\t\r\n"); }, QStringLiteral("\t9600\t")},
        {"a whole settings line", [](const QString &p) { writeBytes(p, "9600,n,8,1\r\n"); }, QStringLiteral("9600,n,8,1")},
        {"overflowing number", [](const QString &p) { writeBytes(p, "99999999999\r\n"); }, QStringLiteral("99999999999")},
        {"one baud", [](const QString &p) { writeBytes(p, "1\r\n"); }, QStringLiteral("1")},
        {"four million baud", [](const QString &p) { writeBytes(p, "4000000\r\n"); }, QStringLiteral("4000000")},
        {"longest line", [](const QString &p) { writeBytes(p, QByteArray(settingsfile::maxLineLength, '1') + "\r\n"); },
         QString(settingsfile::maxLineLength, u'1')},
    };

    for (const HostileFile &file : files) {
        removeSettingsFile();
        const QString path = settingsPath();
        file.make(path);
        const QString baudRate = file.baudRate.isNull() ? readableOr4800(path, QStringLiteral("9600")) : file.baudRate;

        MessageBoxCatcher catcher;
        Pty far;
        far.linkAs(programDir(), 6);
        Module1 module;
        module.programDir = programDir();
        module.SelectedPort = 6;
        QPointer<Form1> form = new Form1(module);
        form->load();
        form->show();
        const QString firstLine = form->Text8->text().section(u'\n', 0, 0);
        tally.check(firstLine == QStringLiteral("Baud Rate : ") + baudRate + u'\r',
                    QStringLiteral("%1: first console line %2").arg(QLatin1String(file.name), firstLine.left(80)));
        const bool opened = form->link().MSComm1().portOpen();
        // A baud rate text that makes no settings string is refused before the port is touched.
        const bool usable = parseLineSettings(baudRate + QStringLiteral(",n,8,1")).has_value();
        tally.check(opened == usable, QStringLiteral("%1: port %2").arg(QLatin1String(file.name), opened ? "open" : "closed"));
        if (opened) {
            tally.check(far.waitForRawMode(), QStringLiteral("%1: raw line").arg(QLatin1String(file.name)));
            // The far end names the standard rates only; any other is checked by opening alone.
            const int rate = baudRate.trimmed().toInt();
            const QList<int> standardRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
            tally.check(!standardRates.contains(rate) || far.baudRate() == rate,
                        QStringLiteral("%1: line at %2 baud").arg(QLatin1String(file.name)).arg(far.baudRate()));
            form->close();
        } else {
            waitUntil([&] { return gone(form); }, 5s);
            tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 380")},
                        QStringLiteral("%1: message %2").arg(QLatin1String(file.name), catcher.texts.join(u'|')));
            tally.check(form.isNull(), QStringLiteral("%1: main window gone after the failure").arg(QLatin1String(file.name)));
        }
        std::printf("settings file \"%s\": console shows \"Baud Rate : %s\", port %s\n", file.name,
                    qPrintable(baudRate.left(20) + (baudRate.size() > 20 ? QStringLiteral("...") : QString())),
                    opened ? "open" : "refused (380)");
        closePortWindows();
    }
    removeSettingsFile();
    return tally.finish("settings");
}

// Keeps COM<port> open for a while, as another program on the same adapter would.
int holdPort(int port, int milliseconds)
{
    PortLink link(programDir());
    try {
        link.open(QStringLiteral("4800"), quint8(port));
    } catch (const CommError &failure) {
        std::printf("hold failed %d\n", failure.number());
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return 0;
}

int twoInstances()
{
    Tally tally;
    removeSettingsFile();
    Form1Harness first(7);
    tally.check(first.form->link().MSComm1().portOpen(), QStringLiteral("first window opens COM7"));

    {
        MessageBoxCatcher catcher;
        Module1 module = first.module;
        QPointer<Form1> second = new Form1(module);
        second->load();
        second->show();
        tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 8005")},
                    QStringLiteral("second window: %1").arg(catcher.texts.join(u'|')));
        waitUntil([&] { return gone(second); }, 5s);
        tally.check(second.isNull(), QStringLiteral("second window returns to the port window"));
        closePortWindows();
    }
    {
        PortLink second(programDir());
        int number = 0;
        try {
            second.open(QStringLiteral("4800"), 7);
        } catch (const CommError &failure) {
            number = failure.number();
        }
        tally.check(number == commerror::PortInUse, QStringLiteral("second link: error %1").arg(number));
    }
    // The first keeps its line after the refused attempts.
    first.click(first.form->Command17);
    tally.compareStream("@A", first.far.read(2), false, QStringLiteral("first window still sends"));
    first.form->close();
    QCoreApplication::processEvents();

    // Another process holds the port: this one must be refused the same way.
    Pty far;
    far.linkAs(programDir(), 7);
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("hold"), QStringLiteral("7"), QStringLiteral("3000")});
    tally.check(holder.waitForReadyRead(10000) && holder.readLine().startsWith("holding"),
                QStringLiteral("other process holds COM7"));
    PortLink mine(programDir());
    int number = 0;
    try {
        mine.open(QStringLiteral("4800"), 7);
    } catch (const CommError &failure) {
        number = failure.number();
    }
    tally.check(number == commerror::PortInUse, QStringLiteral("port held by another process: error %1").arg(number));
    holder.waitForFinished(10000);
    tally.check(holder.exitStatus() == QProcess::NormalExit && holder.exitCode() == 0,
                QStringLiteral("holding process ended cleanly: %1").arg(QString::fromLocal8Bit(holder.readAllStandardError()).left(400)));
    std::printf("two instances: second window and second link refused with %d, another process too\n", number);
    return tally.finish("twoinstances");
}

// The window closed while its message command waits between its two halves.
int closeInWait(int count)
{
    Tally tally;
    removeSettingsFile();
    std::map<QByteArray, int> outcomes;
    const QByteArray loadHalf("@L\0\1", 4);
    const QByteArray whole = loadHalf + "@Wsoak" + QByteArray(1, '\0');
    for (int i = 0; i < count; ++i) {
        Form1Harness h(8);
        h.form->Text4->setText(QStringLiteral("soak"));
        // Spread the close over the wait, which lasts up to one second.
        // Anywhere in the wait, which ends when the clock's second changes.
        const int untilNextSecond = 1000 - QTime::currentTime().msec();
        QTimer::singleShot(QRandomGenerator::global()->bounded(untilNextSecond), h.form, &QWidget::close);
        h.click(h.form->Command6);
        waitUntil([&] { return gone(h.form); }, 3s);
        tally.check(h.form.isNull(), QStringLiteral("close %1: window gone").arg(i));
        const QByteArray line = h.far.readAll(20ms);
        ++outcomes[line];
        tally.check(line == loadHalf || line == whole, QStringLiteral("close %1: line got %2").arg(i).arg(hexDump(line)));
    }
    std::printf("closed in the wait %d times: %d before the second half, %d after it\n", count, outcomes[loadHalf],
                outcomes[whole]);
    return tally.finish("closeinwait");
}

// The program's own run from start to end: the port window, COM10 confirmed, data on the
// line, the message command started and the main window closed during its wait, and the
// application's loop left because no window is left. Everything made on the way must be gone
// when the process ends.
int wholeRun(QApplication &app)
{
    Tally tally;
    removeSettingsFile();
    Pty far;
    far.linkAs(programDir(), 10);
    Module1 module;
    module.programDir = programDir();
    auto *form0 = new Form0(module);
    form0->show();

    QByteArray seen;
    QTimer::singleShot(0, [&] {
        form0->Combo1->setCurrentIndex(9);
        QTest::mouseClick(form0->Command1, Qt::LeftButton);
        Form1 *form1 = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *f = qobject_cast<Form1 *>(w))
                form1 = f;
        }
        tally.check(form1 && form1->link().MSComm1().portOpen(), QStringLiteral("main window open on COM10"));
        if (!form1)
            return app.quit();
        far.waitForRawMode();
        far.write(randomBytes(4096, 10));
        waitUntil([&] { return form1->Text8->text().size() >= baudLine4800.size() + 4096; });
        seen = consoleBytes(*form1, baudLine4800);
        form1->Text4->setText(QStringLiteral("bye"));
        const int untilNextSecond = 1000 - QTime::currentTime().msec();
        QTimer::singleShot(untilNextSecond / 2, form1, &QWidget::close);
        QTest::mouseClick(form1->Command6, Qt::LeftButton);
    });
    const int exitCode = app.exec();
    tally.check(exitCode == 0, QStringLiteral("the loop ended with %1").arg(exitCode));
    tally.compareStream(randomBytes(4096, 10), seen, false, QStringLiteral("console of the whole run"));
    tally.compareStream(QByteArray("@L\0\1", 4), far.readAll(20ms), false, QStringLiteral("first half of the message only"));
    tally.check(QApplication::topLevelWidgets().isEmpty(), QStringLiteral("%1 windows left behind").arg(QApplication::topLevelWidgets().size()));
    std::printf("whole run: port window, main window on COM10, %lld bytes in the console, closed in the wait, loop ended\n",
                qlonglong(seen.size()));
    return tally.finish("wholerun");
}

struct HostilePort
{
    const char *name;
    // Makes COM13 beside the program; an empty function leaves it absent.
    std::function<void(const QString &link)> make;
};

// Ports that are not what they should be: the adapter unplugged, the link aimed at the wrong
// thing. Each opening must fail with a message and return to the port window, never hang.
int ports()
{
    Tally tally;
    removeSettingsFile();
    const QString link = QDir(programDir()).filePath(QStringLiteral("COM13"));
    const QString target = QDir(programDir()).filePath(QStringLiteral("not-a-port"));
    const std::vector<HostilePort> cases = {
        {"absent", {}},
        {"unplugged adapter (dangling link)", [&](const QString &l) { QFile::link(target, l); }},
        {"regular file", [&](const QString &l) { writeBytes(target, "9600\r\n"); QFile::link(target, l); }},
        {"/dev/null", [](const QString &l) { QFile::link(QStringLiteral("/dev/null"), l); }},
        {"directory", [&](const QString &l) { QDir().mkpath(target); QFile::link(target, l); }},
        {"named pipe", [&](const QString &l) { ::mkfifo(QFile::encodeName(target).constData(), 0644); QFile::link(target, l); }},
        {"link to itself", [](const QString &l) { QFile::link(l, l); }},
    };
    for (const HostilePort &port : cases) {
        QFile::remove(link);
        QFile::remove(target);
        QDir(target).removeRecursively();
        if (port.make)
            port.make(link);
        MessageBoxCatcher catcher;
        Module1 module;
        module.programDir = programDir();
        module.SelectedPort = 13;
        QPointer<Form1> form = new Form1(module);
        form->load();
        form->show();
        const bool opened = form->link().MSComm1().portOpen();
        tally.check(!opened, QStringLiteral("%1: opened").arg(QLatin1String(port.name)));
        waitUntil([&] { return gone(form); }, 5s);
        tally.check(form.isNull(), QStringLiteral("%1: main window still there").arg(QLatin1String(port.name)));
        tally.check(catcher.texts.size() == 1 && catcher.texts.value(0).startsWith(QStringLiteral("PORT Hatası 80")),
                    QStringLiteral("%1: messages %2").arg(QLatin1String(port.name), catcher.texts.join(u'|')));
        if (form)
            form->close();
        closePortWindows();
        std::printf("port \"%s\": %s\n", port.name, qPrintable(catcher.texts.join(u'|')));
    }
    QFile::remove(link);
    QFile::remove(target);
    QDir(target).removeRecursively();
    return tally.finish("ports");
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
        waitUntil([&] { return h.form->Text8->text().size() >= baudLine4800.size() * (round == 0) + data.size(); }, 30s);
        tally.compareStream(data, consoleBytes(*h.form, round == 0 ? baudLine4800 : QString()), false,
                            QStringLiteral("round %1").arg(round));
        h.click(h.form->Command15);
        QCoreApplication::processEvents();
        if (round + 1 == warmRounds)
            warm = liveHeap();
    }
    const qint64 end = liveHeap();
    tally.check(end - warm < allowedGrowth,
                QStringLiteral("heap grew by %1 bytes over %2 rounds").arg(end - warm).arg(rounds - warmRounds));
    std::printf("memory: %d rounds of 8 KB then a clear; heap in use %.1f MB after %d rounds, %.1f MB after %d (%+lld bytes)\n",
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
    waitUntil([&] { return h.form->Text8->text().size() >= baudLine4800.size() + line.size(); }, 300s);

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
    waitUntil([&] { return h.form->Text8->text().size() >= baudLine4800.size() + line.size() + at; });
    tally.compareStream(line + stream.first(at), consoleBytes(*h.form, baudLine4800), false, QStringLiteral("trickle"));
    tally.check(load < 0.5, QStringLiteral("at 4800 baud onto a %1 KB line the program takes %2% of a core")
                                .arg(lineKilobytes).arg(load * 100, 0, 'f', 1));
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
    waitUntil([&] { return h.form->Text8->text().endsWith(QStringLiteral("before")); });
    h.far.hangUp();
    tally.check(waitUntil([&] { return !h.form->link().MSComm1().portOpen(); }, 5s), QStringLiteral("port closed after hang-up"));
    const double goneIdle = loopLoad(3s);
    tally.check(goneIdle < 0.2, QStringLiteral("after hang-up the loop takes %1% of a core").arg(goneIdle * 100, 0, 'f', 1));
    {
        MessageBoxCatcher catcher;
        h.click(h.form->Command17);
        tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 8018")},
                    QStringLiteral("a command after hang-up: %1").arg(catcher.texts.join(u'|')));
    }
    tally.check(h.form->Text8->text() == baudLine4800 + QStringLiteral("before"), QStringLiteral("console kept what came"));
    std::printf("processor use: %.1f%% of a core idle with the port open, %.1f%% after the far end closed\n",
                openIdle * 100, goneIdle * 100);
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
        h.form->Text3->setText(QString::fromLatin1(frame));
        h.click(h.form->Command9);
        h.click(h.form->Command17);
        sent += "@" + frame + "@A";
        // The next frame goes while this one is still on its way.
        waitUntil([&] { return got.size() >= sent.size() - frameBytes / 2; }, std::chrono::seconds(2 * frameBytes / bytesPerSecond));
    }
    waitUntil([&] { return got.size() >= sent.size(); }, std::chrono::seconds(2 + sent.size() / bytesPerSecond));
    tally.compareStream(sent, got, false, QStringLiteral("frames at %1 bytes a second").arg(bytesPerSecond));
    tally.check(h.form->link().MSComm1().portOpen(), QStringLiteral("port still open"));
    tally.check(boxes.texts.isEmpty(), QStringLiteral("messages: %1").arg(boxes.texts.join(u'|')));
    std::printf("slow line: %d frames of %d bytes at %d bytes a second, %lld of %lld bytes arrived\n", cycles, frameBytes,
                bytesPerSecond, qlonglong(got.size()), qlonglong(sent.size()));
    return tally.finish("slowline");
}

// The message button clicked as fast as events allow: every "@L" 00 01 must get its "@W", the
// text and 00, soon after the clicks stop.
int clickStorm(int clicks)
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(12);
    h.form->Text4->setText(QStringLiteral("storm"));
    const QByteArray load("@L\0\1", 4), write = QByteArray("@Wstorm") + '\0';
    int clicked = 0;
    QTimer storm;
    // Posted, as the window system's clicks are, so that they also arrive inside a wait.
    QObject::connect(&storm, &QTimer::timeout, [&] {
        QMetaObject::invokeMethod(h.form->Command6, &QPushButton::click, Qt::QueuedConnection);
        if (++clicked == clicks)
            storm.stop();
    });
    storm.start(0);
    QByteArray got;
    waitUntil([&] { return clicked == clicks; }, 600s);
    QElapsedTimer sinceLastClick;
    sinceLastClick.start();
    const qsizetype expected = qsizetype(clicks) * (load.size() + write.size());
    waitUntil([&] { got += h.far.readAll(10ms); return got.size() >= expected; }, 5s);
    const qint64 settled = sinceLastClick.elapsed();
    // Each second half follows one first half: the count of open sequences never goes negative.
    int open = 0, lowest = 0;
    for (qsizetype at = 0; at < got.size();) {
        const bool isLoad = got.sliced(at).startsWith(load);
        open += isLoad ? 1 : -1;
        lowest = std::min(lowest, open);
        at += isLoad ? load.size() : write.size();
    }
    tally.check(got.size() == expected && open == 0 && lowest == 0,
                QStringLiteral("%1 bytes, %2 sequences left open").arg(got.size()).arg(open));
    tally.check(settled < 2000, QStringLiteral("second halves %1 ms after the last click").arg(settled));
    tally.lost += std::max<qint64>(0, expected - got.size());
    std::printf("click storm: %d clicks, every sequence whole %lld ms after the last click\n", clicks, qlonglong(settled));
    return tally.finish("clickstorm");
}

// A main window in a process of its own, as the program runs, until a signal ends it.
int runUntilSignal(int port, int frameBytes)
{
    closePortsAtEveryEnd();
    Module1 module;
    module.programDir = programDir();
    module.SelectedPort = quint8(port);
    auto *form = new Form1(module);
    form->load();
    form->show();
    form->Text3->setText(QString(frameBytes, u'q'));
    form->Command9->click();
    std::printf("running\n");
    std::fflush(stdout);
    const int status = QCoreApplication::exec();
    PortDrain::waitForAll();
    return status;
}

// SIGTERM while a frame is still on its way: it must reach the line whole, and the lock must go.
int sigterm(int rounds)
{
    Tally tally;
    removeSettingsFile();
    constexpr int frameBytes = 20000;
    for (int round = 0; round < rounds; ++round) {
        Pty far;
        far.linkAs(programDir(), 13);
        const QString lock = QStringLiteral("/var/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_');
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("rununtilsignal"), QStringLiteral("13"), QString::number(frameBytes)});
        const bool running = program.waitForReadyRead(10000) && far.waitForRawMode();
        tally.check(running && QFile::exists(lock), QStringLiteral("round %1: port open and locked").arg(round));
        ::kill(pid_t(program.processId()), SIGTERM);
        const QByteArray got = far.read(frameBytes + 1, 10s);
        program.waitForFinished(10000);
        tally.check(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                    QStringLiteral("round %1: ended cleanly").arg(round));
        tally.check(!QFile::exists(lock), QStringLiteral("round %1: lock gone").arg(round));
        tally.compareStream("@" + QByteArray(frameBytes, 'q'), got, false, QStringLiteral("round %1: frame").arg(round));
    }
    std::printf("SIGTERM %d times with a %d-byte frame on its way\n", rounds, frameBytes);
    return tally.finish("sigterm");
}

// How each end of a run tells what happened to the bytes it was given: the command line to a
// line that takes nothing, interrupted between ports, stopped twice while it drains, and with
// its output closed; the window's drain stopped from its progress window; the exit handler's
// write-out ended by SIGTERM. Prints bytes queued and delivered, how each ended, locks left.
int ends(int rounds)
{
    Tally tally;
    removeSettingsFile();
    int locksLeft = 0;
    const auto lockOf = [](const Pty &far) {
        return QStringLiteral("/var/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_');
    };
    const auto cli = [&](QProcess &run, const QStringList &arguments) {
        run.start(QStringLiteral(TK_CLI_PATH), arguments);
        run.waitForStarted();
    };
    // Timers must fire meanwhile: they send the signals.
    const auto finished = [](QProcess &run) { return waitUntil([&] { return run.state() == QProcess::NotRunning; }, 20s); };
    const auto interrupt = [](QProcess &run) {
        if (run.processId() > 0)
            ::kill(pid_t(run.processId()), SIGINT);
    };
    for (int round = 0; round < rounds; ++round) {
        Pty full, a, b, c, monitored;
        QProcess undelivered, interrupted, stopped, monitor, head;
        constexpr int queued = 20000;
        cli(undelivered, {"-b", "115200", "-p", full.devicePath(), "command", QString(queued, u'x')});
        cli(interrupted, {"-j", "1", "-p", a.devicePath(), "-p", b.devicePath(), "-p", c.devicePath(), "message", "X"});
        QTimer::singleShot(300, &interrupted, [&] { interrupt(interrupted); });
        monitor.setStandardOutputProcess(&head);
        head.start(QStringLiteral("head"), {"-c", "5"});
        cli(monitor, {"-p", monitored.devicePath(), "monitor"});
        monitored.waitForRawMode();
        monitored.write("more than five bytes\r\n");
        finished(head);
        monitored.write("more\r\n");
        for (QProcess *run : {&undelivered, &interrupted, &monitor})
            finished(*run);
        const QString said = QString::fromUtf8(undelivered.readAllStandardError());
        const qsizetype delivered = full.readAll().size();
        std::printf("ends round %d: %d bytes queued to a line that read none, %lld delivered: %s", round, queued + 1,
                    qlonglong(delivered), qPrintable(said));
        tally.check(undelivered.exitCode() == 1 && said.contains(QStringLiteral("of %1 bytes did not leave").arg(queued + 1)),
                    QStringLiteral("round %1: undelivered bytes reported").arg(round));
        const QByteArray notServed = interrupted.readAllStandardError();
        tally.check(interrupted.exitCode() == 130 && notServed.count("not served: interrupted") == 2,
                    QStringLiteral("round %1: interrupted ports named (%2: %3)")
                        .arg(round)
                        .arg(interrupted.exitCode())
                        .arg(QString::fromUtf8(notServed)));
        tally.check(monitor.exitStatus() == QProcess::NormalExit && monitor.exitCode() == 141,
                    QStringLiteral("round %1: closed output ended monitor").arg(round));

        // Stopped twice while 40 001 bytes wait on a 4800-baud line that reads nothing.
        QElapsedTimer took;
        took.start();
        cli(stopped, {"-b", "4800", "-p", full.devicePath(), "command", QString(40000, u'x')});
        QTimer::singleShot(500, &stopped, [&] { interrupt(stopped); });
        QTimer::singleShot(800, &stopped, [&] { interrupt(stopped); });
        finished(stopped);
        std::printf("ends round %d: two SIGINTs during a drain: status %d after %lld ms\n", round, stopped.exitCode(),
                    took.elapsed());
        tally.check(stopped.exitCode() == 1 && took.elapsed() < 3000, QStringLiteral("round %1: drain stopped").arg(round));

        // The window's bytes, stopped from the progress window.
        Form1Harness h(14);
        h.form->Text3->setText(QString(30000, u'x'));
        h.click(h.form->Command9);
        h.form->close();
        QTimer::singleShot(1500, [] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *stop = w->findChild<QPushButton *>(QStringLiteral("stopSending")); stop && w->isVisible())
                    stop->click();
            }
        });
        const qint64 left = finishSending();
        std::printf("ends round %d: window closed with 30001 bytes queued, stopped: %lld left\n", round, qlonglong(left));
        tally.check(left > 0, QStringLiteral("round %1: the window's drain stopped").arg(round));
        for (const Pty *far : {&full, &a, &b, &c, &monitored, &h.far})
            locksLeft += QFile::exists(lockOf(*far));
    }
    // Last, as it leaves stop signals armed: the exit handler's write-out, ended by SIGTERM.
    Form1Harness h(14);
    h.form->Text3->setText(QString(30000, u'x'));
    h.click(h.form->Command9);
    std::thread([] {
        std::this_thread::sleep_for(300ms);
        ::kill(::getpid(), SIGTERM);
    }).detach();
    QElapsedTimer took;
    took.start();
    CommPort::closeAllNow();
    locksLeft += QFile::exists(lockOf(h.far));
    std::printf("ends: exit write-out ended by SIGTERM after %lld ms; locks left: %d\n", took.elapsed(), locksLeft);
    tally.check(took.elapsed() < 2000 && locksLeft == 0, QStringLiteral("every end released its lock"));
    return tally.finish("ends");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    designfonts::install();
    const QStringList args = app.arguments().mid(1);
    const QString scenario = args.value(0);
    const auto number = [&](int index, int fallback) { return args.size() > index ? args[index].toInt() : fallback; };

    if (scenario == u"cycles")
        return cycles(number(1, 100), number(2, 1024 * 1024), false);
    if (scenario == u"windowcycles")
        return cycles(number(1, 10), number(2, 128 * 1024), true);
    if (scenario == u"settings")
        return settings();
    if (scenario == u"twoinstances")
        return twoInstances();
    if (scenario == u"closeinwait")
        return closeInWait(number(1, 50));
    if (scenario == u"memory")
        return memory(number(1, 300));
    if (scenario == u"trickle")
        return trickle(number(1, 256), number(2, 10));
    if (scenario == u"ports")
        return ports();
    if (scenario == u"wholerun")
        return wholeRun(app);
    if (scenario == u"hangup")
        return afterHangUp();
    if (scenario == u"hold")
        return holdPort(number(1, 7), number(2, 3000));
    if (scenario == u"slowline")
        return slowLine(number(1, 20), number(2, 20000), number(3, 480));
    if (scenario == u"clickstorm")
        return clickStorm(number(1, 5000));
    if (scenario == u"sigterm")
        return sigterm(number(1, 20));
    if (scenario == u"ends")
        return ends(number(1, 3));
    if (scenario == u"rununtilsignal")
        return runUntilSignal(number(1, 13), number(2, 20000));
    std::fprintf(stderr, "usage: tk_soak cycles|windowcycles [count] [bytes] | settings | ports | twoinstances | closeinwait [count] | hangup | memory [rounds] | trickle [line KB] [seconds] | wholerun | slowline [frames] [bytes] [bytes/s] | clickstorm [clicks] | sigterm [rounds] | ends [rounds]\n");
    return 2;
}
