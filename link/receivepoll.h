#pragma once

#include <QByteArray>
#include <QObject>

class CommPort;

// The receive poll, the design's timer whose interval 0 or 1 ms turns it off or on. While on,
// it takes what the port has received as soon as the port says data is ready, rather than
// waking every millisecond to find nothing.
class ReceivePoll : public QObject
{
    Q_OBJECT

public:
    explicit ReceivePoll(CommPort &port, QObject *parent = nullptr);

    // Enabling also takes whatever arrived while it was off.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

signals:
    void received(const QByteArray &bytes);

private:
    void tick();

    CommPort &m_port;
    bool m_enabled = false;
};
