#include "receivepoll.h"

#include "commport.h"

#include <QTimer>

ReceivePoll::ReceivePoll(CommPort &port, QObject *parent) : QObject(parent), m_port(port)
{
    connect(&m_port, &CommPort::dataReady, this, &ReceivePoll::tick);
}

void ReceivePoll::setEnabled(bool enabled)
{
    const bool arming = !m_enabled && enabled;
    m_enabled = enabled;
    if (arming)
        QTimer::singleShot(0, this, &ReceivePoll::tick);
}

void ReceivePoll::tick()
{
    if (!m_enabled)
        return;
    const QByteArray bytes = m_port.input();
    if (!bytes.isEmpty())
        emit received(bytes);
}
