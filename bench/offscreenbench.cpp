#include "offscreenbench.h"

#include "commport.h"
#include "form1.h"
#include "module1.h"
#include "pacedwait.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <pthread.h>
#include <time.h>

namespace {

// The windows' controls by their design names, which every release gives them as object names.
ReceiveConsole *consoleOf(const Form1 &form)
{
    return form.findChild<ReceiveConsole *>(QStringLiteral("Text8"));
}

// How many characters the console holds, without converting its whole text where the release
// can tell: a conversion of megabytes would stall the window being measured.
template <typename Console>
qsizetype heldCharacters(const Console *console)
{
    if constexpr (requires { console->buffer().size(); })
        return console->buffer().size();
    else
        return console->text().size();
}


constexpr auto ingestLimit = 60s; // a console slower than this is reported as stopped
constexpr int benchPort = 7;
constexpr int slowBaud = 4800;
constexpr auto byteTime = std::chrono::duration<double>(10.0 / slowBaud); // start, 8 data, stop bits
constexpr auto clickInterval = 25ms;

// Whether `text` is the stream's last text.size() bytes of `size`: a console with a capacity
// keeps only the newest part.
bool isStream(const QString &text, qsizetype size, bool breaks)
{
    const qsizetype from = size - text.size();
    if (from < 0 || (from > 0 && text.size() < 32 * megabyte))
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char(streamByte(from + i, breaks)))
            return false;
    }
    return true;
}

// Marks the end of each repaint of the window that painted the console, with the console's
// length at that paint: every byte up to that length is on screen from then on.
class PaintProbe : public QObject
{
public:
    PaintProbe(QWidget *window, ReceiveConsole *console, std::function<void(qsizetype)> shown)
        : m_window(window), m_console(console), m_shown(std::move(shown))
    {
        m_window->installEventFilter(this);
        m_console->viewport()->installEventFilter(this);
    }
    ~PaintProbe() override
    {
        m_window->removeEventFilter(this);
        m_console->viewport()->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_console->viewport() && event->type() == QEvent::Paint) {
            m_paintedLength = heldCharacters(m_console);
            ++paints;
            return false;
        }
        if (watched == m_window && event->type() == QEvent::UpdateRequest && !m_inside) {
            m_inside = true;
            m_paintedLength = -1;
            static_cast<QObject *>(m_window)->event(event);
            m_inside = false;
            if (m_paintedLength >= 0)
                m_shown(m_paintedLength);
            return true;
        }
        return false;
    }

public:
    int paints = 0;

private:
    QWidget *m_window;
    ReceiveConsole *m_console;
    std::function<void(qsizetype)> m_shown;
    qsizetype m_paintedLength = -1;
    bool m_inside = false;
};

double ownThreadProcessorSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double threadProcessorSeconds(std::thread &thread)
{
    clockid_t clock{};
    timespec t{};
    if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || ::clock_gettime(clock, &t) != 0)
        throw std::runtime_error("no processor clock for the far end's thread");
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

Bench::Bench()
{
    m_module.programDir = QCoreApplication::applicationDirPath();
    m_module.SelectedPort = benchPort;
    m_far.linkAs(m_module.programDir, benchPort);
    m_form = new Form1(m_module);
    m_form->load();
    m_form->show();
    if (!runUntil([this] { return m_far.rawMode(); }, 5s))
        throw std::runtime_error("the program did not open the line");
    runFor(300ms);
}

Bench::~Bench()
{
    delete m_form;
}

void Bench::clearConsole()
{
    m_form->findChild<QPushButton *>(QStringLiteral("Command15"))->click();
    runFor(50ms);
}

