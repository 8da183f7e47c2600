#include "commport.h"

#include "portdrain.h"
#include "stopsignals.h"

#include <QList>
#include <QMutex>

namespace {

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

} // namespace

CommPort::CommPort(QString programDir, QObject *parent) : QObject(parent), m_programDir(std::move(programDir))
{
    m_watch.setInterval(std::chrono::seconds(1));
    connect(&m_watch, &QTimer::timeout, this, &CommPort::reopenWhenBack);
}

CommPort::~CommPort()
{
    if (isOpen())
        close();
}

bool CommPort::isOpen() const
{
    return m_open != nullptr;
}

bool CommPort::connecting() const
{
    return m_open && !m_open->isReady();
}

void CommPort::setSettings(const QString &settings)
{
    const auto line = parseLineSettings(settings);
    if (!line)
        throw CommError(commerror::InvalidSettings);
    m_settings = settings;
    m_lineSettings = *line;
}

void CommPort::setCommPort(int portNumber)
{
    if (portNumber < 1 || portNumber > highestPortNumber)
        throw CommError(commerror::PortNotFound);
    if (isOpen())
        throw CommError(commerror::PortInUse);
    m_watch.stop();
    m_commPort = portNumber;
    m_route.clear();
}

void CommPort::setRoute(const QString &route)
{
    if (isOpen())
        throw CommError(commerror::PortInUse);
    m_watch.stop();
    m_route = route;
}

void CommPort::openPort()
{
    if (isOpen())
        throw CommError(commerror::PortInUse);
    open(false);
}

void CommPort::closePort()
{
    m_watch.stop();
    if (isOpen())
        close();
}

ComResolution CommPort::resolution() const
{
    return m_route.isEmpty() ? resolveCom(m_commPort, m_programDir) : ComResolution{m_route, m_route};
}

void CommPort::open(bool reopening)
{
    const ComResolution com = resolution();
    m_open = openLine(com.device, m_lineSettings, m_connectTimeout);
    m_arrived.clear();
    m_openedVia = com.name;
    openPorts().append(this);
    connect(m_open.get(), &Line::dataReady, this, &CommPort::dataReady);
    connect(m_open.get(), &Line::lost, this, &CommPort::onLost);
    connect(m_open.get(), &Line::connected, this, [this, reopening] {
        m_watch.stop();
        if (reopening)
            emit deviceBack();
        else
            emit opened();
    });
    connect(m_open.get(), &Line::failed, this, [this, reopening](int number) {
        dropLine();
        // The watch tries again on its next tick.
        if (!reopening)
            emit openFailed(number);
    });
    if (m_open->isReady()) {
        m_watch.stop();
        if (reopening)
            emit deviceBack();
    }
}

void CommPort::dropLine()
{
    openPorts().removeOne(this);
    Line *line = m_open.release();
    line->disconnect(this);
    line->close();
    // Its own signal may be running.
    line->deleteLater();
}

void CommPort::onLost(qint64 unsent)
{
    m_arrived += m_open->takeReceived();
    if (!m_arrived.isEmpty())
        emit dataReady();
    dropLine();
    m_watch.start();
    emit deviceLost(unsent);
}

void CommPort::close()
{
    m_arrived.clear();
    if (m_open->notOut() == 0) {
        dropLine();
        return;
    }
    openPorts().removeOne(this);
    m_open->disconnect(this);
    // The line (and its lock) goes with the drain; this component opens a fresh one next time.
    PortDrain::start(std::move(m_open));
}

void CommPort::closeAllNow()
{
    stopsignals::armForBlockingWaits();
    const QList<CommPort *> ports = openPorts().all();
    for (CommPort *port : ports) {
        openPorts().removeOne(port);
        std::unique_ptr<Line> line = std::move(port->m_open);
        line->writeOutNow(QDeadlineTimer(line->timeToLeave() + drainMargin));
        line->close();
    }
    PortDrain::closeAll(true);
}

void CommPort::output(QByteArrayView bytes)
{
    if (!m_open)
        throw CommError(commerror::PortNotOpen);
    m_open->write(bytes);
}

QByteArray CommPort::input()
{
    if (!m_open)
        return std::exchange(m_arrived, {});
    return std::exchange(m_arrived, {}) + m_open->takeReceived();
}

void CommPort::reopenWhenBack()
{
    if (m_open)
        return; // still trying the last tick's connection
    // Another way to COMn (an on-board port left once a udev link went) is another device.
    if (resolution().name != m_openedVia)
        return;
    try {
        open(true);
    } catch (const CommError &) {
        return; // not there or not ready yet (udev still setting its rights, say): the next tick tries again
    }
}
