#include "xvfbbench.h"

#include "twips.h"

#include <QFile>
#include <QFileInfo>

#include <functional>
#include <stdexcept>
#include <thread>

#include <poll.h>
#include <xcb/xtest.h>

namespace {

constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymT = 0x74;
constexpr int benchPort = 1;
// Command17 ("Access", "@A") where the main window lays it out.
constexpr QRect accessButton = twipsRect(120, 720, 1215, 375);

} // namespace

XServer::XServer()
{
    // -displayfd 1: the server picks a free display and names it on its standard output.
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24")});
    if (!m_xvfb.waitForStarted())
        return;
    const auto deadline = Steady::now() + 10s;
    while (!m_xvfb.canReadLine() && Steady::now() < deadline)
        m_xvfb.waitForReadyRead(100);
    if (!m_xvfb.canReadLine())
        return;
    const QByteArray display = ':' + m_xvfb.readLine().trimmed();
    m_xvfb.setProperty("display", QString::fromLatin1(display));
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(display.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
}

XServer::~XServer()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

QProcessEnvironment XServer::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_xvfb.property("display").toString());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // As the operators run it: the toolkit's own texts in Turkish.
    environment.insert(QStringLiteral("LANG"), QStringLiteral("tr_TR.UTF-8"));
    return environment;
}

std::optional<std::pair<xcb_window_t, Steady::time_point>> XServer::nextMap(Steady::duration limit)
{
    const auto deadline = Steady::now() + limit;
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const auto now = Steady::now();
            const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            const xcb_window_t window = map->window;
            // Tooltips and menus map too; they are not a window of the program's own.
            const bool topLevel = mapped && !map->override_redirect;
            std::free(event);
            if (topLevel)
                return std::make_pair(window, now);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left <= 0ms || xcb_connection_has_error(m_connection))
            return std::nullopt;
        pollfd ready{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        ::poll(&ready, 1, int(left.count()));
    }
}

void XServer::focus(xcb_window_t window)
{
    // As `xdotool windowfocus` does; there is no window manager to activate it.
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
    std::this_thread::sleep_for(300ms);
}

QPoint XServer::origin(xcb_window_t window)
{
    xcb_translate_coordinates_reply_t *reply = xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
    const QPoint point = reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint();
    std::free(reply);
    return point;
}

xcb_keycode_t XServer::keycode(xcb_keysym_t keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const uint8_t count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, count), nullptr);
    if (!reply)
        return 0;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply);
    xcb_keycode_t found = 0;
    for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(reply) && found == 0; ++i) {
        if (keysyms[i] == keysym)
            found = xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
    }
    std::free(reply);
    return found;
}

void XServer::fake(uint8_t type, uint8_t detail, QPoint onScreen)
{
    xcb_test_fake_input(m_connection, type, detail, XCB_CURRENT_TIME, m_root, int16_t(onScreen.x()), int16_t(onScreen.y()),
                        XCB_NONE);
}

Steady::time_point XServer::pressAltT()
{
    fake(XCB_KEY_PRESS, keycode(keysymAltL));
    fake(XCB_KEY_PRESS, keycode(keysymT));
    const auto pressed = Steady::now();
    xcb_flush(m_connection);
    return pressed;
}

void XServer::releaseAltT()
{
    fake(XCB_KEY_RELEASE, keycode(keysymT));
    fake(XCB_KEY_RELEASE, keycode(keysymAltL));
    xcb_flush(m_connection);
}

Steady::time_point XServer::click(QPoint onScreen)
{
    fake(XCB_MOTION_NOTIFY, 0, onScreen);
    xcb_flush(m_connection);
    std::this_thread::sleep_for(50ms);
    // A button clicks when it is released.
    fake(XCB_BUTTON_PRESS, 1, onScreen);
    fake(XCB_BUTTON_RELEASE, 1, onScreen);
    const auto clicked = Steady::now();
    xcb_flush(m_connection);
    return clicked;
}

ProgramOnX::ProgramOnX(XServer &server, const QStringList &command, FarEnd *far)
    : m_server(server), m_far(far), m_program(m_dir.filePath(QFileInfo(command.first()).fileName())),
      m_arguments(command.mid(1))
{
    if (!QFile::copy(command.first(), m_program))
        throw std::runtime_error("the program could not be copied");
    if (m_far)
        m_far->linkAs(m_dir.path(), benchPort);
    m_process.setProcessEnvironment(server.environment());
    m_process.setStandardOutputFile(QProcess::nullDevice());
}

ProgramOnX::~ProgramOnX()
{
    // Ended as the operator's desktop would, so that it releases its port's lock.
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished();
}

