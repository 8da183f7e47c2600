#include "commport.h"

#include "comname.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <chrono>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

// What is queued when the port closes still reaches the line, but a stuck line cannot hang the close.
constexpr auto flushLimit = 1s;
constexpr int highestPortNumber = 255;

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

CommPort::CommPort(QString programDir, QObject *parent)
    : QObject(parent), m_programDir(std::move(programDir))
{
    connect(&m_port, &QSerialPort::errorOccurred, this, &CommPort::onError);
    connect(&m_port, &QSerialPort::readyRead, this, &CommPort::dataReady);
}

CommPort::~CommPort()
{
    if (m_port.isOpen())
        closeFlushed();
}

void CommPort::setSettings(const QString &settings)
{
    const auto line = parseLineSettings(settings);
    if (!line)
        throw CommError(commerror::InvalidSettings);
    m_settings = settings;
    m_line = *line;
}

void CommPort::setCommPort(int portNumber)
{
    if (portNumber < 1 || portNumber > highestPortNumber)
        throw CommError(commerror::PortNotFound);
    if (m_port.isOpen())
        throw CommError(commerror::PortInUse);
    m_commPort = portNumber;
}

void CommPort::setPortOpen(bool open)
{
    if (open == m_port.isOpen()) {
        if (open)
            throw CommError(commerror::PortInUse);
        return;
    }
    if (open)
        this->open();
    else
        closeFlushed();
}

void CommPort::open()
{
    const QString device = comDevicePath(m_commPort, m_programDir);
#ifndef Q_OS_WIN
    // Windows port names are not files; there the open itself tells.
    if (!QFileInfo::exists(device))
        throw CommError(commerror::PortNotFound);
#endif
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite))
        throw CommError(openFailureNumber(m_port.error(), device));
    const bool applied = m_port.setBaudRate(m_line.baudRate) && m_port.setParity(m_line.parity)
                         && m_port.setDataBits(m_line.dataBits) && m_port.setStopBits(m_line.stopBits)
                         && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        m_port.close();
        throw CommError(commerror::SettingsRefused);
    }
}

void CommPort::closeFlushed()
{
    const QDeadlineTimer deadline(flushLimit);
    while (m_port.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!m_port.waitForBytesWritten(int(deadline.remainingTime())))
            break;
    }
    m_port.close();
}

void CommPort::output(QByteArrayView bytes)
{
    if (!m_port.isOpen())
        throw CommError(commerror::PortNotOpen);
    if (m_port.write(bytes.data(), bytes.size()) != bytes.size())
        throw CommError(commerror::PortNotOpen);
    // Hand the bytes to the driver now rather than at the next turn of the event loop.
    m_port.flush();
}

QByteArray CommPort::input()
{
    if (!m_port.isOpen())
        return {};
    return m_port.readAll();
}

void CommPort::onError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError)
        return;
    // Left open, the port repeats the error without end and pins a core.
    if (m_port.bytesAvailable() > 0)
        emit dataReady();
    m_port.close();
    emit deviceLost();
}
