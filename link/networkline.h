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
    // The connection has taken every byte, and the server has had the line's time for them:
    // a server that sees the connection end drops what it has not passed on yet (ser2net does).
    bool allOut() const;
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
    // The connection broke; `unsent` queued bytes never reached it.
    void lost(qint64 unsent);

private:
    friend struct networkline_detail::Connection;

    std::shared_ptr<networkline_detail::Connection> m_connection;
    QTimer m_giveUp;
    std::chrono::nanoseconds m_byteTime;
    // When the server's line will have sent the last byte written, at our baud rate.
    std::chrono::steady_clock::time_point m_lineFreeAt;
};
