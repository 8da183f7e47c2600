#include "simline.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// The writes of one command follow each other within milliseconds; a pause this long ends
// a frame that has no end of its own.
constexpr auto quietGap = 50ms;
} // namespace

SimLine::SimLine(QTextStream &log, QObject *parent) : QObject(parent), m_log(log)
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("no pseudo-terminal to be had");
    // Raw from the start, so the program's bytes arrive unchanged even before it sets the line.
    termios attributes{};
    ::tcgetattr(m_slave, &attributes);
    ::cfmakeraw(&attributes);
    ::tcsetattr(m_slave, TCSANOW, &attributes);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // The slave stays open here too, so the line outlives each program that opens and closes it.
    m_devicePath = QString::fromLocal8Bit(name);

    m_readable = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &SimLine::onReadable);
    m_writable = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &SimLine::flushOutput);
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietGap);
    connect(&m_quiet, &QTimer::timeout, this, &SimLine::onQuiet);
}

SimLine::~SimLine()
{
    ::close(m_master);
    ::close(m_slave);
}

void SimLine::onReadable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        handle(m_reader.feed(QByteArrayView(buffer, n)));
    }
    if (m_reader.waiting())
        m_quiet.start();
}

void SimLine::onQuiet()
{
    handle(m_reader.quiet());
}

void SimLine::handle(const QList<QByteArray> &frames)
{
    for (const QByteArray &frame : frames) {
        const SimTerminal::Reply reply = m_terminal.handle(frame, QDateTime::currentDateTime());
        log("<-", frame, reply.note);
        if (!reply.answer.isEmpty())
            send(reply.answer);
    }
}

void SimLine::send(const QByteArray &bytes)
{
    log("->", bytes);
    m_output += bytes;
    flushOutput();
}

void SimLine::flushOutput()
{
    while (!m_output.isEmpty()) {
        const ssize_t n = ::write(m_master, m_output.constData(), size_t(m_output.size()));
        if (n <= 0)
            break;
        m_output.remove(0, n);
    }
    // A program that reads nothing fills the line; the rest waits until it has room.
    m_writable->setEnabled(!m_output.isEmpty());
}

void SimLine::log(const char *direction, const QByteArray &bytes, const QString &note)
{
    m_log << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << direction << ' '
          << bytes.toHex(' ');
    if (!note.isEmpty())
        m_log << "  " << note;
    m_log << '\n';
    m_log.flush();
}
