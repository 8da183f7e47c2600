#include "commport.h"

#include "comname.h"
#include "networkline.h"
#include "portdrain.h"
#include "portmap.h"
#include "serialinsides.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QList>
#include <QMutex>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

constexpr qsizetype moreAtOnce = 64 * 1024;
// A read smaller than this comes from a line that is not flooding.
constexpr qsizetype floodRead = 1024;
// A frame of the screen; at 2 Mbaud a tty's 4 KiB line buffer holds more than this.
constexpr int pauseMilliseconds = 16;

// The ports open at this moment, for a process that ends without closing its windows.
// A command line opens several at once, each in a thread of its own.
class OpenPorts
{
public:
    void append(CommPort *port)
    {
        QMutexLocker lock(&m_mutex);
        m_ports.append(port);
    }
    void removeOne(CommPort *port)
    {
        QMutexLocker lock(&m_mutex);
        m_ports.removeOne(port);
    }
    QList<CommPort *> all() const
    {
        QMutexLocker lock(&m_mutex);
        return m_ports;
    }

private:
    mutable QMutex m_mutex;
    QList<CommPort *> m_ports;
};

OpenPorts &openPorts()
{
    // Never destroyed: an exit handler may still need it after static destruction began.
    static auto *all = new OpenPorts;
    return *all;
}

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
    makePort();
    m_watch.setInterval(std::chrono::seconds(1));
    m_pause.setSingleShot(true);
    m_pause.setTimerType(Qt::PreciseTimer);
    m_pause.setInterval(pauseMilliseconds);
    connect(&m_pause, &QTimer::timeout, this, &CommPort::takePaused);
    connect(&m_watch, &QTimer::timeout, this, &CommPort::reopenWhenBack);
}

CommPort::~CommPort()
{
    if (portOpen())
        close();
}

bool CommPort::portOpen() const
{
    return m_network || m_port->isOpen();
}

bool CommPort::connecting() const
{
    return m_network && !m_networkUp;
}

void CommPort::makePort()
{
    m_port = std::make_unique<QSerialPort>();
    connect(m_port.get(), &QSerialPort::errorOccurred, this, &CommPort::onError);
    connect(m_port.get(), &QSerialPort::readyRead, this, [this, port = m_port.get()] {
        if (port == m_port.get())
            takeArrivals();
    });
}

void CommPort::takeArrivals()
{
    // A line that delivers a little at a time is read once a frame rather than on each arrival:
    // a trickle then wakes the program a few dozen times a second instead of once a line.
    if (takeAvailable() && m_port->isOpen() && m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_pause.start();
    }
}

bool CommPort::takeAvailable()
{
    const qsizetype before = m_arrived.size();
    m_arrived += portBuffered();
    const bool emptied = readRest();
    const qsizetype taken = m_arrived.size() - before;
    if (taken > 0)
        emit dataReady();
    return emptied && taken > 0 && taken < floodRead;
}

bool CommPort::readRest()
{
    // A tty hands over at most a few KiB a read; taking what follows at once spares the event
    // loop a turn for each of them in a flood. Runs only in the port's readyRead or while paused.
    char chunk[16 * 1024];
    while (m_arrived.size() < moreAtOnce) {
        const qint64 n = serialinsides::readPast(*m_port, chunk, sizeof chunk);
        // Errors stay for the port's own read to report.
        if (n <= 0)
            return n == 0;
        m_arrived.append(chunk, n);
        if (n < floodRead)
            return true; // a trickle: another read would find nothing
    }
    return false;
}

void CommPort::takePaused()
{
    if (!m_port->isOpen() || !m_readNotifier)
        return;
    const bool trickle = takeAvailable();
    if (!m_port->isOpen() || !m_readNotifier)
        return;
    // Quiet, flooding or failing, the port reads on its own again.
    if (trickle)
        m_pause.start();
    else
        m_readNotifier->setEnabled(true);
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
    if (portOpen())
        throw CommError(commerror::PortInUse);
    m_watch.stop();
    m_commPort = portNumber;
    m_route.clear();
}

void CommPort::setRoute(const QString &route)
{
    if (portOpen())
        throw CommError(commerror::PortInUse);
    m_watch.stop();
    m_route = route;
}

void CommPort::setPortOpen(bool open)
{
    if (!open)
        m_watch.stop();
    if (open == portOpen()) {
        if (open)
            throw CommError(commerror::PortInUse);
        return;
    }
    if (open)
        this->open();
    else
        close();
}

void CommPort::open()
{
    const ComResolution com = resolution();
    if (portmap::isNetworkUrl(com.device)) {
        openNetwork(com.device, false);
        m_openedVia = com.name;
        return;
    }
    const QString &device = com.device;
#ifndef Q_OS_WIN
    // Windows port names are not files; there the open itself tells.
    if (!QFileInfo::exists(device))
        throw CommError(commerror::PortNotFound);
#endif
    m_port->setPortName(device);
    m_arrived.clear();
    if (!m_port->open(QIODevice::ReadWrite))
        throw CommError(openFailureNumber(m_port->error(), device));
    const bool applied = m_port->setBaudRate(m_line.baudRate) && m_port->setParity(m_line.parity)
                         && m_port->setDataBits(m_line.dataBits) && m_port->setStopBits(m_line.stopBits)
                         && m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!applied) {
        m_port->close();
        throw CommError(commerror::SettingsRefused);
    }
    openPorts().append(this);
    m_readNotifier = serialinsides::readNotifier(*m_port);
    m_openedVia = com.name;
    m_watch.stop();
}

