#include "portdrain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#endif

using namespace std::chrono_literals;

namespace {

// A few characters' worth is noticed at once; a poll this slow costs nothing.
constexpr auto checkInterval = 10ms;
constexpr auto adapterMargin = 2s;

QList<PortDrain *> &drains()
{
    // Never destroyed: an exit handler may still need it after static destruction began.
    static auto *all = new QList<PortDrain *>;
    return *all;
}

QEventLoop *waitingLoop = nullptr;

} // namespace

std::chrono::milliseconds lineTime(qint64 bytes, qint32 baudRate)
{
    const qint64 bytesPerSecond = std::max<qint64>(1, baudRate / 10);
    return std::chrono::milliseconds(bytes * 1000 / bytesPerSecond) + adapterMargin;
}

qint64 bytesOnTheWay(const QSerialPort &port)
{
    qint64 inDriver = 0;
#ifdef Q_OS_UNIX
    int queued = 0;
    if (port.handle() >= 0 && ::ioctl(port.handle(), TIOCOUTQ, &queued) == 0)
        inDriver = queued;
#endif
    return port.bytesToWrite() + inDriver;
}

bool isDeviceGone(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return false;
#ifdef Q_OS_UNIX
    // Qt reports a full output buffer (EAGAIN) as a resource or write error; a device that
    // has really gone shows as a hang-up.
    if (error != QSerialPort::ReadError) {
        pollfd device = {int(port.handle()), POLLOUT, 0};
        return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return true;
#else
    Q_UNUSED(port);
    return error != QSerialPort::WriteError;
#endif
}

PortDrain::PortDrain(std::unique_ptr<QSerialPort> port, std::chrono::milliseconds limit)
    : m_port(std::move(port)), m_deadline(std::chrono::steady_clock::now() + limit)
{
    m_port->disconnect();
    // Only a device that is gone ends the drain early; a full line just makes it wait.
    connect(m_port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (isDeviceGone(*m_port, error))
            finish();
    });
    connect(&m_check, &QTimer::timeout, this, &PortDrain::check);
    m_check.start(checkInterval);
}

void PortDrain::start(std::unique_ptr<QSerialPort> port, std::chrono::milliseconds limit)
{
    drains().append(new PortDrain(std::move(port), limit));
}

void PortDrain::check()
{
    if (bytesOnTheWay(*m_port) == 0 || std::chrono::steady_clock::now() >= m_deadline)
        finish();
}

void PortDrain::finish()
{
    if (!drains().removeOne(this))
        return;
    m_check.stop();
    m_port->close();
    deleteLater();
    if (drains().isEmpty() && waitingLoop)
        waitingLoop->quit();
}

void PortDrain::waitForAll()
{
    if (drains().isEmpty())
        return;
    QEventLoop loop;
    waitingLoop = &loop;
    loop.exec();
    waitingLoop = nullptr;
    // Finished drains delete themselves later; after the program's last loop, later is now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void PortDrain::closeAll(bool writeOutFirst)
{
    const QList<PortDrain *> all = drains();
    for (PortDrain *drain : all) {
        if (writeOutFirst)
            writeOutNow(*drain->m_port, QDeadlineTimer(drain->m_deadline));
        drain->finish();
    }
}

void writeOutNow(QSerialPort &port, QDeadlineTimer deadline)
{
    while (port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!port.waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
}
