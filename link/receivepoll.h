#pragma once

#include <QByteArray>
#include <QObject>

class CommPort;

// The receive poll. Its interval is 0 (stopped) or 1 ms (armed); while armed it takes what
// the port has received as soon as the port says data is ready, rather than waking every
// millisecond to find nothing.
class ReceivePoll : public QObject
{
    Q_OBJECT

public:
    explicit ReceivePoll(CommPort &port, QObject *parent = nullptr);

    void setInterval(int milliseconds);
    int interval() const { return m_interval; }

signals:
    void received(const QByteArray &bytes);

private:
    void tick();

    CommPort &m_port;
    int m_interval = 0;
};