ComResolution CommPort::resolution() const
{
    return m_route.isEmpty() ? resolveCom(m_commPort, m_programDir) : ComResolution{m_route, m_route};
}

void CommPort::openNetwork(const QString &url, bool reconnecting)
{
    const auto target = portmap::parseNetworkTarget(url);
    if (!target)
        throw CommError(commerror::PortNotFound);
    m_arrived.clear();
    m_network = new NetworkLine(*target, m_line, this);
    m_networkUp = false;
    connect(m_network, &NetworkLine::connected, this, [this, reconnecting] {
        m_networkUp = true;
        m_watch.stop();
        if (reconnecting)
            emit deviceBack();
        else
            emit opened();
    });
    connect(m_network, &NetworkLine::failed, this, [this, reconnecting](int number) {
        dropNetwork();
        // The watch tries again on its next tick.
        if (!reconnecting)
            emit openFailed(number);
    });
    connect(m_network, &NetworkLine::dataReady, this, &CommPort::dataReady);
    connect(m_network, &NetworkLine::lost, this, [this](qint64 unsent) {
        m_arrived += m_network->takeReceived();
        if (!m_arrived.isEmpty())
            emit dataReady();
        dropNetwork();
        m_watch.start();
        emit deviceLost(unsent);
    });
    m_network->start(m_connectTimeout);
    openPorts().append(this);
}

void CommPort::dropNetwork()
{
    openPorts().removeOne(this);
    NetworkLine *line = std::exchange(m_network, nullptr);
    line->disconnect(this);
    line->close();
    // Its own signal may be running.
    line->deleteLater();
}

void CommPort::close()
{
    if (m_network) {
        m_arrived.clear();
        if (m_network->allOut()) {
            dropNetwork();
            return;
        }
        openPorts().removeOne(this);
        NetworkLine *line = std::exchange(m_network, nullptr);
        line->disconnect(this);
        line->setParent(nullptr);
        const auto limit = line->timeToLeave() + drainMargin;
        PortDrain::start(std::unique_ptr<NetworkLine>(line), limit);
        return;
    }
    openPorts().removeOne(this);
    m_pause.stop();
    m_readNotifier.clear();
    m_arrived.clear();
    const qint64 onTheWay = bytesOnTheWay(*m_port);
    if (onTheWay == 0) {
        m_port->close();
        return;
    }
    // The port (and its lock) goes with the drain; this component starts again with a fresh one.
    PortDrain::start(std::exchange(m_port, nullptr), lineTime(onTheWay, m_line.baudRate));
    makePort();
}

void CommPort::closeAllNow()
{
    armExitSignals();
    const QList<CommPort *> ports = openPorts().all();
    for (CommPort *port : ports) {
        openPorts().removeOne(port);
        if (NetworkLine *line = port->m_network) {
            line->writeOutNow(QDeadlineTimer(line->timeToLeave() + drainMargin));
            line->close();
            continue;
        }
        writeOutNow(*port->m_port, QDeadlineTimer(lineTime(bytesOnTheWay(*port->m_port), port->m_line.baudRate)));
        port->m_port->close();
    }
    PortDrain::closeAll(true);
}

void CommPort::output(QByteArrayView bytes)
{
    if (m_network) {
        // Held for a connection still being made, a command would reach the terminal
        // seconds later or vanish with a failed attempt.
        if (!m_networkUp)
            throw CommError(commerror::PortNotOpen);
        m_network->write(bytes);
        return;
    }
    if (!m_port->isOpen())
        throw CommError(commerror::PortNotOpen);
    if (m_port->write(bytes.data(), bytes.size()) != bytes.size())
        throw CommError(commerror::PortNotOpen);
    // Hand the driver what it takes now rather than at the next turn of the event loop; the
    // rest follows whenever the line has room.
    m_port->flush();
}

QByteArray CommPort::input()
{
    if (m_network)
        return std::exchange(m_arrived, {}) + m_network->takeReceived();
    if (!m_port->isOpen())
        return {};
    return std::exchange(m_arrived, {}) + portBuffered();
}

QByteArray CommPort::portBuffered()
{
    // readAll() allocates a whole read chunk each time, even for nothing; in a trickle that
    // churn of fresh heap pages costs more than the bytes.
    const qint64 buffered = m_port->bytesAvailable();
    return buffered > 0 ? m_port->read(buffered) : QByteArray();
}

void CommPort::onError(QSerialPort::SerialPortError error)
{
    if (!m_port->isOpen())
        return;
    if (!isDeviceGone(*m_port, error))
        return;
    // Left open, the port repeats the error without end and pins a core.
    if (!m_arrived.isEmpty() || m_port->bytesAvailable() > 0)
        emit dataReady();
    const qint64 unsent = m_port->bytesToWrite();
    openPorts().removeOne(this);
    m_pause.stop();
    m_readNotifier.clear();
    m_port->close();
    m_watch.start();
    emit deviceLost(unsent);
}

void CommPort::reopenWhenBack()
{
    if (m_network)
        return; // still trying the last tick's connection
    // Another way to COMn (an on-board port left once a udev link went) is another device.
    const ComResolution com = resolution();
    if (com.name != m_openedVia)
        return;
    if (portmap::isNetworkUrl(com.device)) {
        openNetwork(com.device, true);
        return;
    }
#ifndef Q_OS_WIN
    if (!QFileInfo::exists(com.device))
        return;
#endif
    try {
        open();
    } catch (const CommError &) {
        return; // not ready yet (udev still setting its rights, say): the next tick tries again
    }
    emit deviceBack();
}
