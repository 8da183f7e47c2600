#include "farend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_devicePath = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    for (const QString &link : std::as_const(m_links))
        QFile::remove(link);
    if (m_master >= 0)
        ::close(m_master);
    ::close(m_slave);
}

void Pty::linkAs(const QString &dir, int number)
{
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(number));
    QFile::remove(link);
    if (!QFile::link(m_devicePath, link))
        throw std::runtime_error("cannot make the COM link");
    m_links.append(link);
}

QByteArray Pty::drain()
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = m_master >= 0 ? ::read(m_master, buffer, sizeof buffer) : -1;
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

QByteArray Pty::read(qsizetype count, std::chrono::milliseconds timeout)
{
    QByteArray bytes;
    waitUntil(
        [&] {
            bytes.append(drain());
            return bytes.size() >= count;
        },
        timeout);
    return bytes;
}

QByteArray Pty::readWithExtras(qsizetype count)
{
    const QByteArray expected = read(count);
    return expected + readAll();
}

QByteArray Pty::readAll(std::chrono::milliseconds quiet)
{
    QByteArray bytes;
    const QDeadlineTimer deadline(quiet);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        bytes.append(drain());
        QThread::msleep(1);
    }
    return bytes + drain();
}

bool Pty::inRawMode() const
{
    termios attributes{};
    return ::tcgetattr(m_slave, &attributes) == 0 && !(attributes.c_lflag & (ICANON | ECHO));
}

bool Pty::waitForRawMode(std::chrono::milliseconds timeout)
{
    return waitUntil([this] { return inRawMode(); }, timeout);
}

void Pty::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (errno == EAGAIN)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        else
            throw std::runtime_error("write to the pseudo-terminal failed");
    }
}

int Pty::baudRate() const
{
    termios attributes{};
    ::tcgetattr(m_slave, &attributes);
    switch (cfgetospeed(&attributes)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return -1;
    }
}

bool Pty::is8N1() const
{
    termios attributes{};
    ::tcgetattr(m_slave, &attributes);
    return (attributes.c_cflag & CSIZE) == CS8 && !(attributes.c_cflag & PARENB) && !(attributes.c_cflag & CSTOPB);
}

void Pty::hangUp()
{
    ::close(m_master);
    m_master = -1;
}

PacedReader::PacedReader(int fd, int bytesPerSecond)
    : m_fd(fd), m_thread([this, fd, bytesPerSecond] {
          // Never more than the line has carried since the start, so that a late wake-up
          // catches up as a line would, and never less.
          const auto start = std::chrono::steady_clock::now();
          qint64 taken = 0;
          QByteArray chunk(std::max(1, bytesPerSecond), Qt::Uninitialized);
          while (!m_stop) {
              const auto carried =
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * bytesPerSecond;
              const qint64 room = std::min<qint64>(qint64(carried) - taken, chunk.size());
              const ssize_t n = room > 0 ? ::read(fd, chunk.data(), size_t(room)) : 0;
              // A line that ran dry carried nothing meanwhile: it does not catch up later.
              taken = n < room ? qint64(carried) : taken + n;
              if (n > 0) {
                  std::lock_guard lock(m_mutex);
                  m_bytes.append(chunk.constData(), n);
              }
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
      })
{
}

PacedReader::~PacedReader()
{
    finish();
}

QByteArray PacedReader::finish()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    char chunk[4096];
    for (ssize_t n; (n = ::read(m_fd, chunk, sizeof chunk)) > 0;)
        m_bytes.append(chunk, n);
    return m_bytes;
}

QByteArray PacedReader::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

QString hexDump(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

MessageBoxCatcher::MessageBoxCatcher()
{
    m_poll.setInterval(10);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            texts.append(box->text());
            titles.append(box->windowTitle());
            for (const QAbstractButton *button : box->buttons())
                buttonIcons += !button->icon().isNull();
            box->accept();
        }
    });
    m_poll.start();
}
