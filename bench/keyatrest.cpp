// A key and a click at rest, through a real X server: the built program under Xvfb on a
// pseudo-terminal, Alt+T and a click on its button sent as XTEST input, and the time from
// sending them to "@S" at the far end. Run by hand: keyatrest [presses [program]]
#include "farend.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

namespace {

const QString caption = QStringLiteral("Vexla Terminal Kontrol V 6.2");
// The centre of "Terminalden Bilgi Okuma" (Alt+T) in the main window, in pixels.
constexpr int buttonX = 92;
constexpr int buttonY = 92;
constexpr xcb_keysym_t altKey = 0xffe9;
constexpr xcb_keysym_t tKey = 0x74;

QProcessEnvironment displayEnvironment(const QString &display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return environment;
}

QString xdotool(const QString &display, const QStringList &arguments)
{
    QProcess tool;
    tool.setProcessEnvironment(displayEnvironment(display));
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(10000);
    return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
}

QString waitForWindow(const QString &display, const QString &notId = QString())
{
    QString found;
    waitUntil(
        [&] {
            const QStringList ids =
                xdotool(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                  caption})
                    .split(u'\n', Qt::SkipEmptyParts);
            for (const QString &id : ids) {
                if (id != notId)
                    found = id;
            }
            return !found.isEmpty();
        },
        10s);
    return found;
}

xcb_keycode_t keycodeOf(xcb_connection_t *x, xcb_keysym_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(x);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *map =
        xcb_get_keyboard_mapping_reply(x, xcb_get_keyboard_mapping(x, setup->min_keycode, count), nullptr);
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
    xcb_keycode_t found = 0;
    for (int i = 0; i < count * map->keysyms_per_keycode && !found; ++i) {
        if (syms[i] == keysym)
            found = xcb_keycode_t(setup->min_keycode + i / map->keysyms_per_keycode);
    }
    free(map);
    return found;
}

// Milliseconds from `sent` to the arrival of `count` bytes at the far end; negative if none came.
double arrival(const Pty &far, qsizetype count, Steady::time_point sent)
{
    char bytes[64];
    qsizetype seen = 0;
    while (seen < count) {
        pollfd fd = {far.masterFd(), POLLIN, 0};
        if (::poll(&fd, 1, 2000) <= 0)
            return -1;
        const ssize_t n = ::read(far.masterFd(), bytes, sizeof bytes);
        if (n > 0)
            seen += n;
    }
    return std::chrono::duration<double, std::milli>(Steady::now() - sent).count();
}

void drain(const Pty &far)
{
    char bytes[4096];
    while (::read(far.masterFd(), bytes, sizeof bytes) > 0) {
    }
}

void report(const char *what, std::vector<double> runs)
{
    std::sort(runs.begin(), runs.end());
    if (runs.empty()) {
        std::printf("%s: nothing arrived\n", what);
        return;
    }
    std::printf("%s: median %.3f ms, p90 %.3f ms, best %.3f ms (%zu presses)\n", what, runs[runs.size() / 2],
                runs[runs.size() * 9 / 10], runs.front(), runs.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(1, atoi(argv[1])) : 40;

    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1280x1024x24")});
    if (!xvfb.waitForStarted() || !waitUntil([&] { return xvfb.canReadLine(); }, 10s)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const QString display = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine()).trimmed();

    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("terminal-kontrol"));
    QFile::copy(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(TK_PROGRAM_PATH), program);
    Pty far;
    far.linkAs(dir.path(), 3);
    QProcess run;
    run.setProcessEnvironment(displayEnvironment(display));
    run.start(program, {});
    const QString portWindow = waitForWindow(display);
    xdotool(display, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), portWindow});
    // COM1 is selected and the list has the focus: two steps down is COM3; Alt+T confirms.
    xdotool(display, {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"), QStringLiteral("Down"),
                      QStringLiteral("Down"), QStringLiteral("alt+t")});
    const QString mainWindow = far.waitForRawMode(10s) ? waitForWindow(display, portWindow) : QString();
    if (mainWindow.isEmpty()) {
        std::fprintf(stderr, "the program did not open COM3\n");
        return 1;
    }
    xdotool(display, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), mainWindow});
    const QStringList place =
        xdotool(display, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), mainWindow}).split(u'\n');
    const int windowX = place.filter(QStringLiteral("X=")).value(0).mid(2).toInt();
    const int windowY = place.filter(QStringLiteral("Y=")).value(0).mid(2).toInt();

    xcb_connection_t *x = xcb_connect(qPrintable(display), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const xcb_keycode_t alt = keycodeOf(x, altKey);
    const xcb_keycode_t t = keycodeOf(x, tKey);
    const auto fake = [&](uint8_t type, uint8_t detail, int16_t atX = 0, int16_t atY = 0) {
        xcb_test_fake_input(x, type, detail, XCB_CURRENT_TIME, root, atX, atY, 0);
    };
    std::this_thread::sleep_for(300ms);
    drain(far);

    std::vector<double> keys;
    std::vector<double> clicks;
    for (int press = 0; press < presses; ++press) {
        fake(XCB_KEY_PRESS, alt);
        fake(XCB_KEY_PRESS, t);
        const auto sent = Steady::now();
        xcb_flush(x);
        if (const double ms = arrival(far, 2, sent); ms >= 0)
            keys.push_back(ms);
        fake(XCB_KEY_RELEASE, t);
        fake(XCB_KEY_RELEASE, alt);
        xcb_flush(x);
        std::this_thread::sleep_for(150ms); // the press shown on the button is over
        drain(far);

        fake(XCB_MOTION_NOTIFY, 0, int16_t(windowX + buttonX), int16_t(windowY + buttonY));
        xcb_flush(x);
        std::this_thread::sleep_for(20ms);
        fake(XCB_BUTTON_PRESS, 1);
        fake(XCB_BUTTON_RELEASE, 1);
        const auto clicked = Steady::now();
        xcb_flush(x);
        if (const double ms = arrival(far, 2, clicked); ms >= 0)
            clicks.push_back(ms);
        std::this_thread::sleep_for(150ms);
        drain(far);
    }
    report("Alt+T to \"@S\" at the far end", keys);
    report("click to \"@S\" at the far end", clicks);

    xcb_disconnect(x);
    run.terminate();
    run.waitForFinished(10000);
    xvfb.terminate();
    xvfb.waitForFinished();
    return 0;
}
