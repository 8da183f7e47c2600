#pragma once

#include "linesettings.h"
#include "portmap.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

namespace networkline_detail {
struct Connection;
}

// A serial line behind a device server: RFC 2217 (the line's settings are set on the remote
// port) or raw TCP (the server's settings stand), through gensio, whose event loop runs on a
// thread of its own; this object lives in its owner's thread and hears of the connection by
// queued calls. Connecting never blocks: a name lookup and the connection run elsewhere, and
// their outcome arrives as connected() or failed(). Bytes written before the connection is
// up wait for it, in order.
class NetworkLine : public QObject
{
    Q_OBJECT

public:
    NetworkLine(const portmap::NetworkTarget &target, const LineSettings &line, QObject *parent = nullptr);
    // Ends the connection at once; what is still queued is dropped.
    ~NetworkLine() override;

    // Starts connecting; gives up with failed() after `timeout`.
    void start(std::chrono::milliseconds timeout);
    bool isConnected() const;

    void write(QByteArrayView bytes);
    QByteArray takeReceived();
    // Bytes written that the connection has not yet taken.
    qint64 queued() const;
    // Bytes the server's line may not have carried yet: those not taken, and those taken whose
    // line time, reckoned from when the connection took them, has not passed. A server that
    // sees the connection end drops what it has not passed on yet (ser2net does). After a
    // loss, what was not out at that moment.
    qint64 notOut() const;
    bool allOut() const;
    // How long the server's line needs for what is not out yet, at our baud rate.
    std::chrono::milliseconds timeToLeave() const;
    // Waits, blocked, until allOut() or `deadline`: for a process that will run no event loop
    // again. True when all is out.
    bool writeOutNow(QDeadlineTimer deadline);
    // Ends the connection now.
    void close();

signals:
    void connected();
    // A failure number of the serial control: the server is not there, or is busy.
    void failed(int number);
    void dataReady();
    // The connection broke; `unsent` bytes may never have reached the server's line.
    void lost(qint64 unsent);

private:
    friend struct networkline_detail::Connection;

    std::shared_ptr<networkline_detail::Connection> makeConnection();
    // The server could not be reached, or refused the connection or the line's settings.
    void refused(int number);
    void closeConnection();

    portmap::NetworkTarget m_target;
    LineSettings m_line;
    std::shared_ptr<networkline_detail::Connection> m_connection;
    QTimer m_giveUp;
    // What to report when the time is up: a server that kept saying it is in use is busy.
    int m_refusal = 0;
};