Ingest Bench::ingest(qsizetype size, bool breaks)
{
    clearConsole();
    ReceiveConsole *console = consoleOf(*m_form);
    Ingest result;
    result.size = size;
    result.breaks = breaks;

    Steady::time_point atFirstWindow, atLastWindow, atEnd;
    // The window's own processor time at the same points: on two cores the far end's writer
    // competes with the window, and the arrival rate moves with it more than with the console.
    double workAtStart = NAN, workAtFirstWindow = NAN, workAtLastWindow = NAN, workAtEnd = NAN;
    const auto start = Steady::now();
    qsizetype have = 0;
    // Connected after the window's own connection: runs once the bytes are in the console.
    const auto watch = QObject::connect(&m_form->link(), &PortLink::received, console, [&](const QByteArray &bytes) {
        const double work = ownThreadProcessorSeconds();
        if (have == 0)
            workAtStart = work;
        have += bytes.size();
        const auto now = Steady::now();
        if (have >= sustainedWindow && atFirstWindow == Steady::time_point()) {
            atFirstWindow = now;
            workAtFirstWindow = work;
        }
        if (have >= size - sustainedWindow && atLastWindow == Steady::time_point()) {
            atLastWindow = now;
            workAtLastWindow = work;
        }
        if (have >= size && atEnd == Steady::time_point()) {
            atEnd = now;
            workAtEnd = work;
        }
    });
    std::atomic_bool stop = false;
    std::thread writer([&] { sendStream(m_far, size, breaks, stop); });
    result.complete = runUntil([&] { return atEnd != Steady::time_point(); }, ingestLimit);
    const auto finish = result.complete ? atEnd : Steady::now();
    stop = true;
    writer.join();
    QObject::disconnect(watch);

    result.reached = std::min(have, size);
    result.seconds = seconds(finish - start);
    if (result.complete) {
        // Before the check, whose copy of the text is the bench's, not the console's.
        result.residentAfter = statusMegabytes("VmRSS");
        result.peakAfter = statusMegabytes("VmHWM");
        result.exact = isStream(console->text(), size, breaks);
        if (size >= 2 * sustainedWindow) {
            const double window = double(sustainedWindow) / megabyte;
            result.firstWindowRate = window / seconds(atFirstWindow - start);
            result.lastWindowRate = window / seconds(atEnd - atLastWindow);
            result.firstWindowWorkRate = window / (workAtFirstWindow - workAtStart);
            result.lastWindowWorkRate = window / (workAtEnd - workAtLastWindow);
        }
    } else {
        // Let the console take what is still in flight before the next run clears it.
        m_far.discardUnread();
        qsizetype last = -1;
        runUntil(
            [&] {
                const qsizetype now = have;
                const bool settled = now == last;
                last = now;
                return settled;
            },
            30s, 200ms);
    }
    clearConsole();
    return result;
}

std::optional<Ingest> Bench::ingestInByteView(qsizetype size)
{
    const auto show = [](auto *console, bool shown) {
        if constexpr (requires { console->setShowsBytes(shown); }) {
            console->setShowsBytes(shown);
            return true;
        }
        return false;
    };
    if (!show(consoleOf(*m_form), true))
        return std::nullopt;
    const Ingest run = ingest(size, true);
    show(consoleOf(*m_form), false);
    return run;
}

std::vector<double> Bench::displayLatencies()
{
    clearConsole();
    ReceiveConsole *console = consoleOf(*m_form);
    // Short lines, so that each new byte falls inside the console's view.
    QByteArray bytes;
    for (int line = 0; bytes.size() < pacedBytes; ++line)
        bytes += QByteArray::number(line).rightJustified(6, '0') + " 0123456789ABCDE\r\n";
    bytes.truncate(pacedBytes);

    std::vector<Steady::time_point> written(size_t(bytes.size()));
    std::atomic<qsizetype> writtenCount = 0;
    std::vector<double> latencies;
    qsizetype shownCount = 0;
    PaintProbe probe(m_form, console, [&](qsizetype length) {
        const auto now = Steady::now();
        const qsizetype upTo = std::min<qsizetype>(length, writtenCount);
        for (; shownCount < upTo; ++shownCount)
            latencies.push_back(milliseconds(now - written[size_t(shownCount)]));
    });

    std::atomic_bool stop = false;
    std::thread writer([&] {
        const auto start = Steady::now();
        for (qsizetype i = 0; i < bytes.size() && !stop; ++i) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<Steady::duration>(byteTime * double(i)));
            m_far.write(bytes.sliced(i, 1), stop);
            written[size_t(i)] = Steady::now();
            writtenCount = i + 1;
        }
    });
    runUntil([&] { return shownCount >= bytes.size(); }, 30s);
    stop = true;
    writer.join();
    clearConsole();
    return latencies;
}

std::vector<double> Bench::buttonLatencies(qsizetype floodSize)
{
    clearConsole();
    QPushButton *button = m_form->findChild<QPushButton *>(QStringLiteral("Command17"));
    const QByteArray frame("@A");
    const QPointF local = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(local);
    const QPointingDevice *mouse = QPointingDevice::primaryPointingDevice();

    std::mutex lock;
    std::vector<Steady::time_point> pressed;
    std::vector<double> latencies;
    std::atomic_bool stop = false;
    std::atomic_bool flooded = false;

    std::thread writer([&] {
        sendStream(m_far, floodSize, true, stop);
        flooded = true;
    });
    // The operator's clicks come from outside the program's thread, at their own pace.
    std::thread operatorHand([&] {
        while (!flooded && !stop) {
            std::this_thread::sleep_for(clickInterval);
            {
                const std::lock_guard guard(lock);
                pressed.push_back(Steady::now());
            }
            QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                                                Qt::LeftButton, Qt::NoModifier, mouse));
            QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                                                Qt::NoButton, Qt::NoModifier, mouse));
        }
    });
    std::thread reader([&] {
        QByteArray seen;
        size_t frames = 0;
        for (;;) {
            const QByteArray got = m_far.read(20ms);
            const auto now = Steady::now();
            seen += got;
            for (; qsizetype(frames + 1) * frame.size() <= seen.size(); ++frames) {
                const std::lock_guard guard(lock);
                if (frames < pressed.size())
                    latencies.push_back(milliseconds(now - pressed[frames]));
            }
            if (got.isEmpty() && stop)
                break;
        }
        if (seen != frame.repeated(qsizetype(frames)))
            std::fprintf(stderr, "unexpected bytes at the far end\n");
    });

    const qsizetype expected = heldCharacters(consoleOf(*m_form)) + floodSize;
    runUntil([&] { return flooded && heldCharacters(consoleOf(*m_form)) >= expected; }, 4 * ingestLimit);
    stop = true;
    writer.join();
    operatorHand.join();
    runUntil(
        [&] {
            const std::lock_guard guard(lock);
            return latencies.size() >= pressed.size();
        },
        5s);
    reader.join();
    m_far.discardUnread();
    runFor(500ms);
    clearConsole();
    return latencies;
}

