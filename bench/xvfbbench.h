#pragma once

#include "benchsupport.h"

#include <QPoint>
#include <QProcess>
#include <QTemporaryDir>

#include <optional>

#include <xcb/xcb.h>

// A fresh Xvfb of the bench's own (no window manager), and a client of the bench's own on it
// that sees top-level windows map and plays the operator's keyboard and mouse (XTEST).
class XServer
{
public:
    XServer();
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    bool up() const { return m_connection != nullptr; }
    pid_t pid() const { return pid_t(m_xvfb.processId()); }
    QProcessEnvironment environment() const;

    // The next top-level window that maps, and when the server told so; nothing after `limit`.
    std::optional<std::pair<xcb_window_t, Steady::time_point>> nextMap(Steady::duration limit);
    void focus(xcb_window_t window);
    // Where the window's inside starts on the screen.
    QPoint origin(xcb_window_t window);
    // Each returns when the request that completes the action left for the server.
    Steady::time_point pressAltT();
    void releaseAltT();
    Steady::time_point click(QPoint onScreen);

private:
    xcb_keycode_t keycode(xcb_keysym_t keysym);
    void fake(uint8_t type, uint8_t detail, QPoint onScreen = {});

    QProcess m_xvfb;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
};

// A copy of a program in a folder of its own (with COM1 there linked to a far end, if any),
// started on an XServer; `command` is the program and its arguments.
class ProgramOnX
{
public:
    ProgramOnX(XServer &server, const QStringList &command, FarEnd *far = nullptr);
    ~ProgramOnX();

    // Starts the program and waits for its first window: the time from exec to its mapping.
    std::optional<double> startMilliseconds();
    // Confirms COM1 in the port window; the main window once the line is open.
    std::optional<xcb_window_t> openCom1();
    pid_t pid() const { return pid_t(m_process.processId()); }

private:
    XServer &m_server;
    FarEnd *m_far;
    QTemporaryDir m_dir;
    QString m_program;
    QStringList m_arguments;
    QProcess m_process;
    xcb_window_t m_firstWindow = 0;
};

// What one program costs through the X server: every figure for the table, in one place.
struct ThroughX
{
    double residentAtRest = NAN; // MB, VmRSS
    double idleShare = NAN;      // of a core: the program, and the X server beside it
    double idleServerShare = NAN;
    double trickleShare = NAN;
    double trickleServerShare = NAN;
    double peakAfterFlood = NAN; // MB, VmHWM after 16 MiB with CR LF
    std::vector<double> keyLatencies;
    std::vector<double> clickLatencies;
};

inline constexpr int startupRuns = 11;

// Exec to the first window mapped, in ms, for each command: `runs` rounds after one to warm
// the caches, the commands taking turns so that the machine's state weighs on each alike.
std::vector<std::vector<double>> startups(const QList<QStringList> &commands, int runs);
// The real program under Xvfb on COM1: at rest, idle, under a trickle, its keys and clicks, and
// after a flood.
ThroughX measureProgramThroughX(const QString &program);
// VmRSS a second after the first window mapped, with nothing to do.
double residentAtStart(const QString &program);