std::optional<double> ProgramOnX::startMilliseconds()
{
    const auto start = Steady::now();
    m_process.start(m_program, m_arguments);
    const auto map = m_server.nextMap(10s);
    if (!map)
        return std::nullopt;
    m_firstWindow = map->first;
    return milliseconds(map->second - start);
}

std::optional<xcb_window_t> ProgramOnX::openCom1()
{
    if (m_firstWindow == 0 && !startMilliseconds())
        return std::nullopt;
    // COM1 is selected in the port window; Alt+T confirms it.
    m_server.focus(m_firstWindow);
    m_server.pressAltT();
    m_server.releaseAltT();
    const auto main = m_server.nextMap(10s);
    const auto deadline = Steady::now() + 5s;
    while (main && !m_far->rawMode() && Steady::now() < deadline)
        std::this_thread::sleep_for(10ms);
    if (!main || !m_far->rawMode())
        return std::nullopt;
    return main->first;
}

std::vector<std::vector<double>> startups(const QList<QStringList> &commands, int runs)
{
    XServer server;
    std::vector<std::vector<double>> results(size_t(commands.size()));
    for (int run = -1; server.up() && run < runs; ++run) {
        for (qsizetype i = 0; i < commands.size(); ++i) {
            ProgramOnX program(server, commands[i]);
            const std::optional<double> startup = program.startMilliseconds();
            if (startup && run >= 0)
                results[size_t(i)].push_back(*startup);
        }
    }
    return results;
}

double residentAtStart(const QString &path)
{
    XServer server;
    ProgramOnX program(server, {path});
    if (!server.up() || !program.startMilliseconds())
        return NAN;
    std::this_thread::sleep_for(1s);
    return statusMegabytes("VmRSS", program.pid());
}

namespace {

// The shares of a core that the program and the X server took while `during` ran.
std::pair<double, double> shares(pid_t program, pid_t server, const std::function<void()> &during)
{
    const auto start = Steady::now();
    const double programBefore = processorSeconds(program);
    const double serverBefore = processorSeconds(server);
    during();
    const double span = seconds(Steady::now() - start);
    return {(processorSeconds(program) - programBefore) / span, (processorSeconds(server) - serverBefore) / span};
}

// From each action to its frame at the far end, read on this thread.
std::vector<double> latencies(FarEnd &far, const QByteArray &frame, const std::function<Steady::time_point()> &act)
{
    std::vector<double> results;
    for (int press = 0; press < keyPresses; ++press) {
        const auto acted = act();
        QByteArray seen;
        while (seen.size() < frame.size()) {
            const QByteArray got = far.read(2s);
            if (got.isEmpty())
                break;
            seen += got;
        }
        if (seen == frame)
            results.push_back(milliseconds(Steady::now() - acted));
        std::this_thread::sleep_for(150ms); // the press shown on the button is over
        far.discardUnread();
    }
    return results;
}

} // namespace

ThroughX measureProgramThroughX(const QString &path)
{
    ThroughX result;
    XServer server;
    FarEnd far;
    ProgramOnX program(server, {path}, &far);
    const std::optional<xcb_window_t> window = server.up() ? program.openCom1() : std::nullopt;
    if (!window)
        return result;
    server.focus(*window);
    std::this_thread::sleep_for(1s);
    result.residentAtRest = statusMegabytes("VmRSS", program.pid());
    std::tie(result.idleShare, result.idleServerShare) =
        shares(program.pid(), server.pid(), [] { std::this_thread::sleep_for(idleSpan); });

    std::atomic_bool stop = false;
    std::thread writer([&] { sendTrickle(far, stop); });
    std::this_thread::sleep_for(1s);
    std::tie(result.trickleShare, result.trickleServerShare) =
        shares(program.pid(), server.pid(), [] { std::this_thread::sleep_for(trickleSpan); });
    stop = true;
    writer.join();
    std::this_thread::sleep_for(500ms);

    far.discardUnread();
    result.keyLatencies = latencies(far, "@S", [&] {
        const auto pressed = server.pressAltT();
        server.releaseAltT();
        return pressed;
    });
    const QPoint button = server.origin(*window) + accessButton.center();
    result.clickLatencies = latencies(far, "@A", [&] { return server.click(button); });

    stop = false;
    sendStream(far, 16 * megabyte, true, stop);
    // The flood is in once the program has stopped working on it.
    double before = -1;
    for (double now = processorSeconds(program.pid()); now != before; now = processorSeconds(program.pid())) {
        before = now;
        std::this_thread::sleep_for(500ms);
    }
    result.peakAfterFlood = statusMegabytes("VmHWM", program.pid());
    return result;
}
