#include "portlink.h"

#include "settingsfile.h"

#include <QTimer>

PortLink::PortLink(QString programDir, QObject *parent) : QObject(parent), m_programDir(programDir), m_port(programDir)
{
    connect(&m_port, &CommPort::dataReady, this, &PortLink::takeReceived);
}

void PortLink::setReceiving(bool receiving)
{
    const bool switchingOn = !m_receiving && receiving;
    m_receiving = receiving;
    // What arrived meanwhile comes at the next turn, after the caller's own writes.
    if (switchingOn)
        QTimer::singleShot(0, this, &PortLink::takeReceived);
}

void PortLink::takeReceived()
{
    if (!m_receiving)
        return;
    const QByteArray bytes = m_port.input();
    if (!bytes.isEmpty())
        emit received(bytes);
}

QString PortLink::readBaudRateText() const
{
    return settingsfile::readBaudRateText(settingsfile::locate(m_programDir));
}

void PortLink::open(const QString &baudRateText, quint8 selectedPort)
{
    m_port.setSettings(baudRateText + QStringLiteral(",n,8,1"));
    m_port.setCommPort(selectedPort);
    m_port.openPort();
    setReceiving(true);
}

void PortLink::open(const QString &baudRateText, const QString &route)
{
    m_port.setSettings(baudRateText + QStringLiteral(",n,8,1"));
    m_port.setRoute(route);
    m_port.openPort();
    setReceiving(true);
}

void PortLink::close()
{
    setReceiving(false);
    // Also for a port that was lost: its watch for the device's return ends here.
    m_port.closePort();
}

void PortLink::send(QByteArrayView bytes)
{
    m_port.output(bytes);
}

void PortLink::sendAll(const QList<QByteArray> &writes)
{
    for (const QByteArray &write : writes)
        send(write);
}
