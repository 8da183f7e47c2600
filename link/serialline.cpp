#include "serialline.h"

#include "commerror.h"
#include "serialinsides.h"
#include "stopsignals.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr qsizetype moreAtOnce = 64 * 1024;
// A read smaller than this comes from a line that is not flooding.
constexpr qsizetype floodRead = 1024;
// A frame of the screen; at 2 Mbaud a tty's 4 KiB line buffer holds more than this.
constexpr int pauseMilliseconds = 16;

int openFailureNumber(QSerialPort::SerialPortError error, const QString &device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return commerror::PortNotFound;
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        // Qt reports a held lock and a denied device alike; only the latter lacks rights.
        if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0)
            return commerror::AccessDenied;
#else
        Q_UNUSED(device);
#endif
        return commerror::PortInUse;
    case QSerialPort::OpenError:
        return commerror::PortInUse;
    default:
        return commerror::PortNotFound;
    }
}

} // namespace

SerialLine::SerialLine(const LineSettings &settings) : m_settings(settings)
{
    m_pause.setSingleShot(true);
    m_pause.setTimerType(Qt::PreciseTimer);
    m_pause.setInterval(pauseMilliseconds);
    connect(&m_pause, &QTimer::timeout, this, &SerialLine::takePaused);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialLine::onError);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialLine::takeArrivals);
}

SerialLine::~SerialLine() = default;

std::unique_ptr<SerialLine> SerialLine::open(const QString &device, const LineSettings &settings)
{
#ifndef Q_OS_WIN
    // Windows port names are not files; there the open itself tells.
    if (!QFileInfo::exists(device))
        throw CommError(commerror::PortNotFound);
#endif
    std::unique_ptr<SerialLine> line(new SerialLine(settings));
    QSerialPort &port = line->m_port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadWrite))
        throw CommError(openFailureNumber(port.error(), device));
    const bool applied = port.setBaudRate(settings.baudRate) && port.setParity(settings.parity)
                         && port.setDataBits(settings.dataBits) && port.setStopBits(settings.stopBits)
                         && port.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied)
        throw CommError(commerror::SettingsRefused);
    line->m_readNotifier = serialinsides::readNotifier(port);
    return line;
}

bool SerialLine::isReady() const
{
    return m_port.isOpen();
}

void SerialLine::write(QByteArrayView bytes)
{
    if (!m_port.isOpen() || m_port.write(bytes.data(), bytes.size()) != bytes.size())
        throw CommError(commerror::PortNotOpen);
    // Hand the driver what it takes now rather than at the next turn of the event loop; the
    // rest follows whenever the line has room.
    m_port.flush();
}

QByteArray SerialLine::takeReceived()
{
    return std::exchange(m_arrived, {}) + portBuffered();
}

qint64 SerialLine::notOut() const
{
    return m_port.bytesToWrite() + serialinsides::driverQueue(m_port);
}

std::chrono::milliseconds SerialLine::timeToLeave() const
{
    return m_settings.timeFor(notOut());
}

bool SerialLine::writeOutNow(QDeadlineTimer deadline)
{
    // In slices, so that a signal ends the wait.
    while (m_port.bytesToWrite() > 0 && !deadline.hasExpired() && !stopsignals::arrivedSinceArmed()) {
        const int slice = int(std::min<qint64>(deadline.remainingTime(), 100));
        if (!m_port.waitForBytesWritten(slice) && m_port.error() != QSerialPort::TimeoutError)
            break;
    }
    return m_port.bytesToWrite() == 0;
}

void SerialLine::close()
{
    m_pause.stop();
    m_readNotifier.clear();
    m_port.close();
}

bool SerialLine::isDeviceGone(QSerialPort::SerialPortError error) const
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return false;
#ifdef Q_OS_UNIX
    // Qt reports a full output buffer (EAGAIN) as a resource or write error; a device that
    // has really gone shows as a hang-up.
    return error == QSerialPort::ReadError || serialinsides::hungUp(m_port);
#else
    return error != QSerialPort::WriteError;
#endif
}

void SerialLine::onError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen() || !isDeviceGone(error))
        return;
    // Left open, the port repeats the error without end and pins a core.
    m_arrived += portBuffered();
    const qint64 unsent = m_port.bytesToWrite();
    close();
    emit lost(unsent);
}

void SerialLine::takeArrivals()
{
    // A line that delivers a little at a time is read once a frame rather than on each arrival:
    // a trickle then wakes the program a few dozen times a second instead of once a line.
    if (takeAvailable() && m_port.isOpen() && m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_pause.start();
    }
}

bool SerialLine::takeAvailable()
{
    const qsizetype before = m_arrived.size();
    m_arrived += portBuffered();
    const bool emptied = readRest();
    const qsizetype taken = m_arrived.size() - before;
    if (taken > 0)
        emit dataReady();
    return emptied && taken > 0 && taken < floodRead;
}

bool SerialLine::readRest()
{
    // A tty hands over at most a few KiB a read; taking what follows at once spares the event
    // loop a turn for each of them in a flood. Runs only in the port's readyRead or while paused.
    char chunk[16 * 1024];
    while (m_arrived.size() < moreAtOnce) {
        const qint64 n = serialinsides::readPast(m_port, chunk, sizeof chunk);
        // Errors stay for the port's own read to report.
        if (n <= 0)
            return n == 0;
        m_arrived.append(chunk, n);
        if (n < floodRead)
            return true; // a trickle: another read would find nothing
    }
    return false;
}

void SerialLine::takePaused()
{
    if (!m_port.isOpen() || !m_readNotifier)
        return;
    const bool trickle = takeAvailable();
    if (!m_port.isOpen() || !m_readNotifier)
        return;
    // Quiet, flooding or failing, the port reads on its own again.
    if (trickle)
        m_pause.start();
    else
        m_readNotifier->setEnabled(true);
}

QByteArray SerialLine::portBuffered()
{
    if (!m_port.isOpen())
        return {};
    // readAll() allocates a whole read chunk each time, even for nothing; in a trickle that
    // churn of fresh heap pages costs more than the bytes.
    const qint64 buffered = m_port.bytesAvailable();
    return buffered > 0 ? m_port.read(buffered) : QByteArray();
}