double Bench::idleLoad()
{
    m_form->activateWindow();
    consoleOf(*m_form)->setFocus();
    runFor(1s);
    const auto start = Steady::now();
    const double before = processorSeconds();
    runFor(idleSpan);
    return (processorSeconds() - before) / seconds(Steady::now() - start);
}

// What this machine charges for waking once a frame with nothing to do: the idle window with a
// bare timer at the console's pace. A trickle, shown once a frame, cannot cost less.
double Bench::frameClockLoad()
{
    QTimer frameClock;
    frameClock.setTimerType(Qt::PreciseTimer);
    frameClock.start(16ms);
    return idleLoad();
}

// The program's share of a core while a far end sends 100 short lines a second. The far end's
// thread, its waking as well as its writes, is left out: on a real line it is another machine.
double Bench::trickleLoad()
{
    clearConsole();
    m_form->activateWindow();
    consoleOf(*m_form)->setFocus();
    std::atomic_bool stop = false;
    std::thread writer([&] { sendTrickle(m_far, stop); });
    runFor(1s);
    const auto start = Steady::now();
    const double before = processorSeconds();
    const double writerBefore = threadProcessorSeconds(writer);
    runFor(trickleSpan);
    const double writerSeconds = threadProcessorSeconds(writer) - writerBefore;
    const double load = (processorSeconds() - before - writerSeconds) / seconds(Steady::now() - start);
    stop = true;
    writer.join();
    clearConsole();
    return load;
}

std::vector<double> Bench::accessKeyLatencies()
{
    clearConsole();
    m_form->activateWindow();
    runUntil([this] { return QApplication::activeWindow() == m_form; }, 5s);
    const QByteArray frame("@S");
    std::vector<double> latencies;
    for (int press = 0; press < keyPresses; ++press) {
        std::atomic<Steady::time_point::rep> arrived = 0;
        std::thread reader([&] {
            QByteArray seen;
            while (seen.size() < frame.size()) {
                const QByteArray got = m_far.read(2s);
                if (got.isEmpty())
                    return;
                seen += got;
            }
            arrived = Steady::now().time_since_epoch().count();
        });
        const auto pressed = Steady::now();
        QTest::keyClick(m_form->windowHandle(), Qt::Key_T, Qt::AltModifier);
        runUntil([&] { return arrived != 0; }, 3s, 1ms);
        reader.join();
        if (arrived != 0)
            latencies.push_back(milliseconds(Steady::time_point(Steady::duration(arrived.load())) - pressed));
        runFor(150ms); // the press shown on the button is over
    }
    clearConsole();
    return latencies;
}

double Bench::pacedWaitLoad()
{
    PacedWait(1); // from here on a wait lasts a whole second
    const auto start = Steady::now();
    const double before = processorSeconds();
    PacedWait(1);
    return (processorSeconds() - before) / seconds(Steady::now() - start);
}

Connecting connecting(const QString &url)
{
    CommPort port(QCoreApplication::applicationDirPath());
    port.setSettings(QStringLiteral("9600,n,8,1"));
    port.setRoute(url);
    Connecting run;
    bool answered = false;
    QObject::connect(&port, &CommPort::opened, [&] { answered = true; });
    QObject::connect(&port, &CommPort::openFailed, [&](int number) {
        run.failure = number;
        answered = true;
    });
    const auto start = Steady::now();
    auto last = start;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Steady::now();
        run.longestGap = std::max(run.longestGap, milliseconds(now - last));
        last = now;
    });
    tick.start(1);
    try {
        port.openPort();
    } catch (const CommError &failure) {
        run.failure = failure.number();
        answered = true;
    }
    runUntil([&] { return answered; }, 10s, 1ms);
    run.answer = milliseconds(Steady::now() - start);
    run.longestGap = std::max(run.longestGap, milliseconds(Steady::now() - last));
    return run;
}
