#include "simline.h"

#include "codepage.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
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

    // Holding the slave keeps the device's exclusive mode past its user's last close, which
    // on a real device clears it; a killed program would leave the line busy for good.
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && ::inotify_add_watch(m_watch, name, IN_CLOSE) >= 0) {
        auto *closes = new QSocketNotifier(m_watch, QSocketNotifier::Read, this);
        connect(closes, &QSocketNotifier::activated, this, &SimLine::onClosed);
    }
}

SimLine::~SimLine()
{
    ::close(m_master);
    ::close(m_slave);
    if (m_watch >= 0)
        ::close(m_watch);
}

QString SimLine::processPath() const
{
    return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_slave);
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

void SimLine::onClosed()
{
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    while (::read(m_watch, buffer, sizeof buffer) > 0)
        closed = true;
    // The kernel merges a close into one still unread before it, so closes cannot be counted:
    // the holders are looked up instead.
    if (closed)
        clearExclusiveUnlessHeld(m_slave, [this] { return heldElsewhere(); });
}

void clearExclusiveUnlessHeld(int fd, const std::function<bool()> &heldElsewhere)
{
    if (heldElsewhere())
        return;
    ::ioctl(fd, TIOCNXCL);
    // The kernel has no "clear unless shared": an opener that came meanwhile is there now.
    if (heldElsewhere())
        ::ioctl(fd, TIOCEXCL);
}

bool SimLine::heldElsewhere() const
{
    const QString own = QString::number(::getpid());
    const QDir processes(QStringLiteral("/proc"));
    for (const QString &process : processes.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (process == own || !process.front().isDigit())
            continue;
        const QDir descriptors(processes.filePath(process) + QStringLiteral("/fd"));
        for (const QFileInfo &descriptor : descriptors.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (descriptor.symLinkTarget() == m_devicePath)
                return true;
        }
    }
    return false;
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
    m_output += bytes;
    flushOutput();
    QString note;
    if (const qsizetype over = m_output.size() - maxHeld; over > 0) {
        m_output.remove(0, over);
        m_dropped += over;
        note = QStringLiteral("unread: %1 older bytes dropped, %2 in all").arg(over).arg(m_dropped);
    }
    log("->", bytes, note);
}

void SimLine::sendTyped(const QByteArray &line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(line);
    send((utf8.hasError() ? line : codepage::fromUnicode(text)) + "\r\n");
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
    m_log << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << direction << ' ' << bytes.toHex(' ');
    if (!note.isEmpty())
        m_log << "  " << note;
    m_log << '\n';
    m_log.flush();
}

QByteArrayList TypedLines::feed(QByteArrayView bytes)
{
    m_typed += bytes;
    QByteArrayList lines;
    for (qsizetype end; (end = m_typed.indexOf('\n')) >= 0;) {
        QByteArray one = m_typed.left(end);
        m_typed.remove(0, end + 1);
        if (one.endsWith('\r'))
            one.chop(1);
        if (!one.trimmed().isEmpty())
            lines << one;
    }
    if (const qsizetype over = m_typed.size() - SimLine::maxHeld; over > 0) {
        m_typed.remove(0, over);
        m_dropped += over;
    }
    return lines;
}
