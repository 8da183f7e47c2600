#include "receivepoll.h"

#include "commport.h"

#include <QTimer>

ReceivePoll::ReceivePoll(CommPort &port, QObject *parent) : QObject(parent), m_port(port)
{
    connect(&m_port, &CommPort::dataReady, this, &ReceivePoll::tick);
}

void ReceivePoll::setInterval(int milliseconds)
{
    const bool arming = m_interval == 0 && milliseconds > 0;
    m_interval = milliseconds;
    // Whatever arrived while stopped is taken on the first tick after arming.
    if (arming)
        QTimer::singleShot(0, this, &ReceivePoll::tick);
}

void ReceivePoll::tick()
{
    if (m_interval == 0)
        return;
    const QByteArray bytes = m_port.input();
    if (!bytes.isEmpty())
        emit received(bytes);
}
