#include "portlink.h"

#include "settingsfile.h"


PortLink::PortLink(QString programDir, QObject *parent)
    : QObject(parent), m_programDir(programDir), m_port(programDir), m_poll(m_port)
{
    connect(&m_poll, &ReceivePoll::received, this, &PortLink::received);
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
    m_poll.setEnabled(true);
}

void PortLink::open(const QString &baudRateText, const QString &route)
{
    m_port.setSettings(baudRateText + QStringLiteral(",n,8,1"));
    m_port.setRoute(route);
    m_port.openPort();
    m_poll.setEnabled(true);
}

void PortLink::close()
{
    m_poll.setEnabled(false);
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
